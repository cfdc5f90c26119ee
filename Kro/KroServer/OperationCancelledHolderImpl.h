// OperationCancelledHolderImpl: an exception holder whose raise() throws, in the client,
// Krovane::OperationCancelled with the holder's message.
//
// Ownership and threads as for AsyncExceptionHolderImpl: created with new,
// owned by its servant reference count (the POA holds the last one once it
// is active), deleted after its deactivation; raise() from any ORB thread,
// without a lock.
#ifndef KROSERVER_OPERATIONCANCELLEDHOLDERIMPL_H
#define KROSERVER_OPERATIONCANCELLEDHOLDERIMPL_H

#include "KroServer/AsyncExceptionHolderImpl.h"

#include <string>

namespace Krovane
{
  class OperationCancelledHolderImpl : public AsyncExceptionHolderImpl
  {
  public:
    // An empty message.
    OperationCancelledHolderImpl();
    // The text of message as BoundedText keeps it.
    explicit OperationCancelledHolderImpl(const std::string& message);
    // Logs "Deleting OperationCancelledHolderImpl".
    virtual ~OperationCancelledHolderImpl();

    // Logs, then throws Krovane::OperationCancelled with the message.
    virtual void raise();

  private:
    std::string m_message;  // the exception's reason
  };
}

#endif
