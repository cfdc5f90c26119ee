// AsynchronousOperationList: a list of asynchronous operations. Holds
// pointers only; the server object that keeps the list owns the operations.
#ifndef KROSERVER_ASYNCHRONOUSOPERATIONLIST_H
#define KROSERVER_ASYNCHRONOUSOPERATIONLIST_H

#include <list>

namespace Krovane
{
  class AsynchronousOperation;

  class AsynchronousOperationList : public std::list<AsynchronousOperation*>
  {
  };
}

#endif
