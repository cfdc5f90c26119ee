#include "KroServer/KroServer_ORBInitializer.h"

namespace Krovane
{
  KroServer_ORBInitializer::KroServer_ORBInitializer(
    PortableInterceptor::ServerRequestInterceptor_ptr interceptor)
    : m_interceptor(PortableInterceptor::ServerRequestInterceptor_var::Duplicate(interceptor))
  {
  }

  KroServer_ORBInitializer::~KroServer_ORBInitializer() {}

  void KroServer_ORBInitializer::pre_init(PortableInterceptor::ORBInitInfo*) {}

  void KroServer_ORBInitializer::post_init(PortableInterceptor::ORBInitInfo* info)
  {
    info->add_server_request_interceptor(m_interceptor.in());
  }
}
