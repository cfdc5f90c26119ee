// KroServer_ORBInitializer: installs a server request interceptor (normally
// a KroServerInterceptor) while the ORB is initialised. Register it with
// PortableInterceptor::register_orb_initializer before KroSystem::InitOrb.
#ifndef KROSERVER_KROSERVER_ORBINITIALIZER_H
#define KROSERVER_KROSERVER_ORBINITIALIZER_H

#include "OrbLayer/LocalRefCountedObject.h"
#include "OrbLayer/ORBInitInfo.h"
#include "OrbLayer/ORBInitializer.h"

namespace Krovane
{
  class KroServer_ORBInitializer : public virtual PortableInterceptor::ORBInitializer,
                                   public virtual KroOrb::LocalRefCountedObject
  {
  public:
    // Keeps its own reference to interceptor.
    explicit KroServer_ORBInitializer(PortableInterceptor::ServerRequestInterceptor_ptr interceptor);

    void pre_init(PortableInterceptor::ORBInitInfo* info) override;
    void post_init(PortableInterceptor::ORBInitInfo* info) override;

  protected:
    ~KroServer_ORBInitializer() override;

  private:
    PortableInterceptor::ServerRequestInterceptor_var m_interceptor;  // the one to install
  };
}

#endif
