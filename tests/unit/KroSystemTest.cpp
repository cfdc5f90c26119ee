// The process ORB singleton in a program that starts without an ORB: the
// strict and lenient views before, during and after the ORB's life, and the
// object table of a process where no factory gave it a POA.
#include "KroDazadared/KroSystem.h"
#include "KroServer/ServerObjectTable.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using Krovane::KroSystem;
using KroTest::LogCapture;

namespace
{
  std::string Refusal(const char* method)
  {
    return std::string("(%P|%t) KroSystem::") + method +
           ": the ORB is not initialised; call KroSystem::InitOrb first\n";
  }

  void ExpectNoOrb()
  {
    LogCapture capture;
    EXPECT_EQ(0, KroSystem::Instance(0)->IsInitialised());
    CORBA::ORB_var orb = KroSystem::Instance(0)->GetOrb();
    PortableServer::POA_var root = KroSystem::Instance(0)->GetRootPOA();
    EXPECT_TRUE(CORBA::is_nil(orb.in()));
    EXPECT_TRUE(CORBA::is_nil(root.in()));
    EXPECT_TRUE(capture.Lines().empty());

    EXPECT_THROW(CORBA::ORB_var(KroSystem::Instance(1)->GetOrb()), CORBA::BAD_INV_ORDER);
    EXPECT_THROW(PortableServer::POA_var(KroSystem::Instance(1)->GetRootPOA()), CORBA::BAD_INV_ORDER);
    EXPECT_EQ((std::vector<std::string>{Refusal("GetOrb"), Refusal("GetRootPOA")}), capture.Lines());
  }
}

TEST(KroSystem, OrbLifecycle)
{
  // A process initialises its ORB once.
  static bool ran = false;
  if (ran)
    GTEST_SKIP() << "the ORB was already initialised in this process";
  ran = true;
  ExpectNoOrb();

  static char program[] = "KroSystemTest";
  char* argv[] = {program, nullptr};
  int argc = 1;
  KroSystem::Instance(1)->InitOrb(argc, argv);
  EXPECT_EQ(1, KroSystem::Instance(0)->IsInitialised());
  for (int strict : {0, 1})
  {
    CORBA::ORB_var orb = KroSystem::Instance(strict)->GetOrb();
    PortableServer::POA_var root = KroSystem::Instance(strict)->GetRootPOA();
    EXPECT_FALSE(CORBA::is_nil(orb.in()));
    ASSERT_FALSE(CORBA::is_nil(root.in()));
    CORBA::String_var name = root->the_name();
    EXPECT_STREQ("RootPOA", name.in());
  }
  EXPECT_THROW(KroSystem::Instance(0)->InitOrb(argc, argv), CORBA::BAD_INV_ORDER);

  KroSystem::Instance(1)->Destroy();
  ExpectNoOrb();
}

TEST(ServerObjectTable, WithoutAFactoryCountsNothingAndRefusesObjects)
{
  Krovane::ServerObjectTable* table = Krovane::ServerObjectTable::Instance(PortableServer::POA::_nil());
  ASSERT_NE(nullptr, table);
  EXPECT_EQ(table, Krovane::ServerObjectTable::Instance(PortableServer::POA::_nil()));
  int objects = -1, operations = -1;
  table->NumObjectsAndActiveOperations(objects, operations);
  EXPECT_EQ(0, objects);
  EXPECT_EQ(0, operations);
  EXPECT_THROW(table->AddObject(Krovane::ISyncServer::_nil()), CORBA::BAD_INV_ORDER);
  EXPECT_THROW(table->RemoveObject(Krovane::ISyncServer::_nil()), CORBA::BAD_INV_ORDER);
  EXPECT_NO_THROW(table->CleanUp());
}
