// The two-tier example across processes on 127.0.0.1, with a real naming
// service (omniNames, in a data directory of its own): back ends bound
// under KroTiers/BackEnds, front ends whose registries follow them, and
// clients of the front ends. A back end killed in the middle of an
// operation must leave the front end serving, with the entry free again;
// back ends and front ends come and go, and whatever else is bound beside
// them is skipped.
#include "KroKit/HmacToken.h"

#include "support/ClientOrb.h"
#include "support/NamingService.h"
#include "support/ProcessHarness.h"

#include <omniORB4/Naming.hh>

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <fstream>
#include <map>
#include <memory>
#include <set>
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

    ChildProcess& StartFrontEnd(std::vector<std::string> args = {}) { return StartServer(KRO_TIERS_FRONT_END, args); }

    // A client of the front end for user token, an operation of steps steps.
    ChildProcess& StartClient(const std::string& token, int steps, const std::vector<std::string>& extra = {})
    {
      std::vector<std::string> args{"--token", token, "--steps", std::to_string(steps), "-ORBendPoint",
                                    "giop:tcp:127.0.0.1:"};
      args.insert(args.end(), extra.begin(), extra.end());
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

    // The naming service's context at path (created where missing), through the test's ORB.
    CosNaming::NamingContext_ptr Context(const std::vector<std::string>& path)
    {
      const std::string location = m_names.InitRef().back();
      CORBA::ORB_var orb = KroTest::ClientOrb();
      CORBA::Object_var object = orb->string_to_object(location.substr(location.find('=') + 1).c_str());
      CosNaming::NamingContext_var context = CosNaming::NamingContext::_narrow(object.in());
      for (const std::string& id : path)
      {
        CosNaming::Name name(1);
        name.length(1);
        name[0].id = id.c_str();
        try
        {
          context = context->bind_new_context(name);
        }
        catch (const CosNaming::NamingContext::AlreadyBound&)
        {
          object = context->resolve(name);
          context = CosNaming::NamingContext::_narrow(object.in());
        }
      }
      return context._retn();
    }

    KroTest::NamingService m_names;                      // started first, reaped last
    KroTest::TemporaryDirectory m_files;                 // the IOR files
    std::vector<std::unique_ptr<ChildProcess>> m_servers;  // back ends and front end
    std::vector<std::unique_ptr<ChildProcess>> m_clients;  // the clients
  };

  // A TCP port of 127.0.0.1 where connections are taken but never
  // answered: a server that is too slow.
  class SilentPort
  {
  public:
    SilentPort() : m_fd(socket(AF_INET, SOCK_STREAM, 0))
    {
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      socklen_t length = sizeof address;
      if (m_fd < 0 || bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(m_fd, 16) != 0 ||
          getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("no silent port");
      m_port = ntohs(address.sin_port);
    }
    ~SilentPort() { close(m_fd); }
    SilentPort(const SilentPort&) = delete;
    SilentPort& operator=(const SilentPort&) = delete;

    int Port() const { return m_port; }

  private:
    int m_fd;
    int m_port = 0;
  };

  // A one-part name.
  CosNaming::Name OneName(const char* id, const char* kind)
  {
    CosNaming::Name name(1);
    name.length(1);
    name[0].id = id;
    name[0].kind = kind;
    return name;
  }

  // The back end that served client (from its Results line), or "".
  std::string ServedBy(ChildProcess& client)
  {
    const std::string text = client.Stdout().Text();
    const std::string results = "client: Results \"";
    const std::size_t at = text.find(results);
    return at == std::string::npos ? "" : text.substr(at + results.size(), text.find(':', at + results.size()) - at - results.size());
  }

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

// Back ends and front ends that come and go, and strangers in the naming
// context: every front end skips what is no back end (with a log line) and
// takes away the binding of a back end that was killed; a client picks a
// front end that answers; a back end that ends cleanly takes its binding
// away and leaves the registries; a back end that comes later, or comes
// back under its name with a new reference, is used.
TEST_F(TiersTest, BackEndsAndFrontEndsComeAndGoStrangersAreSkipped)
{
  ChildProcess& first = StartBackEnd("B1");
  StartBackEnd("Dead").Kill();  // its binding stays behind
  SilentPort silent;
  CORBA::ORB_var orb = KroTest::ClientOrb();
  CosNaming::NamingContext_var backEnds = Context({"KroTiers", "BackEnds"});
  CORBA::Object_var slow = orb->string_to_object(("corbaloc::127.0.0.1:" + std::to_string(silent.Port()) + "/factory").c_str());
  // Strangers beside the back ends, and what a front end logs of each.
  const struct
  {
    const char* id;
    const char* kind;
    CORBA::Object_ptr object;  // nil: a context
    const char* logged;
  } strangers[] = {
    {"notes", "txt", backEnds.in(), "TierDirectory: \"notes.txt\" skipped: not a server's name"},
    {"Extra", "", CORBA::Object::_nil(), "TierDirectory: \"Extra\" skipped: not a server's name"},
    {"Names", "factory", backEnds.in(), "TierDirectory: \"Names.factory\" skipped: not a factory"},
    {"Slow", "factory", slow.in(), "TierDirectory: \"Slow.factory\" skipped: its type is not known (TIMEOUT)"},
  };
  for (const auto& stranger : strangers)
  {
    if (CORBA::is_nil(stranger.object))
      CosNaming::NamingContext_var context = backEnds->bind_new_context(OneName(stranger.id, stranger.kind));
    else
      backEnds->bind(OneName(stranger.id, stranger.kind), stranger.object);
  }

  ChildProcess& frontEnd1 = StartFrontEnd({"--name", "F1", "--refresh-ms", "300"});
  ChildProcess& frontEnd2 = StartFrontEnd({"--name", "F2", "--refresh-ms", "300"});
  for (ChildProcess* frontEnd : {&frontEnd1, &frontEnd2})
    for (const auto& stranger : strangers)
      EXPECT_TRUE(frontEnd->Stderr().WaitFor(stranger.logged, 20s)) << stranger.logged << frontEnd->Describe();
  ASSERT_TRUE(frontEnd1.Stderr().WaitFor("\"Dead.factory\" skipped: its server is gone", 20s)) << frontEnd1.Describe();
  EXPECT_THROW(CORBA::Object_var(backEnds->resolve(OneName("Dead", "factory"))), CosNaming::NamingContext::NotFound);

  ChildProcess& alice = StartClient("alice", 2);
  ASSERT_TRUE(Succeeds(alice)) << alice.Describe() << frontEnd1.Describe() << frontEnd2.Describe();
  EXPECT_EQ("B1", ServedBy(alice)) << alice.Describe();

  // F1 killed, its binding left: the client takes F2.
  frontEnd1.Kill();
  ChildProcess& bob = StartClient("bob", 2);
  ASSERT_TRUE(Succeeds(bob)) << bob.Describe() << frontEnd2.Describe();
  EXPECT_NE(bob.Stdout().Text().find("client: front end F2\n"), std::string::npos) << bob.Describe();

  // B1 ends cleanly: unbound, out of the registry.
  first.Signal(SIGTERM);
  const std::optional<KroTest::ExitStatus> status = first.WaitForExit(20s);
  ASSERT_TRUE(status && status->exited && status->code == 0) << first.Describe();
  EXPECT_THROW(CORBA::Object_var(backEnds->resolve(OneName("B1", "factory"))), CosNaming::NamingContext::NotFound);
  ASSERT_TRUE(frontEnd2.Stderr().WaitFor("back end \"B1\" left the registry", 10s)) << frontEnd2.Describe();

  // B2 comes, B1 comes back (another port: a new reference); one client
  // holds one of them, the next gets the other.
  StartBackEnd("B2");
  StartBackEnd("B1");
  ASSERT_TRUE(frontEnd2.Stderr().WaitFor("back end \"B2\" in the registry", 10s)) << frontEnd2.Describe();
  ASSERT_TRUE(frontEnd2.Stderr().WaitFor("back end \"B1\" in the registry", 10s, 2)) << frontEnd2.Describe();
  ChildProcess& carol = StartClient("carol", 16);
  ASSERT_TRUE(carol.Stdout().WaitFor("client: Progress ", 30s)) << carol.Describe() << frontEnd2.Describe();
  ChildProcess& dave = StartClient("dave", 2);
  ASSERT_TRUE(Succeeds(dave)) << dave.Describe() << frontEnd2.Describe();
  ASSERT_TRUE(Succeeds(carol)) << carol.Describe() << frontEnd2.Describe();
  EXPECT_EQ(std::set<std::string>({"B1", "B2"}), std::set<std::string>({ServedBy(carol), ServedBy(dave)}));
  EXPECT_EQ(frontEnd2.Stdout().Text(), "");  // nothing went wrong

  // F2 killed mid-operation: its client's operation ends Failed within its
  // loss bound (2 s here), not at its own 60 s deadline.
  ChildProcess& erin = StartClient("erin", 200, {"--loss-seconds", "2"});
  ASSERT_TRUE(erin.Stdout().WaitFor("client: Progress ", 30s)) << erin.Describe() << frontEnd2.Describe();
  frontEnd2.Kill();
  const auto killed = std::chrono::steady_clock::now();
  const std::optional<KroTest::ExitStatus> lost = erin.WaitForExit(20s);
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - killed).count();
  ASSERT_TRUE(lost && lost->exited && lost->code == 1) << erin.Describe();
  EXPECT_LT(took, 2 + 8.0) << erin.Describe();  // the bound, and room for a loaded machine
  EXPECT_NE(erin.Stdout().Text().find("client: Error Unavailable \"server unreachable: "), std::string::npos)
    << erin.Describe();
  EXPECT_NE(erin.Stdout().Text().find("client: Failed\n"), std::string::npos) << erin.Describe();
}

// Every program refuses a bad number and an unknown option with a line and
// its usage (status 2), and names the naming service it cannot reach
// (status 1) rather than printing a bare TRANSIENT.
TEST_F(TiersTest, BadCommandLinesAndAnUnreachableNamingServiceEndWithAClearLine)
{
  const std::string down = "corbaloc::127.0.0.1:" + std::to_string(KroTest::FreeLoopbackPort()) + "/NameService";
  const std::vector<std::string> toDown{"-ORBendPoint", "giop:tcp:127.0.0.1:", "-ORBInitRef", "NameService=" + down};
  const std::string unreachable = "cannot reach the naming service at " + down +
                                  ": TRANSIENT (IDL:omg.org/CORBA/TRANSIENT:1.0), minor TRANSIENT_ConnectFailed";
  const struct
  {
    const char* program;
    std::vector<std::string> args;
    int status;
    std::string line;  // on standard error
  } cases[] = {
    {KRO_TIERS_CLIENT, {"--steps", "abc"}, 2, "KroTiersClient: bad value for --steps: abc\nusage: "},
    {KRO_TIERS_BACK_END, {"--name", "B1", "--step-ms", "5x"}, 2, "KroTiersBackEnd: bad value for --step-ms: 5x\nusage: "},
    {KRO_TIERS_FRONT_END, {"--refersh-ms", "300"}, 2, "KroTiersFrontEnd: unknown option --refersh-ms\nusage: "},
    {KRO_TIERS_BACK_END, {"--name", "B1"}, 1, "KroTiersBackEnd: " + unreachable},
    {KRO_TIERS_FRONT_END, {}, 1, "KroTiersFrontEnd: " + unreachable},
    {KRO_TIERS_CLIENT, {}, 1, "client: " + unreachable},
  };
  for (const auto& fault : cases)
  {
    std::vector<std::string> args = fault.args;
    if (fault.status == 1)
      args.insert(args.end(), toDown.begin(), toDown.end());
    m_clients.push_back(std::make_unique<ChildProcess>(fault.program, args));
    ChildProcess& process = *m_clients.back();
    const std::optional<KroTest::ExitStatus> status = process.WaitForExit(20s);
    ASSERT_TRUE(status && status->exited) << process.Describe();
    EXPECT_EQ(status->code, fault.status) << process.Describe();
    EXPECT_NE(process.Stderr().Text().find(fault.line), std::string::npos) << fault.line << "\n" << process.Describe();
  }
}

// Signed tokens through both tiers (every server checks them with the same
// key), one set of processes for every case. A back end killed mid-operation
// with another one free: the work runs again there, the client hears
// "retrying on" that one and ends with its correct results. Both killed:
// the retry is spent and the client hears Error, then Finished. The naming
// service restarted empty: every server binds its name again, the front end
// keeps its back ends, and a new client finds the front end and is served.
TEST_F(TiersTest, SignedTokensFailoverAndANamingServiceRestartedEmpty)
{
  const std::string key = "a key of the tiers, 32 octets ok";
  const std::string keyFile = m_files.File("token.key");
  std::ofstream(keyFile) << key;
  const auto token = [&](const std::string& user) {
    return KroKit::HmacToken::Mint(key, user, static_cast<long long>(std::time(nullptr)) + 3600);
  };
  const std::vector<std::string> shared{"--token-key", keyFile, "--refresh-ms", "300"};
  std::map<std::string, ChildProcess*> backEnds;  // the latest process of each name
  std::map<std::string, std::string> ports;       // fixed: a restarted back end keeps its reference
  const auto startBackEnd = [&](const std::string& name) {
    std::vector<std::string> args{"--name", name, "--step-ms", "50"};
    args.insert(args.end(), shared.begin(), shared.end());
    backEnds[name] = &StartServer(KRO_TIERS_BACK_END, args, ports[name]);
  };
  for (const char* name : {"B1", "B2"})
  {
    ports[name] = std::to_string(KroTest::FreeLoopbackPort());
    startBackEnd(name);
  }
  std::vector<std::string> frontEndArgs{"--name", "F1", "--retries", "1", "--call-ms", "3000"};
  frontEndArgs.insert(frontEndArgs.end(), shared.begin(), shared.end());
  ChildProcess& frontEnd = StartFrontEnd(frontEndArgs);
  for (const char* name : {"B1", "B2"})
    ASSERT_TRUE(frontEnd.Stderr().WaitFor(std::string("back end \"") + name + "\" in the registry", 20s))
      << frontEnd.Describe();
  // The back end the front end's latest operation runs on.
  const auto runningOn = [&]() {
    const std::string log = frontEnd.Stderr().Text();
    const std::string mark = "operation runs on back end \"";
    const std::size_t at = log.rfind(mark);
    return at == std::string::npos ? std::string() : log.substr(at + mark.size(), 2);
  };
  const auto other = [](const std::string& name) { return name == "B1" ? std::string("B2") : std::string("B1"); };

  const struct
  {
    const char* user;
    bool killTheRetry;  // the second back end is killed too, once the client hears of the retry
  } cases[] = {{"alice", false}, {"bob", true}};
  for (const auto& test : cases)
  {
    SCOPED_TRACE(test.user);
    ChildProcess& client = StartClient(token(test.user), 40);
    ASSERT_TRUE(client.Stdout().WaitFor("client: Progress ", 30s)) << client.Describe() << frontEnd.Describe();
    const std::string first = runningOn();
    ASSERT_EQ(1u, backEnds.count(first)) << frontEnd.Describe();
    const std::string second = other(first);
    const auto killed = std::chrono::steady_clock::now();
    backEnds[first]->Kill();
    const std::string retrying = "client: Status \"retrying on " + second + "\"\n";
    ASSERT_TRUE(client.Stdout().WaitFor(retrying, 30s)) << client.Describe() << frontEnd.Describe();
    if (test.killTheRetry)
      backEnds[second]->Kill();
    ASSERT_TRUE(Succeeds(client)) << client.Describe() << frontEnd.Describe();
    const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - killed).count();
    std::printf("%s: from the kill to the client's end %.2f s\n", test.user, seconds);
    const std::string seen = client.Stdout().Text();
    const std::string results = ResultsLine(second, 40, test.user);  // the user as the signed token names it
    if (test.killTheRetry)
    {
      EXPECT_EQ(std::string::npos, seen.find("client: Results")) << seen;
      EXPECT_NE(std::string::npos, seen.find("client: Error SysException ")) << seen;
    }
    else
    {
      EXPECT_NE(std::string::npos, seen.find(retrying + "client: Progress ")) << seen;
      EXPECT_NE(std::string::npos, seen.find(results + "client: Finished\n")) << seen;
      EXPECT_EQ(std::string::npos, seen.find("client: Error")) << seen;
    }
    for (const std::string& name : {first, second})
    {
      if (!backEnds[name]->HasExited())
        continue;
      const std::string listed = "back end \"" + name + "\" in the registry";
      const int before = frontEnd.Stderr().Count(listed);
      startBackEnd(name);
      ASSERT_TRUE(frontEnd.Stderr().WaitFor(listed, 20s, before + 1)) << frontEnd.Describe();
    }
  }

  // The naming service forgets everything; every server binds its name again.
  const std::size_t leftBefore = frontEnd.Stderr().Count("left the registry");
  m_names.RestartEmpty();
  for (ChildProcess* server : {backEnds["B1"], backEnds["B2"], &frontEnd})
    EXPECT_TRUE(server->Stderr().WaitFor("was missing and is bound again", 30s)) << server->Describe();
  ChildProcess& carol = StartClient(token("carol"), 2);
  ASSERT_TRUE(Succeeds(carol)) << carol.Describe() << frontEnd.Describe();
  EXPECT_NE(std::string::npos, carol.Stdout().Text().find("client: front end F1\n")) << carol.Describe();
  EXPECT_NE(std::string::npos, carol.Stdout().Text().find(" steps done for carol\"\n")) << carol.Describe();
  EXPECT_EQ(leftBefore, frontEnd.Stderr().Count("left the registry")) << frontEnd.Describe();
}
