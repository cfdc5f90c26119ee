// The ORB of a unit-test program that tests server objects in process: one
// ORB for the program, a POA for the server objects (which the first factory
// gives to the object table) and a second POA of no factory's table.
#ifndef KRO_TESTS_UNIT_ORBFIXTURE_H
#define KRO_TESTS_UNIT_ORBFIXTURE_H

#include "KroServer/ServerObjectTable.h"
#include "KroServer/SyncServerImpl.h"
#include "Krovane.hh"

#include <gtest/gtest.h>

namespace KroTest
{
  class OrbEnvironment : public ::testing::Environment
  {
  public:
    void SetUp() override;
    void TearDown() override;

    // The POA of the table's server objects, and another one.
    static PortableServer::POA_ptr TablePOA();
    static PortableServer::POA_ptr OtherPOA();
    static Krovane::ServerObjectTable* Table();
  };

  // A servant active in a POA for the life of this holder, then deactivated
  // (and so destroyed once nothing else holds it).
  class ActiveServant
  {
  public:
    // Takes the creator's reference to servant.
    ActiveServant(PortableServer::POA_ptr poa, PortableServer::ServantBase* servant);
    ~ActiveServant();

    Krovane::ISyncServer_ptr Ref() const { return m_ref.in(); }
    const PortableServer::ObjectId& Id() const { return m_id.in(); }
    // Deactivates it now.
    void Deactivate();

  private:
    ActiveServant(const ActiveServant&) = delete;
    ActiveServant& operator=(const ActiveServant&) = delete;

    PortableServer::POA_var m_poa;
    PortableServer::ServantBase_var m_servant;
    PortableServer::ObjectId_var m_id;
    Krovane::ISyncServer_var m_ref;
    bool m_active;
  };

  // A server object that is no SyncServerImpl.
  class PlainServer : public virtual POA_Krovane::ISyncServer,
                      public virtual PortableServer::RefCountServantBase
  {
  public:
    char* GetMachineInfo() override { return CORBA::string_dup("plain"); }
    void Remove() override {}
    void CancelAllOperations() override {}
    void UpdateUserToken(const Krovane::UserToken&) override {}
  };

  // Whether the table has an entry for id.
  bool InTable(const PortableServer::ObjectId& id);
}

#endif
