// UnavailableHolderImpl: an exception holder whose raise() throws, in the client,
// Krovane::Unavailable with the holder's message.
//
// Ownership and threads as for AsyncExceptionHolderImpl: created with new,
// owned by its servant reference count (the POA holds the last one once it
// is active), deleted after its deactivation; raise() from any ORB thread,
// without a lock.
#ifndef KROSERVER_UNAVAILABLEHOLDERIMPL_H
#define KROSERVER_UNAVAILABLEHOLDERIMPL_H

#include "KroServer/AsyncExceptionHolderImpl.h"

#include <string>

namespace Krovane
{
  class UnavailableHolderImpl : public AsyncExceptionHolderImpl
  {
  public:
    // An empty message.
    UnavailableHolderImpl();
    // The text of message as BoundedText keeps it.
    explicit UnavailableHolderImpl(const std::string& message);
    // Logs "Deleting UnavailableHolderImpl".
    virtual ~UnavailableHolderImpl();

    // Logs, then throws Krovane::Unavailable with the message.
    virtual void raise();

  private:
    std::string m_message;  // the exception's reason
  };
}

#endif
