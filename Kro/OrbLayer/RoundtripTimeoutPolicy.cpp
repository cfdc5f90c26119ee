#include "OrbLayer/RoundtripTimeoutPolicy.h"

#include "OrbLayer/OrbInternals.h"
#include "OrbLayer/OrbShutdown.h"

#include <omniORB4/omniORB.h>

#include <limits>

namespace KroOrb
{
  namespace
  {
    const TimeT kTimeTPerMillisecond = 10000ULL;
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
    return OrbInternals::NewProxy(orb, target, repoId);
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
    unsigned long seconds = 0;
    unsigned long nanoseconds = 0;
    OrbInternals::CallTimeout(reference, seconds, nanoseconds);
    return static_cast<TimeT>(seconds) * kTimeTPerSecond + static_cast<TimeT>(nanoseconds) / 100;
  }
}
