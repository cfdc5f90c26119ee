// OperationHandles: 32-bit handles that stand for operation records in the
// user-token service context, so that a 64-bit pointer is never truncated.
//
// A record gets a handle the first time it is sent and keeps it until it is
// deleted; a handle is never reused while its record lives. Thread-safe.
#ifndef KROSERVER_OPERATIONHANDLES_H
#define KROSERVER_OPERATIONHANDLES_H

namespace Krovane
{
  class SynchronousOperation;

  class OperationHandles
  {
  public:
    // The handle of operation (0 for null), given on first use.
    static unsigned int HandleOf(SynchronousOperation* operation);
    // The record with that handle, or null (0, unknown, or deleted since).
    static SynchronousOperation* OperationOf(unsigned int handle);
    // Drops operation's handle; called when the record is deleted.
    static void Forget(SynchronousOperation* operation);
  };
}

#endif
