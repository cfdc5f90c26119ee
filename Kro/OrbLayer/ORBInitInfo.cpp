#include "OrbLayer/ORBInitInfo.h"
#include "OrbLayer/InterceptorRegistry.h"

namespace PortableInterceptor
{
  ORBInitInfo::ORBInitInfo(const std::string& orbId, const std::vector<std::string>& arguments)
    : m_orbId(orbId), m_arguments(arguments)
  {
  }

  char* ORBInitInfo::orb_id() const
  {
    return CORBA::string_dup(m_orbId.c_str());
  }

  CORBA::StringSeq* ORBInitInfo::arguments() const
  {
    CORBA::StringSeq* result = new CORBA::StringSeq;
    result->length(static_cast<CORBA::ULong>(m_arguments.size()));
    for (CORBA::ULong i = 0; i < result->length(); ++i)
      (*result)[i] = CORBA::string_dup(m_arguments[i].c_str());
    return result;
  }

  void ORBInitInfo::add_server_request_interceptor(ServerRequestInterceptor_ptr interceptor)
  {
    KroOrb::InterceptorRegistry::Instance().AddServerInterceptor(interceptor);
  }

  void ORBInitInfo::add_client_request_interceptor(ClientRequestInterceptor_ptr interceptor)
  {
    KroOrb::InterceptorRegistry::Instance().AddClientInterceptor(interceptor);
  }
}
