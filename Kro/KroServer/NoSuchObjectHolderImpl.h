// NoSuchObjectHolderImpl: an exception holder whose raise() throws, in the client,
// Krovane::NoSuchObject with the holder's message.
//
// Ownership and threads as for AsyncExceptionHolderImpl: created with new,
// owned by its servant reference count (the POA holds the last one once it
// is active), deleted after its deactivation; raise() from any ORB thread,
// without a lock.
#ifndef KROSERVER_NOSUCHOBJECTHOLDERIMPL_H
#define KROSERVER_NOSUCHOBJECTHOLDERIMPL_H

#include "KroServer/AsyncExceptionHolderImpl.h"

#include <string>

namespace Krovane
{
  class NoSuchObjectHolderImpl : public AsyncExceptionHolderImpl
  {
  public:
    // An empty message.
    NoSuchObjectHolderImpl();
    // The text of message as BoundedText keeps it.
    explicit NoSuchObjectHolderImpl(const std::string& message);
    // Logs "Deleting NoSuchObjectHolderImpl".
    virtual ~NoSuchObjectHolderImpl();

    // Logs, then throws Krovane::NoSuchObject with the message.
    virtual void raise();

  private:
    std::string m_message;  // the exception's reason
  };
}

#endif
