// Process ORB start-up: runs the registered ORB initializers around
// CORBA::ORB_init. Called once per process, by KroSystem.
#ifndef KRO_ORBLAYER_ORBINITIALIZATION_H
#define KRO_ORBLAYER_ORBINITIALIZATION_H

#include <omniORB4/CORBA.h>

namespace KroOrb
{
  // pre_init of every registered initializer, CORBA::ORB_init(argc, argv,
  // orbId), then post_init of every initializer, in registration order.
  // Idle outgoing connections are closed after 10 s (outConScanPeriod)
  // unless the command line says otherwise.
  // Returns the new ORB (the caller owns the reference).
  CORBA::ORB_ptr InitOrb(int& argc, char** argv, const char* orbId);
}

#endif
