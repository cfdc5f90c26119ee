#include "OrbLayer/ClientRequestInterceptor.h"
#include "OrbLayer/Interceptor.h"
#include "OrbLayer/ServerRequestInterceptor.h"

namespace PortableInterceptor
{
  Interceptor::~Interceptor() {}
  ServerRequestInterceptor::~ServerRequestInterceptor() {}
  ClientRequestInterceptor::~ClientRequestInterceptor() {}
}
