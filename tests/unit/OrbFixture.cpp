#include "OrbFixture.h"

#include "KroDazadared/KroSystem.h"
#include "KroServer/ServerFactoryImpl.h"

namespace KroTest
{
  namespace
  {
    PortableServer::POA_var s_tablePOA;
    PortableServer::POA_var s_otherPOA;
    PortableServer::ServantBase_var s_factory;

    ::testing::Environment* const s_environment =
      ::testing::AddGlobalTestEnvironment(new OrbEnvironment);

    PortableServer::POA_ptr ChildPOA(PortableServer::POA_ptr root, const char* name)
    {
      PortableServer::POAManager_var manager = root->the_POAManager();
      CORBA::PolicyList policies;
      policies.length(0);
      return root->create_POA(name, manager.in(), policies);
    }
  }

  void OrbEnvironment::SetUp()
  {
    static char program[] = "KroServerTest";
    char* argv[] = {program, nullptr};
    int argc = 1;
    Krovane::KroSystem::Instance(1)->InitOrb(argc, argv);
    PortableServer::POA_var root = Krovane::KroSystem::Instance(1)->GetRootPOA();
    s_tablePOA = ChildPOA(root.in(), "ServerObjects");
    s_otherPOA = ChildPOA(root.in(), "OtherObjects");
    // The first factory of the process gives the table its POA.
    s_factory = new Krovane::ServerFactoryImpl(s_tablePOA.in());
  }

  void OrbEnvironment::TearDown()
  {
    s_factory = nullptr;
    s_otherPOA = PortableServer::POA::_nil();
    s_tablePOA = PortableServer::POA::_nil();
    Krovane::KroSystem::Instance(1)->Destroy();
  }

  PortableServer::POA_ptr OrbEnvironment::TablePOA() { return s_tablePOA.in(); }
  PortableServer::POA_ptr OrbEnvironment::OtherPOA() { return s_otherPOA.in(); }

  Krovane::ServerObjectTable* OrbEnvironment::Table()
  {
    return Krovane::ServerObjectTable::Instance(PortableServer::POA::_nil());
  }

  ActiveServant::ActiveServant(PortableServer::POA_ptr poa, PortableServer::ServantBase* servant)
    : m_poa(PortableServer::POA::_duplicate(poa)), m_servant(servant), m_active(true)
  {
    m_id = m_poa->activate_object(servant);
    CORBA::Object_var object = m_poa->id_to_reference(m_id.in());
    m_ref = Krovane::ISyncServer::_narrow(object.in());
  }

  ActiveServant::~ActiveServant() { Deactivate(); }

  void ActiveServant::Deactivate()
  {
    if (!m_active)
      return;
    m_active = false;
    try
    {
      m_poa->deactivate_object(m_id.in());
    }
    catch (const PortableServer::POA::ObjectNotActive&)
    {
      // already gone (a table clean-up)
    }
  }

  bool InTable(const PortableServer::ObjectId& id)
  {
    Krovane::ServerObjectTable* table = OrbEnvironment::Table();
    return table->find(id) != table->end();
  }
}
