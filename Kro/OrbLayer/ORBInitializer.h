// ORB initializers: application objects that the ORB start-up calls before
// (pre_init) and after (post_init) it creates the ORB, so that request
// interceptors can be installed.
//
// Register initializers with register_orb_initializer before the ORB is
// initialised (KroOrb::InitOrb, reached through KroSystem). The registry
// keeps one reference to each initializer for the life of the process.
#ifndef KRO_ORBLAYER_ORBINITIALIZER_H
#define KRO_ORBLAYER_ORBINITIALIZER_H

#include "OrbLayer/LocalRefCountedObject.h"
#include "OrbLayer/LocalVar.h"

#include <omniORB4/CORBA.h>

namespace PortableInterceptor
{
  class ORBInitInfo;

  // Base of every ORB initializer; reference counted (starts at 1).
  class ORBInitializer : public virtual KroOrb::LocalRefCountedObject
  {
  public:
    virtual void pre_init(ORBInitInfo* info) = 0;
    virtual void post_init(ORBInitInfo* info) = 0;

  protected:
    ~ORBInitializer() override;
  };

  typedef ORBInitializer* ORBInitializer_ptr;
  typedef KroOrb::LocalVar<ORBInitializer> ORBInitializer_var;

  // Adds an initializer to those the next ORB initialisation runs; takes
  // its own reference. Raises CORBA::BAD_INV_ORDER once the ORB exists.
  void register_orb_initializer(ORBInitializer* initializer);
}

#endif
