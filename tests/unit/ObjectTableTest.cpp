// The object table and the factory base: id order, adding and removing,
// counting, clean-up, and which POA the table keeps.
#include "OrbFixture.h"

#include "KroServer/ObjectIdComparer.h"
#include "KroServer/ServerFactoryImpl.h"
#include "KroServer/SynchronousOperation.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

using Krovane::ServerObjectTable;
using Krovane::SyncServerImpl;
using KroTest::ActiveServant;
using KroTest::InTable;
using KroTest::LogCapture;
using KroTest::OrbEnvironment;

namespace
{
  const std::string kAdded = "(%P|%t) ServerObjectTable::AddObject() Added Object\n";
  const std::string kRemoved = "(%P|%t) ServerObjectTable::RemoveObject() removed object\n";

  PortableServer::ObjectId Id(std::initializer_list<CORBA::Octet> octets)
  {
    PortableServer::ObjectId id;
    id.length(static_cast<CORBA::ULong>(octets.size()));
    CORBA::ULong i = 0;
    for (CORBA::Octet octet : octets)
      id[i++] = octet;
    return id;
  }

  void Count(int& objects, int& operations)
  {
    objects = -1;
    operations = -1;
    OrbEnvironment::Table()->NumObjectsAndActiveOperations(objects, operations);
  }
}

TEST(ObjectIdComparer, EmptyFirstPrefixFirstOctetsUnsigned)
{
  const Krovane::ObjectIdComparer less;
  const PortableServer::ObjectId empty = Id({});
  EXPECT_FALSE(less(empty, empty));
  EXPECT_TRUE(less(empty, Id({0x00})));
  EXPECT_FALSE(less(Id({0x00}), empty));

  EXPECT_TRUE(less(Id({1, 2}), Id({1, 2, 0})));
  EXPECT_FALSE(less(Id({1, 2, 0}), Id({1, 2})));
  EXPECT_FALSE(less(Id({1, 2}), Id({1, 2})));

  EXPECT_TRUE(less(Id({0x7f}), Id({0x80})));
  EXPECT_FALSE(less(Id({0x80}), Id({0x7f})));
  EXPECT_TRUE(less(Id({0x7f, 0xff, 0xff}), Id({0x80})));
  EXPECT_TRUE(less(Id({5, 0x01}), Id({5, 0xfe})));
}

TEST(ServerObjectTable, AddTwiceThenRemoveTwiceAndOnlyTheFirstOfEachLogs)
{
  ServerObjectTable* table = OrbEnvironment::Table();
  ActiveServant server(OrbEnvironment::TablePOA(), new SyncServerImpl(OrbEnvironment::TablePOA(), 1));
  LogCapture capture;

  EXPECT_EQ(1, table->AddObject(server.Ref()));
  EXPECT_EQ(0, table->AddObject(server.Ref()));
  EXPECT_EQ(std::vector<std::string>{kAdded}, capture.Lines());
  EXPECT_TRUE(InTable(server.Id()));
  int objects, operations;
  Count(objects, operations);
  EXPECT_EQ(1, objects);

  capture.Clear();
  EXPECT_EQ(1, table->RemoveObject(server.Ref()));
  EXPECT_EQ(0, table->RemoveObject(server.Ref()));
  EXPECT_EQ(std::vector<std::string>{kRemoved}, capture.Lines());
  EXPECT_FALSE(InTable(server.Id()));
}

TEST(ServerObjectTable, CountsObjectsAndTheirOperations)
{
  int objects, operations;
  Count(objects, operations);
  EXPECT_EQ(0, objects);
  EXPECT_EQ(0, operations);

  ServerObjectTable* table = OrbEnvironment::Table();
  SyncServerImpl* busy = new SyncServerImpl(OrbEnvironment::TablePOA(), 1);
  ActiveServant busyServer(OrbEnvironment::TablePOA(), busy);
  ActiveServant idleServer(OrbEnvironment::TablePOA(), new SyncServerImpl(OrbEnvironment::TablePOA(), 1));
  ActiveServant plainServer(OrbEnvironment::TablePOA(), new KroTest::PlainServer);
  for (int i = 0; i < 3; ++i)  // the server object deletes them
    busy->AddOperation(new Krovane::SynchronousOperation(busyServer.Ref(), "work"));

  ASSERT_EQ(1, table->AddObject(busyServer.Ref()));
  ASSERT_EQ(1, table->AddObject(idleServer.Ref()));
  Count(objects, operations);
  EXPECT_EQ(2, objects);
  EXPECT_EQ(3, operations);

  // A servant of another kind counts as an object without operations.
  ASSERT_EQ(1, table->AddObject(plainServer.Ref()));
  Count(objects, operations);
  EXPECT_EQ(3, objects);
  EXPECT_EQ(3, operations);

  for (const ActiveServant* server : {&busyServer, &idleServer, &plainServer})
    EXPECT_EQ(1, table->RemoveObject(server->Ref()));
}

TEST(ServerObjectTable, CountingStopsAtAnObjectNoLongerActive)
{
  ServerObjectTable* table = OrbEnvironment::Table();
  ActiveServant server(OrbEnvironment::TablePOA(), new SyncServerImpl(OrbEnvironment::TablePOA(), 1));
  ASSERT_EQ(1, table->AddObject(server.Ref()));
  server.Deactivate();

  testing::internal::CaptureStdout();
  int objects, operations;
  Count(objects, operations);
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(0, objects);
  EXPECT_EQ(0, operations);
  EXPECT_EQ("Problem in ServerObjectTable::NumObjectsAndActiveOperations()\n"
            "ObjectNotActive (IDL:omg.org/PortableServer/POA/ObjectNotActive:1.0)\n",
            printed);

  EXPECT_EQ(1, table->RemoveObject(server.Ref()));  // the entry stays until removed
}

TEST(ServerObjectTable, CleanUpDeactivatesEveryObjectAndEmptiesTheTable)
{
  ServerObjectTable* table = OrbEnvironment::Table();
  PortableServer::POA_ptr poa = OrbEnvironment::TablePOA();
  ActiveServant first(poa, new SyncServerImpl(poa, 1));
  ActiveServant second(poa, new SyncServerImpl(poa, 0));
  ASSERT_EQ(1, table->AddObject(first.Ref()));
  ASSERT_EQ(1, table->AddObject(second.Ref()));

  Krovane::ServerFactoryImpl* factory = new Krovane::ServerFactoryImpl(poa);
  PortableServer::ServantBase_var holder(factory);
  factory->CleanUpObjectTable();

  EXPECT_TRUE(table->empty());
  for (const ActiveServant* server : {&first, &second})
    EXPECT_THROW(PortableServer::ServantBase_var(poa->id_to_servant(server->Id())),
                 PortableServer::POA::ObjectNotActive);
}

TEST(ServerFactoryImpl, SecondFactoryWithAnotherPOALeavesTheTablePOA)
{
  PortableServer::POA_ptr tablePOA = OrbEnvironment::TablePOA();
  PortableServer::POA_ptr otherPOA = OrbEnvironment::OtherPOA();
  Krovane::ServerFactoryImpl* factory = new Krovane::ServerFactoryImpl(otherPOA);
  PortableServer::ServantBase_var holder(factory);

  EXPECT_EQ(OrbEnvironment::Table(), factory->GetTable());
  PortableServer::POA_var own = factory->GetServerObjectPOA();
  EXPECT_TRUE(own->_is_equivalent(otherPOA));
  Krovane::UserToken token;
  Krovane::ISyncServer_var created = factory->CreateObject(token);
  EXPECT_TRUE(CORBA::is_nil(created.in()));

  // The table still names objects by their ids in its own POA...
  ActiveServant inTablePOA(tablePOA, new SyncServerImpl(tablePOA, 1));
  EXPECT_EQ(1, factory->AddObjectToTable(inTablePOA.Ref()));
  EXPECT_TRUE(InTable(inTablePOA.Id()));
  EXPECT_EQ(1, factory->RemoveObjectFromTable(inTablePOA.Ref()));

  // ...and refuses an object of the second factory's POA.
  ActiveServant inOtherPOA(otherPOA, new SyncServerImpl(otherPOA, 1));
  EXPECT_THROW(factory->AddObjectToTable(inOtherPOA.Ref()), PortableServer::POA::WrongAdapter);
  EXPECT_TRUE(OrbEnvironment::Table()->empty());
}
