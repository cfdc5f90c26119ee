// SysExceptionHolderImpl: an exception holder whose raise() throws, in the client,
// Krovane::SysException with the holder's message.
//
// Ownership and threads as for AsyncExceptionHolderImpl: created with new,
// owned by its servant reference count (the POA holds the last one once it
// is active), deleted after its deactivation; raise() from any ORB thread,
// without a lock.
#ifndef KROSERVER_SYSEXCEPTIONHOLDERIMPL_H
#define KROSERVER_SYSEXCEPTIONHOLDERIMPL_H

#include "KroServer/AsyncExceptionHolderImpl.h"

#include <string>

namespace Krovane
{
  class SysExceptionHolderImpl : public AsyncExceptionHolderImpl
  {
  public:
    // An empty message.
    SysExceptionHolderImpl();
    // The text of message as BoundedText keeps it.
    explicit SysExceptionHolderImpl(const std::string& message);
    // Logs "Deleting SysExceptionHolderImpl".
    virtual ~SysExceptionHolderImpl();

    // Logs, then throws Krovane::SysException with the message.
    virtual void raise();

  private:
    std::string m_message;  // the exception's reason
  };
}

#endif
