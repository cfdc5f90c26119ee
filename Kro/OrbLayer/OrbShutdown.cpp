#include "OrbLayer/OrbShutdown.h"

#include <omniORB4/minorCode.h>

#include <atomic>

namespace KroOrb
{
  namespace
  {
    std::atomic<bool> s_shutDown(false);  // set by ShutdownOrb
  }

  void ShutdownOrb(CORBA::ORB_ptr orb, bool waitForCompletion)
  {
    s_shutDown.store(true);
    if (!CORBA::is_nil(orb))
      orb->shutdown(waitForCompletion);
  }

  bool OrbIsShutDown(CORBA::ORB_ptr orb)
  {
    if (s_shutDown.load() || CORBA::is_nil(orb))
      return true;
    try
    {
      orb->work_pending();
      return false;
    }
    catch (const CORBA::BAD_INV_ORDER&)
    {
      return true;
    }
    catch (const CORBA::OBJECT_NOT_EXIST&)
    {
      return true;
    }
  }

  void CheckOrbNotShutDown(CORBA::ORB_ptr orb)
  {
    if (OrbIsShutDown(orb))
      throw CORBA::BAD_INV_ORDER(omni::BAD_INV_ORDER_ORBHasShutdown, CORBA::COMPLETED_NO);
  }
}
