// Restartable: whether an operation's work may safely run again from its
// start, after the back end that ran it was lost or after a server restart.
#ifndef KROSERVER_RESTARTABLE_H
#define KROSERVER_RESTARTABLE_H

namespace Krovane
{
  enum class Restartable : bool
  {
    No = false,
    Yes = true
  };
}

#endif
