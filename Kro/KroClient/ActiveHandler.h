// ActiveHandler: a handler servant active in the client's POA for as long
// as this object lives; deactivated by the destructor.
//
// Ownership: takes over the new servant's reference (the POA holds one of
// its own while it is active). Threads: created and destroyed by one thread;
// Reference() from any.
#ifndef KROCLIENT_ACTIVEHANDLER_H
#define KROCLIENT_ACTIVEHANDLER_H

#include "Krovane.hh"

namespace KroClient
{
  class ActiveHandler
  {
  public:
    // Activates servant (new; its reference is ours) in poa. Throws what
    // activation throws; the servant then goes.
    ActiveHandler(PortableServer::POA_ptr poa, PortableServer::ServantBase* servant);
    ~ActiveHandler();

    ActiveHandler(const ActiveHandler&) = delete;
    ActiveHandler& operator=(const ActiveHandler&) = delete;

    // Its reference (not a new one).
    Krovane::IAsyncHandler_ptr Reference() const;

  private:
    PortableServer::POA_var m_poa;              // where it is active
    PortableServer::ServantBase_var m_servant;  // our reference to the servant
    PortableServer::ObjectId_var m_id;          // its id in m_poa
    Krovane::IAsyncHandler_var m_reference;     // its reference
  };
}

#endif
