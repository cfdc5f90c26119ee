// ActiveServant: a servant active in the client's POA for as long as this
// object lives; deactivated by the destructor. ActiveHandler is the one of
// an operation's handler; failures the client keeps itself use it too.
//
// Ownership: takes over the new servant's reference (the POA holds one of
// its own while it is active). Threads: Reference() from any; the
// destructor may run on any thread, but not inside the ORB's destruction.
#ifndef KROCLIENT_ACTIVEHANDLER_H
#define KROCLIENT_ACTIVEHANDLER_H

#include "Krovane.hh"

namespace KroClient
{
  template <typename Interface>
  class ActiveServant
  {
  public:
    // Activates servant (new; its reference is ours) in poa. Throws what
    // activation throws; the servant then goes.
    ActiveServant(PortableServer::POA_ptr poa, PortableServer::ServantBase* servant)
      : m_poa(PortableServer::POA::_duplicate(poa)), m_servant(servant)
    {
      m_id = m_poa->activate_object(servant);
      try
      {
        CORBA::Object_var object = m_poa->id_to_reference(m_id.in());
        m_reference = Interface::_narrow(object.in());
      }
      catch (...)
      {
        m_poa->deactivate_object(m_id.in());
        throw;
      }
    }

    ~ActiveServant()
    {
      try
      {
        m_poa->deactivate_object(m_id.in());
      }
      catch (const CORBA::Exception&)
      {
        // The ORB has gone first (its destruction deactivated every
        // servant): nothing is left to do.
      }
    }

    ActiveServant(const ActiveServant&) = delete;
    ActiveServant& operator=(const ActiveServant&) = delete;

    // Its reference (not a new one).
    typename Interface::_ptr_type Reference() const { return m_reference.in(); }

  private:
    PortableServer::POA_var m_poa;              // where it is active
    PortableServer::ServantBase_var m_servant;  // our reference to the servant
    PortableServer::ObjectId_var m_id;          // its id in m_poa
    typename Interface::_var_type m_reference;  // its reference
  };

  using ActiveHandler = ActiveServant<Krovane::IAsyncHandler>;
  using ActiveFailure = ActiveServant<Krovane::IAsyncExceptionHolder>;
}

#endif
