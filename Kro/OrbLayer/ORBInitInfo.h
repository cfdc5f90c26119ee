// What an ORB initializer is told about the ORB being initialised, and the
// means to install request interceptors with it. Valid only for the
// duration of pre_init and post_init.
#ifndef KRO_ORBLAYER_ORBINITINFO_H
#define KRO_ORBLAYER_ORBINITINFO_H

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

  private:
    std::string m_orbId;                   // the ORB's id
    std::vector<std::string> m_arguments;  // argv as given to the ORB
  };
}

#endif
