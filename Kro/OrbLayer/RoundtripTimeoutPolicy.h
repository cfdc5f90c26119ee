// RoundtripTimeoutPolicy: a bound on the whole of each call made through an
// object reference, as a relative round-trip time-out policy.
//
// omniORB has no Messaging policies and no _set_policy_overrides. This is
// their small equivalent for the one policy the library uses: the policy is
// created from an Any holding a TimeBase::TimeT (100 ns units), as
// ORB::create_policy(RELATIVE_RT_TIMEOUT_POLICY_TYPE, any) would, and
// SetPolicyOverride returns a new reference to the target that carries it,
// as _set_policy_overrides(list, SET_OVERRIDE) and narrowing the result
// would. The bound is put on
// that reference through omniORB's per-reference call time-out
// (omniORB::setClientCallTimeout), so a call through it that has not been
// answered in time fails with CORBA::TIMEOUT.
//
// Ownership: a policy is a plain value. NewProxy and SetPolicyOverride
// return new references that the caller owns and releases; the target is
// not changed.
// Threads: any thread may create policies and override references. A
// reference returned by SetPolicyOverride is new and shared with nobody, so
// putting the bound on it races with no call.
#ifndef KRO_ORBLAYER_ROUNDTRIPTIMEOUTPOLICY_H
#define KRO_ORBLAYER_ROUNDTRIPTIMEOUTPOLICY_H

#include <omniORB4/CORBA.h>

namespace KroOrb
{
  // TimeBase::TimeT: a time in units of 100 ns.
  typedef CORBA::ULongLong TimeT;

  // 100 ns units in one second.
  const TimeT kTimeTPerSecond = 10000000ULL;

  // Messaging::RELATIVE_RT_TIMEOUT_POLICY_TYPE.
  const CORBA::PolicyType RELATIVE_RT_TIMEOUT_POLICY_TYPE = 32;

  class RoundtripTimeoutPolicy
  {
  public:
    // A bound of relativeExpiry units of 100 ns.
    explicit RoundtripTimeoutPolicy(TimeT relativeExpiry);

    // Always RELATIVE_RT_TIMEOUT_POLICY_TYPE.
    CORBA::PolicyType policy_type() const;
    // The bound, in units of 100 ns.
    TimeT relative_expiry() const;
    // The bound as omniORB's call time-out: whole milliseconds, rounded up
    // (omniORB reads 0 as "no bound", so a bound never becomes 0) and held
    // at the largest value omniORB takes (about 49.7 days).
    CORBA::ULong CallTimeoutMillis() const;

  private:
    TimeT m_relativeExpiry;  // the bound, in units of 100 ns
  };

  // ORB::create_policy for the relative round-trip time-out: value must hold
  // a TimeT (CORBA::ULongLong). Raises CORBA::PolicyError with
  // BAD_POLICY_TYPE for another policy type and BAD_POLICY_VALUE for a value
  // of another type; CORBA::BAD_INV_ORDER once orb has shut down.
  RoundtripTimeoutPolicy CreatePolicy(CORBA::ORB_ptr orb, CORBA::PolicyType type,
                                      const CORBA::Any& value);

  // A new reference to target's object, a proxy of its own that carries no
  // bound, made from target's IOR without a string, as a reference of type
  // repoId (an interface that target is known to support; null: Object).
  // It takes target's word for the type and asks nothing of the object
  // before its first call, which is then the existence check (no
  // LocateRequest of its own). A nil target raises CORBA::BAD_PARAM. The
  // caller owns the result.
  CORBA::Object_ptr NewProxy(CORBA::ORB_ptr orb, CORBA::Object_ptr target, const char* repoId = nullptr);

  // Puts policy's bound on reference, replacing any bound it had. Only for
  // a reference that nobody calls through meanwhile (omniORB does not lock
  // it). A nil reference raises CORBA::BAD_PARAM.
  void ApplyPolicy(CORBA::Object_ptr reference, const RoundtripTimeoutPolicy& policy);

  // _set_policy_overrides(policy, SET_OVERRIDE) followed by the narrowing
  // to Interface: a new reference to target's object, a proxy of its own
  // whose calls are bounded by policy. target keeps its own bound, and
  // whatever bound target carried is not carried over, so overriding again
  // replaces the earlier bound instead of adding to it. The bound is put on
  // the narrowed reference: omniORB's narrowing may make yet another proxy
  // (when the object's own type is unknown here), which would not carry a
  // bound put on the proxy before it. target is an Interface already, so the
  // narrowing asks nothing of the object. The caller owns the result.
  template <typename Interface>
  typename Interface::_ptr_type SetPolicyOverride(CORBA::ORB_ptr orb, typename Interface::_ptr_type target,
                                                  const RoundtripTimeoutPolicy& policy)
  {
    CORBA::Object_var proxy = NewProxy(orb, target, Interface::_PD_repoId);
    typename Interface::_var_type typed = Interface::_unchecked_narrow(proxy.in());
    ApplyPolicy(typed.in(), policy);
    return typed._retn();
  }

  // The call time-out that omniORB applies to calls through reference, in
  // units of 100 ns; 0 when it has none of its own (nil included).
  // CORBA::NO_IMPLEMENT where omniORB's internals were not checked
  // (OrbInternals.h): omniORB has no getter for it.
  TimeT RoundtripTimeoutOf(CORBA::Object_ptr reference);
}

#endif
