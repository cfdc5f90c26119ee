#include "TierServer.h"

#include "KroKit/ServerObjectPOA.h"

namespace KroTiers
{
  TierServer::TierServer(KroKit::ServerProcess& process, const std::string& namingService)
    : m_orb(CORBA::ORB::_duplicate(process.Orb())),
      m_serverObjects(KroKit::CreateServerObjectPOA(process.RootPOA(), "ServerObjects")),
      m_factories(KroKit::CreateServerObjectPOA(process.RootPOA(), "Factories",
                                                    PortableServer::PERSISTENT, PortableServer::USER_ID)),
      m_namingService(namingService)
  {
  }

  PortableServer::POA_ptr TierServer::ServerObjectPOA() const { return m_serverObjects.in(); }

  TierDirectory& TierServer::Directory()
  {
    if (!m_directory)
      m_directory.reset(new TierDirectory(m_orb.in(), m_namingService));
    return *m_directory;
  }

  CORBA::Object_ptr TierServer::ActivateFactory(PortableServer::ServantBase* factory)
  {
    PortableServer::ObjectId_var id = PortableServer::string_to_ObjectId("factory");
    m_factories->activate_object_with_id(id.in(), factory);
    return m_factories->id_to_reference(id.in());
  }
}
