// ActiveServant: a servant active in a POA for a scope, deactivated when the
// scope ends unless Keep() handed it on (to an operation that retires it,
// to the object table). A request that fails half-way then leaves nothing
// active behind it. Its id cannot be guessed (Krovane::UnguessableObjectIds):
// the reference is the only way in.
//
//   ActiveRelay<CalculatorRelay> relay(m_poa.in(), new CalculatorRelay(handler));
//   const int id = SubmitAsynchronousOperation(..., relay.Reference(), ...);
//   relay.Keep();  // from here on the operation retires it
//
// Ownership: takes over the new servant's reference, and holds it until
// the scope ends (the POA takes one of its own). Threads: one thread uses
// it, as a local.
#ifndef KROKIT_ACTIVESERVANT_H
#define KROKIT_ACTIVESERVANT_H

#include "Krovane.hh"
#include "KroServer/AsynchronousHandler.h"
#include "KroServer/UnguessableObjectIds.h"

#include <omniORB4/CORBA.h>

#include <type_traits>

namespace KroKit
{
  // Deactivates id in poa; a failure (it is no longer active) is printed.
  void DeactivateServant(PortableServer::POA_ptr poa, const PortableServer::ObjectId& id);

  template <typename Servant, typename Interface>
  class ActiveServant
  {
  public:
    // Activates servant (new, its reference ours) in poa. Throws what
    // activation throws; the servant then goes.
    ActiveServant(PortableServer::POA_ptr poa, Servant* servant)
      : m_poa(PortableServer::POA::_duplicate(poa)), m_servant(servant), m_ownership(servant)
    {
      m_id = Krovane::UnguessableObjectIds::Activate(m_poa.in(), servant);
      // A relay knows where it is active: its operation can then reach it,
      // and retire it, without a reference.
      if constexpr (std::is_base_of<Krovane::AsynchronousHandler, Servant>::value)
        servant->ActiveIn(m_poa.in(), m_id.in());
    }

    ~ActiveServant()
    {
      if (!m_kept)
        DeactivateServant(m_poa.in(), m_id.in());
    }

    ActiveServant(const ActiveServant&) = delete;
    ActiveServant& operator=(const ActiveServant&) = delete;

    Servant* operator->() const { return m_servant; }
    // Its reference (not a new one), made on the first call: making one
    // costs more than the activation.
    typename Interface::_ptr_type Reference() const
    {
      if (CORBA::is_nil(m_reference.in()))
      {
        CORBA::Object_var object = m_poa->id_to_reference(m_id.in());
        m_reference = Interface::_narrow(object.in());
      }
      return m_reference.in();
    }
    // Its id in the POA.
    const PortableServer::ObjectId& Id() const { return m_id.in(); }
    // Leaves it active when the scope ends.
    void Keep() { m_kept = true; }

  private:
    PortableServer::POA_var m_poa;                // where it is active
    Servant* const m_servant;                     // owned through m_ownership
    PortableServer::ServantBase_var m_ownership;  // our servant reference
    PortableServer::ObjectId_var m_id;            // its id in m_poa
    mutable typename Interface::_var_type m_reference;  // its reference; nil until asked for
    bool m_kept = false;                          // Keep() was called
  };

  // A relay (an IAsyncHandler servant) active for a scope.
  template <typename Relay>
  using ActiveRelay = ActiveServant<Relay, Krovane::IAsyncHandler>;
}

#endif
