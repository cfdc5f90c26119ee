// AsyncExceptionHolderImpl: the servant behind an IAsyncExceptionHolder, the
// object a client's handler receives when an asynchronous operation fails.
// Its raise() throws, in the client, Krovane::AsyncOperationException with
// the holder's message; the subclasses throw the other exceptions.
//
// Ownership: a heap object with the servant reference count (1 after
// construction). The application creates it with new and hands it, with
// that first reference, to whoever activates it; the POA then holds the last
// reference. The server interceptor deactivates a holder once a request on
// it has ended in an exception, which raise() always does, so a holder
// answers one raise() and is then deleted.
//
// Threads: raise() may run in any ORB thread; it only reads the message,
// fixed at construction, so it takes no lock.
#ifndef KROSERVER_ASYNCEXCEPTIONHOLDERIMPL_H
#define KROSERVER_ASYNCEXCEPTIONHOLDERIMPL_H

#include "Krovane.hh"

#include <string>

namespace Krovane
{
  class AsyncExceptionHolderImpl : public virtual POA_Krovane::IAsyncExceptionHolder,
                                   public virtual PortableServer::RefCountServantBase
  {
  public:
    // An empty message.
    AsyncExceptionHolderImpl();
    // The text of message as BoundedText keeps it.
    explicit AsyncExceptionHolderImpl(const std::string& message);
    // Logs nothing.
    virtual ~AsyncExceptionHolderImpl();

    // Throws Krovane::AsyncOperationException with the message; logs nothing.
    virtual void raise();
    // Called by the server interceptor once the holder has answered its
    // raise() and left its POA; does nothing here.
    virtual void Retired() {}

  private:
    AsyncExceptionHolderImpl(const AsyncExceptionHolderImpl&) = delete;
    AsyncExceptionHolderImpl& operator=(const AsyncExceptionHolderImpl&) = delete;

    std::string m_message;  // the exception's reason
  };
}

#endif
