// InvalidOperationStateHolderImpl: an exception holder whose raise() throws, in the client,
// Krovane::InvalidOperationState with the holder's message.
//
// Ownership and threads as for AsyncExceptionHolderImpl: created with new,
// owned by its servant reference count (the POA holds the last one once it
// is active), deleted after its deactivation; raise() from any ORB thread,
// without a lock.
#ifndef KROSERVER_INVALIDOPERATIONSTATEHOLDERIMPL_H
#define KROSERVER_INVALIDOPERATIONSTATEHOLDERIMPL_H

#include "KroServer/AsyncExceptionHolderImpl.h"

#include <string>

namespace Krovane
{
  class InvalidOperationStateHolderImpl : public AsyncExceptionHolderImpl
  {
  public:
    // An empty message.
    InvalidOperationStateHolderImpl();
    // The text of message as BoundedText keeps it.
    explicit InvalidOperationStateHolderImpl(const std::string& message);
    // Logs "Deleting InvalidOperationStateHolderImpl".
    virtual ~InvalidOperationStateHolderImpl();

    // Logs, then throws Krovane::InvalidOperationState with the message.
    virtual void raise();

  private:
    std::string m_message;  // the exception's reason
  };
}

#endif
