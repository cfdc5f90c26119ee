#include "KroDazadared/KroSystem.h"
#include "OrbLayer/OrbInitialization.h"

#include <ace/Guard_T.h>
#include <ace/Log_Msg.h>

namespace Krovane
{
  namespace
  {
    // The state both views share. Created on first use, never destroyed:
    // interceptors may ask for the ORB while the process exits.
    struct SystemState
    {
      ACE_Thread_Mutex lock;        // guards the two references
      CORBA::ORB_var orb;           // nil until InitOrb
      PortableServer::POA_var root; // nil until InitOrb
    };

    SystemState& State()
    {
      static SystemState* state = new SystemState;
      return *state;
    }
  }

  KroSystem::KroSystem(bool raiseIfUninitialised)
    : m_raiseIfUninitialised(raiseIfUninitialised)
  {
  }

  KroSystem* KroSystem::Instance(int raiseIfUninitialised)
  {
    static KroSystem* strict = new KroSystem(true);
    static KroSystem* lenient = new KroSystem(false);
    return raiseIfUninitialised ? strict : lenient;
  }

  void KroSystem::InitOrb(int& argc, char** argv, const char* orbId)
  {
    SystemState& state = State();
    ACE_GUARD(ACE_Thread_Mutex, guard, state.lock);
    if (!CORBA::is_nil(state.orb.in()))
      throw CORBA::BAD_INV_ORDER(0, CORBA::COMPLETED_NO);

    CORBA::ORB_var orb = KroOrb::InitOrb(argc, argv, orbId);
    CORBA::Object_var object = orb->resolve_initial_references("RootPOA");
    PortableServer::POA_var root = PortableServer::POA::_narrow(object.in());
    PortableServer::POAManager_var manager = root->the_POAManager();
    manager->activate();

    state.orb = orb._retn();
    state.root = root._retn();
  }

  bool KroSystem::RefuseUninitialised(const char* method) const
  {
    if (!m_raiseIfUninitialised)
      return false;
    ACE_ERROR((LM_ERROR,
               ACE_TEXT("(%P|%t) KroSystem::%C: the ORB is not initialised; call KroSystem::InitOrb first\n"),
               method));
    throw CORBA::BAD_INV_ORDER(0, CORBA::COMPLETED_NO);
  }

  CORBA::ORB_ptr KroSystem::GetOrb()
  {
    SystemState& state = State();
    {
      ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, state.lock, CORBA::ORB::_nil());
      if (!CORBA::is_nil(state.orb.in()))
        return CORBA::ORB::_duplicate(state.orb.in());
    }
    RefuseUninitialised("GetOrb");
    return CORBA::ORB::_nil();
  }

  bool KroSystem::HasOrb()
  {
    SystemState& state = State();
    {
      ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, state.lock, false);
      if (!CORBA::is_nil(state.orb.in()))
        return true;
    }
    RefuseUninitialised("GetOrb");
    return false;
  }

  PortableServer::POA_ptr KroSystem::GetRootPOA()
  {
    SystemState& state = State();
    {
      ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, state.lock, PortableServer::POA::_nil());
      if (!CORBA::is_nil(state.root.in()))
        return PortableServer::POA::_duplicate(state.root.in());
    }
    RefuseUninitialised("GetRootPOA");
    return PortableServer::POA::_nil();
  }

  int KroSystem::IsInitialised()
  {
    SystemState& state = State();
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, state.lock, 0);
    return CORBA::is_nil(state.orb.in()) ? 0 : 1;
  }

  void KroSystem::Destroy()
  {
    SystemState& state = State();
    CORBA::ORB_var orb;
    {
      ACE_GUARD(ACE_Thread_Mutex, guard, state.lock);
      orb = state.orb._retn();
      state.root = PortableServer::POA::_nil();
    }
    if (!CORBA::is_nil(orb.in()))
      orb->destroy();
  }
}
