// KroClient_ORBInitializer: installs a client request interceptor (normally
// a KroClientInterceptor) while the ORB is initialised. Register it with
// PortableInterceptor::register_orb_initializer before KroSystem::InitOrb.
#ifndef KROSERVER_KROCLIENT_ORBINITIALIZER_H
#define KROSERVER_KROCLIENT_ORBINITIALIZER_H

#include "OrbLayer/LocalRefCountedObject.h"
#include "OrbLayer/ORBInitInfo.h"
#include "OrbLayer/ORBInitializer.h"

namespace Krovane
{
  class KroClient_ORBInitializer : public virtual PortableInterceptor::ORBInitializer,
                                   public virtual KroOrb::LocalRefCountedObject
  {
  public:
    // Keeps its own reference to interceptor.
    explicit KroClient_ORBInitializer(PortableInterceptor::ClientRequestInterceptor_ptr interceptor);

    void pre_init(PortableInterceptor::ORBInitInfo* info) override;
    void post_init(PortableInterceptor::ORBInitInfo* info) override;

  protected:
    ~KroClient_ORBInitializer() override;

  private:
    PortableInterceptor::ClientRequestInterceptor_var m_interceptor;  // the one to install
  };
}

#endif
