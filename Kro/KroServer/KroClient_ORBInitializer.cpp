#include "KroServer/KroClient_ORBInitializer.h"

namespace Krovane
{
  KroClient_ORBInitializer::KroClient_ORBInitializer(
    PortableInterceptor::ClientRequestInterceptor_ptr interceptor)
    : m_interceptor(PortableInterceptor::ClientRequestInterceptor_var::Duplicate(interceptor))
  {
  }

  KroClient_ORBInitializer::~KroClient_ORBInitializer() {}

  void KroClient_ORBInitializer::pre_init(PortableInterceptor::ORBInitInfo*) {}

  void KroClient_ORBInitializer::post_init(PortableInterceptor::ORBInitInfo* info)
  {
    info->add_client_request_interceptor(m_interceptor.in());
  }
}
