#include "KroClient/ClientOrb.h"

#include <omniORB4/omniORB.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

namespace KroClient
{
  namespace
  {
    bool IsReference(const std::string& where)
    {
      for (const char* scheme : {"IOR:", "corbaloc:", "corbaname:"})
        if (where.compare(0, std::char_traits<char>::length(scheme), scheme) == 0)
          return true;
      return false;
    }

    // A call to a server that stopped (SIGSTOP) would wait for ever.
    const CORBA::ULong kDefaultCallTimeoutMs = 30000;

    bool CallTimeoutGiven(int argc, char** argv)
    {
      for (int i = 0; i < argc; ++i)
        if (argv[i] && std::strcmp(argv[i], "-ORBclientCallTimeOutPeriod") == 0)
          return true;
      return std::getenv("ORBclientCallTimeOutPeriod") != nullptr;
    }

    CORBA::ORB_ptr InitOrb(int& argc, char** argv)
    {
      const bool given = CallTimeoutGiven(argc, argv);
      CORBA::ORB_ptr orb = CORBA::ORB_init(argc, argv);
      if (!given)
        omniORB::setClientCallTimeout(kDefaultCallTimeoutMs);
      return orb;
    }

    // The first line of path.
    std::string ReadReference(const std::string& path)
    {
      std::ifstream file(path);
      std::string line;
      if (!file || !std::getline(file, line) || line.empty())
        throw std::runtime_error("cannot read a reference from " + path);
      return line;
    }
  }

  ClientOrb::ClientOrb(int& argc, char** argv) : m_orb(InitOrb(argc, argv))
  {
    try
    {
      CORBA::Object_var object = m_orb->resolve_initial_references("RootPOA");
      m_poa = PortableServer::POA::_narrow(object.in());
      PortableServer::POAManager_var manager = m_poa->the_POAManager();
      manager->activate();
    }
    catch (...)
    {
      m_orb->destroy();
      throw;
    }
  }

  ClientOrb::~ClientOrb()
  {
    try
    {
      m_orb->destroy();
    }
    catch (const CORBA::Exception&)
    {
      // Destroyed already: nothing is left to release.
    }
  }

  CORBA::ORB_ptr ClientOrb::Orb() const { return m_orb.in(); }

  PortableServer::POA_ptr ClientOrb::Poa() const { return m_poa.in(); }

  CORBA::Object_ptr ClientOrb::ObjectAt(const std::string& where) const
  {
    const std::string reference = IsReference(where) ? where : ReadReference(where);
    return m_orb->string_to_object(reference.c_str());
  }
}
