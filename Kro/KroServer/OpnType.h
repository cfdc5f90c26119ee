// OpnType: a thread's current operation, and threadLocalOperation, the
// store of one such record per thread.
//
// Written by the server interceptor for each request, by the client
// interceptor after each outgoing call, and by the thread pool for each
// operation it runs; read by SyncServerImpl::ServiceCancellation. The record
// owns nothing.
#ifndef KROSERVER_OPNTYPE_H
#define KROSERVER_OPNTYPE_H

#include <ace/TSS_T.h>

namespace Krovane
{
  class SynchronousOperation;

  struct OpnType
  {
    OpnType() : m_operation(nullptr) {}

    SynchronousOperation* m_operation;  // the operation the thread serves, or null
  };

  extern ACE_TSS<OpnType> threadLocalOperation;
}

#endif
