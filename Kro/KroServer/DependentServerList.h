// DependentServerList: the dependent servers a process may use, in the
// order they are claimed. Holds pointers: copies share the entries, and the
// entries stay the application's when a list is destroyed.
#ifndef KROSERVER_DEPENDENTSERVERLIST_H
#define KROSERVER_DEPENDENTSERVERLIST_H

#include <list>

namespace Krovane
{
  class DependentServerEntry;

  class DependentServerList : public std::list<DependentServerEntry*>
  {
  };
}

#endif
