// KroServer_ORBInitializer: installs a server request interceptor (normally
// a KroServerInterceptor) while the ORB is initialised. Register it with
// PortableInterceptor::register_orb_initializer before KroSystem::InitOrb.
#ifndef KROSERVER_KROSERVER_ORBINITIALIZER_H
#define KROSERVER_KROSERVER_ORBINITIALIZER_H

#include "OrbLayer/InterceptorInitializer.h"

namespace Krovane
{
  class KroServer_ORBInitializer
    : public KroOrb::InterceptorInitializer<PortableInterceptor::ServerRequestInterceptor,
                                            &PortableInterceptor::ORBInitInfo::add_server_request_interceptor>
  {
  public:
    // Keeps its own reference to interceptor.
    explicit KroServer_ORBInitializer(PortableInterceptor::ServerRequestInterceptor_ptr interceptor);

  protected:
    ~KroServer_ORBInitializer() override;
  };
}

#endif
