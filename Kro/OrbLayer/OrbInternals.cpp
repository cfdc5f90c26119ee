#include "OrbLayer/OrbInternals.h"

#include "OrbLayer/OrbVersion.h"

#include <omniORB4/omniORB.h>

#if KRO_ORB_INTERNALS_CHECKED
#include <omniORB4/internal/omniIdentity.h>
#endif

namespace KroOrb
{
#if KRO_ORB_INTERNALS_CHECKED
  namespace
  {
    // omniORB keeps a reference's call time-out in the private member
    // omniObjRef::pd_timeout. An explicit instantiation may name a private
    // member: this one hands its address to CallTimeoutMember, for reading only.
    omni_time_t omniObjRef::*CallTimeoutMember();

    template <omni_time_t omniObjRef::*Member>
    struct CallTimeoutAccess
    {
      friend omni_time_t omniObjRef::*CallTimeoutMember() { return Member; }
    };

    template struct CallTimeoutAccess<&omniObjRef::pd_timeout>;
  }

  bool OrbInternals::Checked() { return true; }

  bool OrbInternals::HasActivation(PortableServer::Servant servant)
  {
    if (!servant)
      return false;
    omni_tracedmutex_lock sync(*omni::internalLock);
    return !static_cast<omniServant*>(servant)->_activations().empty();
  }

  omniServant* OrbInternals::UpcallServant(omniServant* servant) { return servant; }

  CORBA::Object_ptr OrbInternals::NewProxy(CORBA::ORB_ptr, CORBA::Object_ptr target, const char* repoId)
  {
    omniObjRef* source = target->_PR_getobj();
    omniIOR* ior = source->_getIOR();  // consumed by createObjRef
    omniObjRef* proxy = nullptr;
    {
      omni_tracedmutex_lock sync(*omni::internalLock);
      // Not when target was forwarded elsewhere, nor for an object of this
      // process, whose identity the ORB picks as the object's activation
      // changes.
      omniIdentity* identity = source->_isForwardLocation() ? nullptr : source->_identity();
      if (identity && identity->inThisAddressSpace())
        identity = nullptr;
      proxy = omni::createObjRef(repoId ? repoId : CORBA::Object::_PD_repoId, ior, true, identity);
    }
    if (!proxy)
      throw CORBA::INV_OBJREF(0, CORBA::COMPLETED_NO);
    // target was narrowed to repoId already, and its holder calls it: the
    // first call through the proxy finds out whether the object is there,
    // without a LocateRequest round trip of its own before it.
    proxy->_noExistentCheck();
    return static_cast<CORBA::Object_ptr>(proxy->_ptrToObjRef(CORBA::Object::_PD_repoId));
  }

  void OrbInternals::CallTimeout(CORBA::Object_ptr reference, unsigned long& seconds, unsigned long& nanoseconds)
  {
    const omni_time_t& bound = reference->_PR_getobj()->*CallTimeoutMember();
    seconds = bound.s;
    nanoseconds = bound.ns;
  }
#else
  bool OrbInternals::Checked() { return false; }

  bool OrbInternals::HasActivation(PortableServer::Servant)
  {
    throw CORBA::NO_IMPLEMENT(0, CORBA::COMPLETED_NO);
  }

  omniServant* OrbInternals::UpcallServant(omniServant*) { return nullptr; }

  CORBA::Object_ptr OrbInternals::NewProxy(CORBA::ORB_ptr orb, CORBA::Object_ptr target, const char*)
  {
    // string_to_object makes a new proxy for every string it is given.
    const CORBA::String_var ior = orb->object_to_string(target);
    return orb->string_to_object(ior.in());
  }

  void OrbInternals::CallTimeout(CORBA::Object_ptr, unsigned long&, unsigned long&)
  {
    throw CORBA::NO_IMPLEMENT(0, CORBA::COMPLETED_NO);
  }
#endif
}
