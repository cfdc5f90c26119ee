#include "OrbLayer/RoundtripTimeoutPolicy.h"

#include "OrbLayer/OrbShutdown.h"

#include <omniORB4/internal/omniIdentity.h>
#include <omniORB4/omniORB.h>

#include <limits>

namespace KroOrb
{
  namespace
  {
    const TimeT kTimeTPerMillisecond = 10000ULL;

    // omniORB keeps a reference's call time-out in the private member
    // omniObjRef::pd_timeout and offers a setter but no getter. An explicit
    // instantiation may name a private member: this one hands its address
    // to CallTimeoutMember, for reading only.
    omni_time_t omniObjRef::*CallTimeoutMember();

    template <omni_time_t omniObjRef::*Member>
    struct CallTimeoutAccess
    {
      friend omni_time_t omniObjRef::*CallTimeoutMember() { return Member; }
    };

    template struct CallTimeoutAccess<&omniObjRef::pd_timeout>;
  }

  RoundtripTimeoutPolicy::RoundtripTimeoutPolicy(TimeT relativeExpiry)
    : m_relativeExpiry(relativeExpiry)
  {
  }

  CORBA::PolicyType RoundtripTimeoutPolicy::policy_type() const
  {
    return RELATIVE_RT_TIMEOUT_POLICY_TYPE;
  }

  TimeT RoundtripTimeoutPolicy::relative_expiry() const
  {
    return m_relativeExpiry;
  }

  CORBA::ULong RoundtripTimeoutPolicy::CallTimeoutMillis() const
  {
    const TimeT millis = m_relativeExpiry / kTimeTPerMillisecond
                         + (m_relativeExpiry % kTimeTPerMillisecond != 0 ? 1 : 0);
    const TimeT largest = std::numeric_limits<CORBA::ULong>::max();
    if (millis == 0)
      return 1;
    return static_cast<CORBA::ULong>(millis < largest ? millis : largest);
  }

  RoundtripTimeoutPolicy CreatePolicy(CORBA::ORB_ptr orb, CORBA::PolicyType type,
                                      const CORBA::Any& value)
  {
    CheckOrbNotShutDown(orb);
    if (type != RELATIVE_RT_TIMEOUT_POLICY_TYPE)
      throw CORBA::PolicyError(CORBA::BAD_POLICY_TYPE);
    TimeT relativeExpiry = 0;
    if (!(value >>= relativeExpiry))
      throw CORBA::PolicyError(CORBA::BAD_POLICY_VALUE);
    return RoundtripTimeoutPolicy(relativeExpiry);
  }

  CORBA::Object_ptr NewProxy(CORBA::ORB_ptr orb, CORBA::Object_ptr target, const char* repoId)
  {
    if (CORBA::is_nil(target))
      throw CORBA::BAD_PARAM(0, CORBA::COMPLETED_NO);
    CheckOrbNotShutDown(orb);
    // A proxy of its own: a bound put on it must not reach the holders of
    // target, and nobody else calls through it while the bound is put on it.
    // Made from target's IOR as the ORB keeps it (what string_to_object
    // would make, without writing the IOR out and parsing it back).
    omniObjRef* source = target->_PR_getobj();
    omniIOR* ior = source->_getIOR();  // consumed by createObjRef
    omniObjRef* proxy = nullptr;
    {
      omni_tracedmutex_lock sync(*omni::internalLock);
      // A remote object's identity (its address, its connections) is shared
      // rather than built again from the IOR; not when target was forwarded
      // elsewhere, nor for an object of this process, whose identity the
      // ORB picks as the object's activation changes.
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

  void ApplyPolicy(CORBA::Object_ptr reference, const RoundtripTimeoutPolicy& policy)
  {
    if (CORBA::is_nil(reference))
      throw CORBA::BAD_PARAM(0, CORBA::COMPLETED_NO);
    omniORB::setClientCallTimeout(reference, policy.CallTimeoutMillis());
  }

  TimeT RoundtripTimeoutOf(CORBA::Object_ptr reference)
  {
    if (CORBA::is_nil(reference))
      return 0;
    const omni_time_t& bound = reference->_PR_getobj()->*CallTimeoutMember();
    return static_cast<TimeT>(bound.s) * kTimeTPerSecond + static_cast<TimeT>(bound.ns) / 100;
  }
}
