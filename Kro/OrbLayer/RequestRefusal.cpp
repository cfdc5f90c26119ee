#include "OrbLayer/RequestRefusal.h"

#include <omniORB4/CORBA.h>
#include <omniORB4/omniInterceptors.h>

#include <atomic>
#include <mutex>

namespace KroOrb
{
  namespace
  {
    std::atomic<bool> s_refusing{false};

    CORBA::Boolean RefuseIfStopping(omni::omniInterceptors::serverReceiveRequest_T::info_T&)
    {
      if (s_refusing.load())
        throw CORBA::TRANSIENT(0, CORBA::COMPLETED_NO);
      return true;
    }
  }

  void RequestRefusal::Install()
  {
    static std::once_flag installed;
    std::call_once(installed, [] { omniORB::getInterceptors()->serverReceiveRequest.add(RefuseIfStopping); });
  }

  void RequestRefusal::RefuseFromNow() { s_refusing.store(true); }

  void RequestRefusal::AcceptFromNow() { s_refusing.store(false); }
}
