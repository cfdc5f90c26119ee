// KroClient_ORBInitializer: installs a client request interceptor (normally
// a KroClientInterceptor) while the ORB is initialised. Register it with
// PortableInterceptor::register_orb_initializer before KroSystem::InitOrb.
#ifndef KROSERVER_KROCLIENT_ORBINITIALIZER_H
#define KROSERVER_KROCLIENT_ORBINITIALIZER_H

#include "OrbLayer/InterceptorInitializer.h"

namespace Krovane
{
  class KroClient_ORBInitializer
    : public KroOrb::InterceptorInitializer<PortableInterceptor::ClientRequestInterceptor,
                                            &PortableInterceptor::ORBInitInfo::add_client_request_interceptor>
  {
  public:
    // Keeps its own reference to interceptor.
    explicit KroClient_ORBInitializer(PortableInterceptor::ClientRequestInterceptor_ptr interceptor);

  protected:
    ~KroClient_ORBInitializer() override;
  };
}

#endif
