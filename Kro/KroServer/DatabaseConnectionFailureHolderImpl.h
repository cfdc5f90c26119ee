// DatabaseConnectionFailureHolderImpl: an exception holder whose raise() throws, in the client,
// Krovane::DatabaseConnectionFailure with the holder's message.
//
// Ownership and threads as for AsyncExceptionHolderImpl: created with new,
// owned by its servant reference count (the POA holds the last one once it
// is active), deleted after its deactivation; raise() from any ORB thread,
// without a lock.
#ifndef KROSERVER_DATABASECONNECTIONFAILUREHOLDERIMPL_H
#define KROSERVER_DATABASECONNECTIONFAILUREHOLDERIMPL_H

#include "KroServer/AsyncExceptionHolderImpl.h"

#include <string>

namespace Krovane
{
  class DatabaseConnectionFailureHolderImpl : public AsyncExceptionHolderImpl
  {
  public:
    // An empty message.
    DatabaseConnectionFailureHolderImpl();
    // The text of message as BoundedText keeps it.
    explicit DatabaseConnectionFailureHolderImpl(const std::string& message);
    // Logs "Deleting DatabaseConnectionFailureHolderImpl".
    virtual ~DatabaseConnectionFailureHolderImpl();

    // Logs, then throws Krovane::DatabaseConnectionFailure with the message.
    virtual void raise();

  private:
    std::string m_message;  // the exception's reason
  };
}

#endif
