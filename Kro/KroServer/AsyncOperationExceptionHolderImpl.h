// AsyncOperationExceptionHolderImpl: an exception holder whose raise() throws, in the client,
// Krovane::AsyncOperationException with the holder's message.
//
// Ownership and threads as for AsyncExceptionHolderImpl: created with new,
// owned by its servant reference count (the POA holds the last one once it
// is active), deleted after its deactivation; raise() from any ORB thread,
// without a lock.
#ifndef KROSERVER_ASYNCOPERATIONEXCEPTIONHOLDERIMPL_H
#define KROSERVER_ASYNCOPERATIONEXCEPTIONHOLDERIMPL_H

#include "KroServer/AsyncExceptionHolderImpl.h"

#include <string>

namespace Krovane
{
  class AsyncOperationExceptionHolderImpl : public AsyncExceptionHolderImpl
  {
  public:
    // An empty message.
    AsyncOperationExceptionHolderImpl();
    // The text of message as BoundedText keeps it.
    explicit AsyncOperationExceptionHolderImpl(const std::string& message);
    // Logs "Deleting AsyncOperationExceptionHolderImpl".
    virtual ~AsyncOperationExceptionHolderImpl();

    // Logs, then throws Krovane::AsyncOperationException with the message.
    virtual void raise();

  private:
    std::string m_message;  // the exception's reason
  };
}

#endif
