#include "KroServer/KroServer_ORBInitializer.h"

namespace Krovane
{
  KroServer_ORBInitializer::KroServer_ORBInitializer(
    PortableInterceptor::ServerRequestInterceptor_ptr interceptor)
    : InterceptorInitializer(interceptor)
  {
  }

  KroServer_ORBInitializer::~KroServer_ORBInitializer() {}
}
