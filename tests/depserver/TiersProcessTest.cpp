// The two-tier example across processes on 127.0.0.1, with a real naming
// service (omniNames, in a data directory of its own): back ends bound
// under KroTiers/BackEnds, a front end whose registry comes from there,
// and clients of the front end. A back end killed in the middle of an
// operation must leave the front end serving, with the entry free again.
#include "support/NamingService.h"
#include "support/ProcessHarness.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace
{
  using KroTest::ChildProcess;

  // A naming service and the tier processes of one test, all reaped with it.
  class TiersTest : public ::testing::Test
  {
  protected:
    // The children of a leak-checking build leave omniORB's unjoined
    // threads alone (unless the caller set options of its own).
    static void SetUpTestSuite()
    {
      setenv("LSAN_OPTIONS", "print_suppressions=0:suppressions=" KRO_DEPSERVER_LSAN_SUPPRESSIONS, 0);
    }

    // Starts a tier server and waits until its factory is bound (it writes
    // its IOR file after binding). endpoint: "" for any free port.
    ChildProcess& StartServer(const std::string& program, std::vector<std::string> args,
                              const std::string& endpoint = "")
    {
      const std::string iorFile = m_files.File("server" + std::to_string(m_servers.size()) + ".ior");
      args.insert(args.end(), {"--ior-file", iorFile, "-ORBendPoint", "giop:tcp:127.0.0.1:" + endpoint});
      for (const std::string& option : m_names.InitRef())
        args.push_back(option);
      m_servers.push_back(std::make_unique<ChildProcess>(program, args));
      ChildProcess& server = *m_servers.back();
      if (!KroTest::WaitForFile(iorFile, 20s, &server))
        throw std::runtime_error("no IOR from " + server.Describe());
      return server;
    }

    ChildProcess& StartBackEnd(const std::string& name, const std::string& endpoint = "")
    {
      return StartServer(KRO_TIERS_BACK_END, {"--name", name}, endpoint);
    }

    ChildProcess& StartFrontEnd() { return StartServer(KRO_TIERS_FRONT_END, {}); }

    // A client of the front end for user token, an operation of steps steps.
    ChildProcess& StartClient(const std::string& token, int steps)
    {
      std::vector<std::string> args{"--token", token, "--steps", std::to_string(steps), "-ORBendPoint",
                                    "giop:tcp:127.0.0.1:"};
      for (const std::string& option : m_names.InitRef())
        args.push_back(option);
      m_clients.push_back(std::make_unique<ChildProcess>(KRO_TIERS_CLIENT, args));
      return *m_clients.back();
    }

    // No process of the test met a sanitizer's complaint.
    void TearDown() override
    {
      for (const auto* processes : {&m_servers, &m_clients})
        for (const auto& process : *processes)
          EXPECT_EQ(process->Stderr().Text().find("Sanitizer"), std::string::npos) << process->Describe();
    }

    // Waits for the client's end; true when it ended with status 0.
    static bool Succeeds(ChildProcess& client)
    {
      const std::optional<KroTest::ExitStatus> status = client.WaitForExit(60s);
      return status && status->exited && status->code == 0;
    }

    KroTest::NamingService m_names;                      // started first, reaped last
    KroTest::TemporaryDirectory m_files;                 // the IOR files
    std::vector<std::unique_ptr<ChildProcess>> m_servers;  // back ends and front end
    std::vector<std::unique_ptr<ChildProcess>> m_clients;  // the clients
  };

  // The line a client prints for the results of back end for user.
  std::string ResultsLine(const std::string& backEnd, int steps, const std::string& user)
  {
    return "client: Results \"" + backEnd + ": " + std::to_string(steps) + " steps done for " + user + "\"\n";
  }
}

TEST_F(TiersTest, FrontEndForwardsEachClientToAFreeBackEnd)
{
  ChildProcess& first = StartBackEnd("B1");
  ChildProcess& second = StartBackEnd("B2");
  ChildProcess& frontEnd = StartFrontEnd();

  // Two clients at once: alice's long operation holds its back end while
  // bob's is forwarded, however slowly the front end's pool grows.
  ChildProcess& alice = StartClient("alice", 24);
  ASSERT_TRUE(alice.Stdout().WaitFor("client: Progress ", 60s)) << alice.Describe() << frontEnd.Describe();
  ChildProcess& bob = StartClient("bob", 8);
  ASSERT_TRUE(Succeeds(alice)) << alice.Describe() << frontEnd.Describe();
  ASSERT_TRUE(Succeeds(bob)) << bob.Describe() << frontEnd.Describe();

  const std::string aliceSaw = alice.Stdout().Text();
  const std::string bobSaw = bob.Stdout().Text();
  const bool aliceOnFirst = aliceSaw.find(ResultsLine("B1", 24, "alice")) != std::string::npos;
  EXPECT_NE(aliceSaw.find(ResultsLine(aliceOnFirst ? "B1" : "B2", 24, "alice")), std::string::npos) << aliceSaw;
  EXPECT_NE(bobSaw.find(ResultsLine(aliceOnFirst ? "B2" : "B1", 8, "bob")), std::string::npos) << bobSaw;
  EXPECT_NE(aliceSaw.find("client: Progress 4%\nclient: Progress 8%\n"), std::string::npos) << aliceSaw;
  EXPECT_NE(bobSaw.find("client: Progress 13%\nclient: Progress 25%\n"), std::string::npos) << bobSaw;
  for (const std::string& seen : {aliceSaw, bobSaw})
    EXPECT_NE(seen.find("client: Finished\nclient: object removed\n"), std::string::npos) << seen;
  EXPECT_TRUE(first.Stderr().WaitFor(aliceOnFirst ? ") KroTiersBackEnd B1: 24 steps for " : ") KroTiersBackEnd B1: 8 steps for ", 5s));
  EXPECT_TRUE(second.Stderr().WaitFor(aliceOnFirst ? ") KroTiersBackEnd B2: 8 steps for " : ") KroTiersBackEnd B2: 24 steps for ", 5s));
  EXPECT_EQ(frontEnd.Stdout().Text(), "");  // nothing went wrong

  // Every server ends cleanly on SIGTERM.
  for (const auto& server : m_servers)
  {
    server->Signal(SIGTERM);
    const std::optional<KroTest::ExitStatus> status = server->WaitForExit(20s);
    ASSERT_TRUE(status && status->exited && status->code == 0) << server->Describe();
  }
}

TEST_F(TiersTest, BackEndKilledMidOperationLeavesTheFrontEndServing)
{
  // A fixed port: the back end's factory reference survives a restart.
  const std::string port = std::to_string(KroTest::FreeLoopbackPort());
  ChildProcess& backEnd = StartBackEnd("B1", port);
  ChildProcess& frontEnd = StartFrontEnd();

  ChildProcess& alice = StartClient("alice", 200);
  ASSERT_TRUE(alice.Stdout().WaitFor("client: Progress ", 30s)) << alice.Describe();
  backEnd.Kill();

  // The client hears that the back end is gone, then Finished.
  ASSERT_TRUE(Succeeds(alice)) << alice.Describe() << frontEnd.Describe();
  EXPECT_NE(alice.Stdout().Text().find("client: Error SysException \"back end B1 is gone\"\n"
                                       "client: Finished\n"), std::string::npos)
    << alice.Stdout().Text();
  EXPECT_FALSE(frontEnd.HasExited());
  // The dependent object could not be removed: printed, and the operation ended.
  ASSERT_TRUE(frontEnd.Stdout().WaitFor("\nAsynchronousDepServerOperation::Dispatch after narrow: ", 5s))
    << frontEnd.Describe();
  const std::string printed = "\n" + frontEnd.Stdout().Text();
  for (const char* place : {"KroTiersFrontEnd: back end lost: ", "AsynchronousDepServerRouter::Cleanup(): ",
                            "AsynchronousDepServerRouter::DispatchOperation: "})
    EXPECT_NE(printed.find(std::string("\n") + place), std::string::npos) << place << " in " << printed;

  // The back end comes back on its port: the freed entry takes the next
  // client there.
  StartBackEnd("B1", port);
  ChildProcess& bob = StartClient("bob", 2);
  ASSERT_TRUE(Succeeds(bob)) << bob.Describe() << frontEnd.Describe();
  EXPECT_NE(bob.Stdout().Text().find(ResultsLine("B1", 2, "bob")), std::string::npos) << bob.Stdout().Text();
}
