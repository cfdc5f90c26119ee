#include "KroClient/ClientOrb.h"

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

  ClientOrb::ClientOrb(int& argc, char** argv) : m_orb(CORBA::ORB_init(argc, argv))
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
