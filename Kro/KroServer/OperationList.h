// OperationList: the operations that run in a server object. Holds
// pointers only; the server object says who deletes the records.
#ifndef KROSERVER_OPERATIONLIST_H
#define KROSERVER_OPERATIONLIST_H

#include <list>

namespace Krovane
{
  class Operation;

  class OperationList : public std::list<Operation*>
  {
  };
}

#endif
