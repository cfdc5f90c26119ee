// OperationsStillActiveHolderImpl: an exception holder whose raise() throws, in the client,
// Krovane::OperationsStillActive with the holder's message.
//
// Ownership and threads as for AsyncExceptionHolderImpl: created with new,
// owned by its servant reference count (the POA holds the last one once it
// is active), deleted after its deactivation; raise() from any ORB thread,
// without a lock.
#ifndef KROSERVER_OPERATIONSSTILLACTIVEHOLDERIMPL_H
#define KROSERVER_OPERATIONSSTILLACTIVEHOLDERIMPL_H

#include "KroServer/AsyncExceptionHolderImpl.h"

#include <string>

namespace Krovane
{
  class OperationsStillActiveHolderImpl : public AsyncExceptionHolderImpl
  {
  public:
    // An empty message.
    OperationsStillActiveHolderImpl();
    // The text of message as BoundedText keeps it.
    explicit OperationsStillActiveHolderImpl(const std::string& message);
    // Logs "Deleting OperationsStillActiveHolderImpl".
    virtual ~OperationsStillActiveHolderImpl();

    // Logs, then throws Krovane::OperationsStillActive with the message.
    virtual void raise();

  private:
    std::string m_message;  // the exception's reason
  };
}

#endif
