#include "KroServer/KroClient_ORBInitializer.h"

namespace Krovane
{
  KroClient_ORBInitializer::KroClient_ORBInitializer(
    PortableInterceptor::ClientRequestInterceptor_ptr interceptor)
    : InterceptorInitializer(interceptor)
  {
  }

  KroClient_ORBInitializer::~KroClient_ORBInitializer() {}
}
