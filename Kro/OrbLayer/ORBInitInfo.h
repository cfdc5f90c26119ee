// What an ORB initializer is told about the ORB being initialised, and the
// means to install request interceptors with it. Valid only for the
// duration of pre_init and post_init.
#ifndef KRO_ORBLAYER_ORBINITINFO_H
#define KRO_ORBLAYER_ORBINITINFO_H

#include "OrbLayer/ClientRequestInterceptor.h"
#include "OrbLayer/ServerRequestInterceptor.h"

#include <omniORB4/CORBA.h>

#include <string>
#include <vector>

namespace PortableInterceptor
{
  class ORBInitInfo
  {
  public:
    ORBInitInfo(const std::string& orbId, const std::vector<std::string>& arguments);

    // The id the ORB is initialised with.
    char* orb_id() const;
    // The command line arguments given to the ORB initialisation.
    CORBA::StringSeq* arguments() const;

    // Installs a request interceptor for the whole process; the ORB keeps a
    // reference. Interceptors run in the order they were added.
    void add_server_request_interceptor(ServerRequestInterceptor_ptr interceptor);
    void add_client_request_interceptor(ClientRequestInterceptor_ptr interceptor);

  private:
    std::string m_orbId;                   // the ORB's id
    std::vector<std::string> m_arguments;  // argv as given to the ORB
  };
}

#endif
