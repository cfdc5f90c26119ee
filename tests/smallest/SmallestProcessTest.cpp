// The smallest example (a server in forty lines on the kit, a client in
// thirty on the client library) and the kit's server process, each a real
// process on 127.0.0.1.
#include "support/ClientOrb.h"
#include "support/LogLines.h"
#include "support/NamingService.h"
#include "support/ProcessHarness.h"

#include "Smallest.hh"

#include "OrbLayer/PrintException.h"

#include <omniORB4/Naming.hh>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <set>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace
{
  const char* const kAdded = "ServerObjectTable::AddObject() Added Object";
  const char* const kRemoved = "ServerObjectTable::RemoveObject() removed object";

  // A socket listening on a loopback port, for as long as it lives.
  class TakenPort
  {
  public:
    TakenPort() : m_fd(socket(AF_INET, SOCK_STREAM, 0))
    {
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      socklen_t length = sizeof address;
      if (m_fd < 0 || bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
          listen(m_fd, 1) != 0 || getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("cannot listen on a loopback port");
      m_port = ntohs(address.sin_port);
    }
    ~TakenPort() { close(m_fd); }
    int Port() const { return m_port; }

  private:
    int m_fd;
    int m_port = 0;
  };

  // Whether a line of text starts with start.
  bool HasLineStarting(const std::string& text, const std::string& start)
  {
    return text.rfind(start, 0) == 0 || text.find("\n" + start) != std::string::npos;
  }

  // Runs the server with args to its end (at most 30 s).
  KroTest::ExitStatus RunServer(const std::vector<std::string>& args, std::string& out, std::string& err)
  {
    KroTest::ChildProcess server(KRO_SMALLEST_SERVER, args);
    const std::optional<KroTest::ExitStatus> status = server.WaitForExit(30s);
    out = server.Stdout().Text();
    err = server.Stderr().Text();
    return status ? *status : server.Kill();
  }
}

// The newcomer's application: the client submits three counts to a server
// that runs one at a time, shows progress, cancels the waiting one and the
// running one, and ends; the worker it removed is gone whole.
TEST(SmallestExample, ClientSubmitsShowsProgressCancelsAWaitingAndARunningCountAndEnds)
{
  KroTest::ServerProcess server(KRO_SMALLEST_SERVER, {"--max-threads", "1"});
  KroTest::ChildProcess client(KRO_SMALLEST_CLIENT, {server.IorFile(), "-ORBendPoint", "giop:tcp:127.0.0.1:"});
  const std::optional<KroTest::ExitStatus> ended = client.WaitForExit(90s);
  ASSERT_TRUE(ended && ended->exited && ended->code == 0) << client.Describe();
  const std::string shown = client.Stdout().Text();
  EXPECT_NE(std::string::npos, shown.find("count 3  Cancelled")) << shown;  // while it waited
  EXPECT_NE(std::string::npos, shown.find("count 1  Cancelled")) << shown;  // while it ran
  EXPECT_NE(std::string::npos, shown.find("count 2  Finished")) << shown;
  EXPECT_NE(std::string::npos, shown.find("count 2  [##########] 100%")) << shown;

  // The worker serves no other object: Remove took it out of the table and
  // out of its POA, so a later call finds no object rather than a half one.
  const KroTest::OutputCollector& log = server.Process().Stderr();
  EXPECT_TRUE(log.WaitFor(kRemoved, 10s)) << log.Text();
  EXPECT_EQ(1, log.Count(kAdded)) << log.Text();

  CORBA::Object_var object = KroTest::ObjectFromIor(server.Ior());
  Krovane::IServerFactory_var factory = Krovane::IServerFactory::_narrow(object.in());
  Krovane::ISyncServer_var created = factory->CreateObject(Krovane::UserToken());
  Smallest::IWorker_var worker = Smallest::IWorker::_narrow(created.in());
  CORBA::String_var loud = worker->Shout("quiet, please");
  EXPECT_STREQ("QUIET, PLEASE", loud.in());
  worker->Remove();
  EXPECT_THROW(worker->Shout("again"), CORBA::OBJECT_NOT_EXIST);
  EXPECT_TRUE(log.WaitFor(kRemoved, 10s, 2)) << log.Text();  // the log reaches us on its own pipe

  // SIGTERM ends it in order.
  server.Process().Signal(SIGTERM);
  const std::optional<KroTest::ExitStatus> stopped = server.Process().WaitForExit(20s);
  ASSERT_TRUE(stopped && stopped->exited && stopped->code == 0) << server.Process().Describe();
  EXPECT_EQ(1, log.Count("KroSmallestServer shutting down (signal " + std::to_string(SIGTERM) + ")")) << log.Text();
}

// Every way the command line or the set-up can fail ends the server with
// one line saying what went wrong and a non-zero status: 2 with the usage
// for the command line, 1 for the set-up; never std::terminate.
TEST(SmallestExample, ABadCommandLineOrSetUpEndsWithOneClearLineAndAStatus)
{
  KroTest::TemporaryDirectory directory;
  const TakenPort taken;
  const std::string takenEndpoint = "giop:tcp:127.0.0.1:" + std::to_string(taken.Port());
  const std::string nobody = "corbaloc::127.0.0.1:" + std::to_string(KroTest::FreeLoopbackPort()) + "/NameService";
  const std::vector<std::string> loopback = {"-ORBendPoint", "giop:tcp:127.0.0.1:"};
  struct Case
  {
    std::vector<std::string> args;
    int status;
    std::string line;  // the start of the line on standard error
  };
  const std::vector<Case> cases = {
    {{"--threads", "abc"}, 2, "bad value for --threads: abc"},
    {{"--threads", "0"}, 2, "bad value for --threads: 0"},
    {{"--max-threads", "2x"}, 2, "bad value for --max-threads: 2x"},
    {{"--ior-flie", directory.File("x.ior")}, 2, "unknown option --ior-flie"},
    {{"-ORBendPoint", "giop:tcp:127.0.0.1:", "stray"}, 2, "unexpected argument stray"},
    {{"--ior-file"}, 2, "--ior-file needs a value"},
    {{"--min-threads", "3", "--max-threads", "2"}, 2, "--min-threads may not exceed --max-threads"},
    {{"--place-reports", "sometimes"}, 2, "bad value for --place-reports: sometimes"},
    {{"--place-report-ms", "2000"}, 2, "bad value for --place-report-ms: 2000"},
    {{"--verbose", "--quiet"}, 2, "--verbose and --quiet exclude each other"},
    {{"--name-service", nobody}, 2, "--name-service needs --bind NAME"},
    {{"--ior-file", directory.File("none/server.ior"), loopback[0], loopback[1]}, 1,
     "KroSmallestServer: cannot write the IOR file " + directory.File("none/server.ior")},
    {{"--ior-file", directory.File("server.ior"), "-ORBendPoint", takenEndpoint}, 1,
     "KroSmallestServer: cannot start the ORB listening on " + takenEndpoint + " (is the port taken?)"},
    {{"--name-service", nobody, "--bind", "smallest", loopback[0], loopback[1]}, 1,
     "KroSmallestServer: cannot reach the naming service at " + nobody + ": TRANSIENT"},
  };
  for (const Case& each : cases)
  {
    std::string out, err;
    const KroTest::ExitStatus status = RunServer(each.args, out, err);
    const std::string args = ::testing::PrintToString(each.args);
    EXPECT_TRUE(status.exited && status.code == each.status) << args << ": " << status.Describe() << "\n" << err;
    EXPECT_TRUE(HasLineStarting(err, (each.status == 2 ? "KroSmallestServer: " : "") + each.line))
      << args << ":\n" << err;
    EXPECT_EQ(std::string::npos, err.find("terminate called")) << args << ":\n" << err;
    if (each.status == 2)
    {
      EXPECT_NE(std::string::npos, err.find("\nusage: ")) << args << ":\n" << err;
    }
  }

  // --help is no error: the usage on standard output, then a line for every
  // option of the usage saying what it does and, for one with a value, its
  // default: the program's, not one given before --help.
  std::string out, err;
  const KroTest::ExitStatus help = RunServer({"--threads", "9", "--help"}, out, err);
  EXPECT_TRUE(help.exited && help.code == 0) << help.Describe();
  EXPECT_EQ(0u, out.rfind("usage: ", 0)) << out;
  const std::string usage = out.substr(0, out.find("\n\n"));
  std::set<std::string> named;
  for (std::size_t at = usage.find("[--"); at != std::string::npos; at = usage.find("[--", at + 1))
  {
    const std::string option = usage.substr(at + 1, usage.find_first_of(" ]", at) - at - 1);
    const bool takesValue = usage[at + 1 + option.size()] == ' ';
    named.insert(option);
    std::string row;
    for (const std::string& line : KroTest::Lines(out.substr(usage.size())))
      if (line.rfind("  " + option + " ", 0) == 0 || line == "  " + option)
        row = line;
    SCOPED_TRACE(option);
    ASSERT_FALSE(row.empty()) << out;
    EXPECT_GT(row.size(), option.size() + 20) << "says nothing of what it does: " << row;
    if (takesValue && option.rfind("--tls-", 0) != 0)
    {
      EXPECT_NE(std::string::npos, row.find("(default: ")) << row;
    }
  }
  EXPECT_GT(named.size(), 20u) << usage;
  EXPECT_TRUE(HasLineStarting(out.substr(usage.size()), "  --threads N ")) << out;
  EXPECT_NE(std::string::npos, out.find("(default: 4)")) << "--threads' default:\n" << out;
  EXPECT_NE(std::string::npos, out.find("--start-pause-ms N")) << out;
}

// --quiet keeps the information lines out of the log, --verbose adds omniORB's
// trace; either way the server serves (here: finds itself idle at once and
// ends in order).
TEST(SmallestExample, QuietAndVerboseSetWhatTheLogShows)
{
  KroTest::TemporaryDirectory directory;
  struct Case
  {
    std::string flag;
    bool debugLines;   // "KroSmallestServer ready"
    bool orbTrace;     // omniORB's own trace lines
  };
  for (const Case& each : std::vector<Case>{{"--quiet", false, false}, {"--verbose", true, true}})
  {
    std::string out, err;
    const KroTest::ExitStatus status = RunServer(
      {each.flag, "--idle-seconds", "0", "--ior-file", directory.File("server.ior"), "-ORBendPoint",
       "giop:tcp:127.0.0.1:"}, out, err);
    EXPECT_TRUE(status.exited && status.code == 0) << each.flag << ": " << status.Describe() << "\n" << err;
    EXPECT_EQ(each.debugLines, err.find("KroSmallestServer ready") != std::string::npos) << each.flag << ":\n" << err;
    EXPECT_EQ(each.orbTrace, err.find("omniORB: ") != std::string::npos) << each.flag << ":\n" << err;
  }
}

// With --name-service and --bind the factory is found by name while the
// server runs, and the name goes with the server.
TEST(SmallestExample, TheFactoryIsBoundInTheNamingServiceUntilTheServerEnds)
try
{
  KroTest::NamingService names;
  const std::string where = names.InitRef()[1].substr(std::string("NameService=").size());
  KroTest::ServerProcess server(KRO_SMALLEST_SERVER, {"--name-service", where, "--bind", "KroTests/Smallest.factory"});

  CORBA::ORB_var orb = KroTest::ClientOrb();
  CORBA::Object_var object = orb->string_to_object(where.c_str());
  CosNaming::NamingContext_var root = CosNaming::NamingContext::_narrow(object.in());
  CosNaming::Name name;
  name.length(2);
  name[0].id = "KroTests";
  name[1].id = "Smallest";
  name[1].kind = "factory";
  CORBA::Object_var bound = root->resolve(name);
  Krovane::IServerFactory_var factory = Krovane::IServerFactory::_narrow(bound.in());
  Krovane::ISyncServer_var created = factory->CreateObject(Krovane::UserToken());
  Smallest::IWorker_var worker = Smallest::IWorker::_narrow(created.in());
  CORBA::String_var loud = worker->Shout("found");
  EXPECT_STREQ("FOUND", loud.in());
  worker->Remove();

  server.Process().Signal(SIGTERM);
  const std::optional<KroTest::ExitStatus> stopped = server.Process().WaitForExit(20s);
  ASSERT_TRUE(stopped && stopped->exited && stopped->code == 0) << server.Process().Describe();
  EXPECT_THROW(root->resolve(name), CosNaming::NamingContext::NotFound);
}
catch (const CORBA::Exception& ex)
{
  FAIL() << KroOrb::DescribeException(ex);
}
