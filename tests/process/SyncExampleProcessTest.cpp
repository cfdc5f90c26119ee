// The synchronous example across processes: a real KroExampleSyncServer on
// 127.0.0.1, used by this test process through its own ORB or by the real
// KroExampleSyncClient.
#include "support/ClientOrb.h"
#include "support/LogLines.h"
#include "support/ProcessHarness.h"
#include "support/RawSockets.h"

#include "Krovane.hh"

#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <memory>

using namespace std::chrono_literals;

using KroTest::Token;

namespace
{
  // The server's log lines this test looks for.
  const char* const kAdded = "ServerObjectTable::AddObject() Added Object";
  const char* const kRemoved = "ServerObjectTable::RemoveObject() removed object";

  // The first line of text.
  std::string FirstLine(const std::string& text)
  {
    return text.substr(0, text.find('\n'));
  }

  // A server process and its factory, reached from this process.
  class SyncExample : public ::testing::Test
  {
  protected:
    SyncExample()
      : m_server(KRO_EXAMPLE_SYNC_SERVER)
    {
      CORBA::Object_var object = KroTest::ObjectFromIor(m_server.Ior());
      m_factory = Krovane::IServerFactory::_narrow(object.in());
    }

    // The server's log (its standard error).
    const KroTest::OutputCollector& ServerLog() { return m_server.Process().Stderr(); }

    KroTest::ServerProcess m_server;        // killed and reaped with the fixture
    Krovane::IServerFactory_var m_factory;  // the server's factory
  };
}

TEST_F(SyncExample, ObjectsServeTheirUsersAndRemoveTakesOnlyThatObjectOutOfTheTable)
{
  ASSERT_FALSE(CORBA::is_nil(m_factory.in()));
  Krovane::ISyncServer_var first = m_factory->CreateObject(Token("alice"));
  ASSERT_FALSE(CORBA::is_nil(first.in()));
  EXPECT_TRUE(ServerLog().WaitFor("ExampleSyncFactory created an object for user \"alice\"", 10s))
    << m_server.Process().Describe();
  EXPECT_EQ(1, ServerLog().Count(kAdded));

  // The machine description, the same every time.
  CORBA::String_var machine = first->GetMachineInfo();
  CORBA::String_var again = first->GetMachineInfo();
  char host[256] = {0};
  ASSERT_EQ(0, gethostname(host, sizeof host - 1));
  EXPECT_EQ("Host: " + std::string(host), FirstLine(machine.in()));
  EXPECT_STREQ(machine.in(), again.in());  // the server keeps its first answer

  // A new user; any octets travel, a zero included.
  first->UpdateUserToken(Token("bob"));
  EXPECT_TRUE(ServerLog().WaitFor("user token now \"bob\"", 10s)) << m_server.Process().Describe();
  first->UpdateUserToken(Token(std::string("a\0b", 3)));
  EXPECT_TRUE(ServerLog().WaitFor("user token now \"a\\x00b\"", 10s)) << m_server.Process().Describe();

  Krovane::ISyncServer_var second = m_factory->CreateObject(Token("bob"));
  ASSERT_FALSE(first->_is_equivalent(second.in()));
  EXPECT_TRUE(ServerLog().WaitFor(kAdded, 10s, 2)) << m_server.Process().Describe();
  first->Remove();
  EXPECT_TRUE(ServerLog().WaitFor(kRemoved, 10s)) << m_server.Process().Describe();

  // The other client's object is untouched and can still be removed.
  machine = second->GetMachineInfo();
  EXPECT_NE(std::string(), machine.in());
  EXPECT_EQ(1, ServerLog().Count(kRemoved));
  second->Remove();
  EXPECT_TRUE(ServerLog().WaitFor(kRemoved, 10s, 2)) << m_server.Process().Describe();
}

TEST_F(SyncExample, SigtermEndsTheServerCleanlyAndTheExampleClientThenFails)
{
  const std::string ior = m_server.Ior();
  Krovane::ISyncServer_var server = m_factory->CreateObject(Token("alice"));
  server = Krovane::ISyncServer::_nil();

  const auto status = m_server.Stop(20s);
  ASSERT_TRUE(status.has_value()) << m_server.Process().Describe();
  EXPECT_TRUE(status->exited) << status->Describe();
  EXPECT_EQ(0, status->code) << m_server.Process().Describe();
  EXPECT_EQ(1, ServerLog().Count("shutting down (signal " + std::to_string(SIGTERM) + ")"));
  EXPECT_EQ(1, ServerLog().Count("ExampleSyncObject destroyed"));  // the POA let it go

  // The example client, given the gone server's reference, reports failure.
  KroTest::ChildProcess client(KRO_EXAMPLE_SYNC_CLIENT, {"--ior", ior, "--timeout-ms", "5000"});
  const auto clientStatus = client.WaitForExit(60s);
  ASSERT_TRUE(clientStatus.has_value()) << client.Describe();
  EXPECT_TRUE(clientStatus->exited) << client.Describe();
  EXPECT_EQ(1, clientStatus->code) << client.Describe();
  EXPECT_NE(std::string::npos, client.Stdout().Text().find("client: failed: ")) << client.Describe();
}

TEST_F(SyncExample, ExampleClientRunsEveryStep)
{
  KroTest::ChildProcess client(KRO_EXAMPLE_SYNC_CLIENT,
                               {"--ior-file", m_server.IorFile(), "--token", "carol",
                                "--new-token", "dave"});
  const auto status = client.WaitForExit(60s);
  ASSERT_TRUE(status.has_value()) << client.Describe();
  EXPECT_TRUE(status->exited && status->code == 0) << client.Describe();

  const std::string report = client.Stdout().Text();
  EXPECT_NE(std::string::npos, report.find("client: CreateObject(\"carol\") -> a server object"));
  EXPECT_NE(std::string::npos, report.find("client:   Host: ")) << report;
  EXPECT_NE(std::string::npos, report.find("client: Remove -> done")) << report;
  EXPECT_NE(std::string::npos, report.find("client: all steps done")) << report;

  EXPECT_TRUE(ServerLog().WaitFor(kRemoved, 10s)) << m_server.Process().Describe();
  EXPECT_EQ(1, ServerLog().Count("for user \"carol\""));
  EXPECT_EQ(1, ServerLog().Count("user token now \"dave\""));
}

namespace
{
  // The server's resident set in kB (0 when it cannot be read).
  long ResidentKilobytes(pid_t pid)
  {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
      if (line.compare(0, 6, "VmRSS:") == 0)
        return std::stol(line.substr(6));
    return 0;
  }
}

// A creation the object table refuses (the user has its one object) leaves
// no live object behind: 6,000 refusals grow the server by less than 1 MB,
// and the user's one object still serves.
TEST(SyncExampleRefusals, RefusedCreationsLeaveNothingActive)
{
  KroTest::ServerProcess server(KRO_EXAMPLE_SYNC_SERVER, {"--max-objects-per-user", "1", "--quiet"});
  CORBA::Object_var object = KroTest::ObjectFromIor(server.Ior());
  Krovane::IServerFactory_var factory = Krovane::IServerFactory::_narrow(object.in());
  Krovane::ISyncServer_var kept = factory->CreateObject(Token("alice"));
  const auto refuse = [&](int times) {
    int refused = 0;
    for (int i = 0; i < times; ++i)
    {
      try
      {
        Krovane::ISyncServer_var extra = factory->CreateObject(Token("alice"));
      }
      catch (const CORBA::SystemException&)
      {
        ++refused;
      }
    }
    return refused;
  };
  ASSERT_EQ(500, refuse(500));  // the allocator's pools settle first
  const long before = ResidentKilobytes(server.Process().Pid());
  ASSERT_EQ(6000, refuse(6000));
  const long after = ResidentKilobytes(server.Process().Pid());
  std::printf("6000 refused creations: VmRSS %ld kB -> %ld kB (%+ld kB)\n", before, after, after - before);
  ASSERT_GT(before, 0);
  if (KroTest::kResidentMemoryTellsWhatIsKept)
    EXPECT_LT(after - before, 1024);
  CORBA::String_var machine = kept->GetMachineInfo();
  EXPECT_EQ(0, std::string(machine.in()).find("Host: "));
}
