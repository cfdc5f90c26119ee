// InvalidOperationIdHolderImpl: an exception holder whose raise() throws, in the client,
// Krovane::InvalidOperationId with the holder's message.
//
// Ownership and threads as for AsyncExceptionHolderImpl: created with new,
// owned by its servant reference count (the POA holds the last one once it
// is active), deleted after its deactivation; raise() from any ORB thread,
// without a lock.
#ifndef KROSERVER_INVALIDOPERATIONIDHOLDERIMPL_H
#define KROSERVER_INVALIDOPERATIONIDHOLDERIMPL_H

#include "KroServer/AsyncExceptionHolderImpl.h"

#include <string>

namespace Krovane
{
  class InvalidOperationIdHolderImpl : public AsyncExceptionHolderImpl
  {
  public:
    // An empty message.
    InvalidOperationIdHolderImpl();
    // The text of message as BoundedText keeps it.
    explicit InvalidOperationIdHolderImpl(const std::string& message);
    // Logs "Deleting InvalidOperationIdHolderImpl".
    virtual ~InvalidOperationIdHolderImpl();

    // Logs, then throws Krovane::InvalidOperationId with the message.
    virtual void raise();

  private:
    std::string m_message;  // the exception's reason
  };
}

#endif
