// SynchronousOperation: an operation invoked on a server object. The server
// interceptor makes one for each request; asynchronous operations derive
// from it.
#ifndef KROSERVER_SYNCHRONOUSOPERATION_H
#define KROSERVER_SYNCHRONOUSOPERATION_H

#include "KroServer/Operation.h"

#include <atomic>

namespace Krovane
{
  class SynchronousOperation : public Operation
  {
  public:
    // Keeps its own reference to target (nil stays nil).
    SynchronousOperation(CORBA::Object_ptr target, const char* name);
    virtual ~SynchronousOperation();

  protected:
    CORBA::Object_ptr m_target;  // the server object invoked; own reference

  private:
    friend class OperationHandles;
    std::atomic<unsigned int> m_callHandle;  // its handle in outgoing calls; 0 until it makes one
  };
}

#endif
