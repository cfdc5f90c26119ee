// Whether the ORB has been shut down, answered at once.
//
// omniORB's own answer (work_pending raising BAD_INV_ORDER) comes a little
// after shutdown; ShutdownOrb remembers the shutdown before it starts it, so
// that every thread that asks afterwards is told at once. Any thread.
#ifndef KRO_ORBLAYER_ORBSHUTDOWN_H
#define KRO_ORBLAYER_ORBSHUTDOWN_H

#include <omniORB4/CORBA.h>

namespace KroOrb
{
  // Notes the shutdown, then orb->shutdown(waitForCompletion).
  void ShutdownOrb(CORBA::ORB_ptr orb, bool waitForCompletion);

  // True once ShutdownOrb was called, or when the ORB itself says it is
  // shut down or destroyed (a nil ORB counts as shut down).
  bool OrbIsShutDown(CORBA::ORB_ptr orb);

  // Raises CORBA::BAD_INV_ORDER (minor: the ORB has shut down) when
  // OrbIsShutDown.
  void CheckOrbNotShutDown(CORBA::ORB_ptr orb);
}

#endif
