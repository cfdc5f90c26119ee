// The client library when its server is lost: killed, stopped, stopped and
// continued, or stopping in order (Unavailable). The asynchronous example
// server runs one operation at a time (the others wait in line), 20 ms a
// step. One server process serves the cases that leave it alive; a fault
// that ends it is the last case on its process. The loss bound is 4 s here
// (KRO_TEST_LOSS_BOUND_MS sets another: with 10000 the times printed are
// those of the library's default). The program also plays a short client
// process on a fixed callback port (--count-once).
#include "KroClient/CallbackServant.h"
#include "KroClient/FailureCopy.h"
#include "KroClient/KroClient.h"
#include "support/ProcessHarness.h"

#include "Calculator.hh"

#include <gtest/gtest.h>
#include <omniORB4/omniORB.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using KroClient::Outcome;
using Clock = std::chrono::steady_clock;

namespace KroClient
{
  void PrintTo(Outcome outcome, std::ostream* out) { *out << OutcomeName(outcome); }
}

namespace
{
  std::chrono::milliseconds LossBound()
  {
    const char* given = std::getenv("KRO_TEST_LOSS_BOUND_MS");
    return std::chrono::milliseconds(given ? std::atoi(given) : 4000);
  }

  long long Millis(Clock::duration span) { return std::chrono::duration_cast<std::chrono::milliseconds>(span).count(); }

  // The callbacks of one operation, as lines.
  class Lines
  {
  public:
    KroClient::Callbacks Callbacks()
    {
      KroClient::Callbacks callbacks;
      callbacks.error = [this](Krovane::IAsyncExceptionHolder_ptr) { Add("error"); };
      callbacks.ended = [this](Outcome outcome) { Add(std::string("ended ") + KroClient::OutcomeName(outcome)); };
      return callbacks;
    }
    std::vector<std::string> Get() const
    {
      std::lock_guard<std::mutex> guard(m_lock);
      return m_lines;
    }

  private:
    void Add(const std::string& line)
    {
      std::lock_guard<std::mutex> guard(m_lock);
      m_lines.push_back(line);
    }
    mutable std::mutex m_lock;
    std::vector<std::string> m_lines;  // guarded by m_lock
  };

  // The reason of the Unavailable that Wait throws; empty if it throws nothing else.
  std::string UnavailableReason(const KroClient::Operation& operation)
  {
    try
    {
      operation.Wait(Clock::now() + 1s);
    }
    catch (const Krovane::Unavailable& ex)
    {
      return ex.reason.in();
    }
    catch (const CORBA::Exception& ex)
    {
      return std::string("(threw ") + ex._name() + ")";
    }
    return "(threw nothing)";
  }
}

namespace
{
  // A port that was free a moment ago.
  int FreePort()
  {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      throw std::runtime_error("no free port");
    close(fd);
    return ntohs(address.sin_port);
  }

  std::string OwnProgram()
  {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
  }

  // The short client: one computation on a calculator of its own, then
  // "outcome <how it ended>".  --count-once FACTORY-IOR [ORB options]
  int CountOnce(KroClient::ClientOrb& orb, int, char** argv)
  {
    Krovane::IServerFactory_var factory = orb.Resolve<Krovane::IServerFactory>(argv[2]);
    Krovane::ISyncServer_var object = factory->CreateObject(Krovane::UserToken());
    Calculator::ICalculator_var calculator = Calculator::ICalculator::_narrow(object.in());
    KroClient::AsyncClient client(orb.Poa());
    KroClient::Operation operation = client.Submit(calculator.in(), [&](Krovane::IAsyncHandler_ptr handler)
                                                   { return calculator->Compute("e", 3, handler); });
    const Outcome outcome = operation.WaitForEnd(Clock::now() + 20s);
    // The Results come by callback only: an end the watch found at the server has none.
    CORBA::Any results = operation.Results();
    CORBA::TypeCode_var type = results.type();
    std::printf("outcome %s, %s\n", KroClient::OutcomeName(outcome),
                type->kind() == CORBA::tk_null ? "no results" : "results");
    std::fflush(stdout);
    calculator->Remove();
    return 0;
  }

  // A handler that notes what it hears; armed, it holds its first Progress
  // until another handler has heard something (at most 5 s).
  class Holding : public KroClient::CallbackServant
  {
  public:
    explicit Holding(Holding* other = nullptr) : m_other(other) {}
    void Queued(CORBA::Long) override { Note(false); }
    void Status(const char*) override { Note(false); }
    void Progress(CORBA::Double) override
    {
      Holding* other = nullptr;
      {
        std::lock_guard<std::mutex> guard(m_lock);
        std::swap(other, m_other);  // only the first Progress holds
        m_holding = m_holding || other;
      }
      m_changed.notify_all();
      if (other)
        other->Await([other] { return other->m_heard > 0; }, Clock::now() + 5s);
      Note(false);
    }
    void Results(const CORBA::Any&) override { Note(false); }
    void Finished(const CORBA::Any&) override { Note(true); }
    void Error(Krovane::IAsyncExceptionHolder_ptr) override { Note(false); }

    template <typename Condition>
    bool Await(Condition condition, Clock::time_point deadline)
    {
      std::unique_lock<std::mutex> guard(m_lock);
      return m_changed.wait_until(guard, deadline, condition);
    }
    bool Holds() { return Await([this] { return m_holding; }, Clock::now() + 10s); }
    bool Finishes() { return Await([this] { return m_finished; }, Clock::now() + 20s); }

  private:
    void Note(bool finished)
    {
      {
        std::lock_guard<std::mutex> guard(m_lock);
        ++m_heard;
        m_finished = m_finished || finished;
      }
      m_changed.notify_all();
    }

    std::mutex m_lock;                  // guards the four below
    Holding* m_other;                   // held for, until the first Progress
    std::condition_variable m_changed;  // on each of them
    int m_heard = 0;
    bool m_holding = false;
    bool m_finished = false;
  };

  // Makes the server hold two connections to this client: while the first
  // operation's Progress is held here, the second's Queued needs another.
  // Prints "held two" once both ended.  --hold-two FACTORY-IOR [ORB options]
  int HoldTwo(KroClient::ClientOrb& orb, int, char** argv)
  {
    Krovane::IServerFactory_var factory = orb.Resolve<Krovane::IServerFactory>(argv[2]);
    Krovane::ISyncServer_var object = factory->CreateObject(Krovane::UserToken());
    Calculator::ICalculator_var calculator = Calculator::ICalculator::_narrow(object.in());
    Holding* second = new Holding;
    Holding* first = new Holding(second);
    PortableServer::ServantBase_var owners[] = {first, second};
    std::vector<Krovane::IAsyncHandler_var> handlers;
    for (Holding* handler : {first, second})
    {
      PortableServer::ObjectId_var id = orb.Poa()->activate_object(handler);
      CORBA::Object_var reference = orb.Poa()->id_to_reference(id.in());
      handlers.push_back(Krovane::IAsyncHandler::_narrow(reference.in()));
    }
    calculator->Compute("e", 3, handlers[0].in());
    if (!first->Holds())
      return std::printf("the first Progress never came\n"), 1;
    calculator->Compute("e", 2, handlers[1].in());
    const bool ended = first->Finishes() && second->Finishes();
    std::printf("%s\n", ended ? "held two" : "not both ended");
    std::fflush(stdout);
    calculator->Remove();
    return ended ? 0 : 1;
  }
}

class ServerLoss : public ::testing::Test
{
protected:
  static void SetUpTestSuite()
  {
    static char program[] = "ServerLossProcessTest";
    static char endpointOption[] = "-ORBendPoint";
    static char endpoint[] = "giop:tcp:127.0.0.1:";
    char* arguments[] = {program, endpointOption, endpoint, nullptr};
    int count = 3;
    orb = std::make_unique<KroClient::ClientOrb>(count, arguments);
    client = std::make_unique<KroClient::AsyncClient>(orb->Poa(), LossBound());
  }

  static void TearDownTestSuite()
  {
    client.reset();
    orb.reset();
  }

  void StartServer()
  {
    server = std::make_unique<KroTest::ServerProcess>(
      KRO_EXAMPLE_ASYNC_SERVER, std::vector<std::string>{"--max-threads", "1", "--min-threads", "1",
                                                         "--start-pause-ms", "0", "--step-ms", "20",
                                                         "--callback-timeout", "1", "--idle-seconds", "600"});
  }

  Calculator::ICalculator_ptr NewCalculator()
  {
    Krovane::IServerFactory_var factory = orb->Resolve<Krovane::IServerFactory>(server->Ior());
    Krovane::ISyncServer_var object = factory->CreateObject(Krovane::UserToken());
    return Calculator::ICalculator::_narrow(object.in());
  }

  static KroClient::Operation Compute(Calculator::ICalculator_ptr calculator, const char* what, int steps,
                                      KroClient::Callbacks callbacks = {})
  {
    return client->Submit(calculator, [&](Krovane::IAsyncHandler_ptr handler)
                          { return calculator->Compute(what, steps, handler); }, std::move(callbacks));
  }

  static Clock::time_point Soon() { return Clock::now() + 30s; }

  static std::unique_ptr<KroClient::ClientOrb> orb;
  static std::unique_ptr<KroClient::AsyncClient> client;
  std::unique_ptr<KroTest::ServerProcess> server;
};

std::unique_ptr<KroClient::ClientOrb> ServerLoss::orb;
std::unique_ptr<KroClient::AsyncClient> ServerLoss::client;

// A live server: cancelling tells whether it cancelled; the watch asks
// nothing while callbacks flow, and a waiting operation that hears nothing
// for longer than the bound is asked about and not taken for lost.
TEST_F(ServerLoss, LiveServerKeepsItsOperationsAndIsAskedOnlyWhenSilent)
{
  StartServer();
  Calculator::ICalculator_var calculator = NewCalculator();
  {
    SCOPED_TRACE("cancel");
    KroClient::Operation ended = Compute(calculator.in(), "e", 2);
    ASSERT_EQ(Outcome::Finished, ended.Wait(Soon()));
    EXPECT_FALSE(ended.Cancel());
    KroClient::Operation running = Compute(calculator.in(), "pi", 200);
    ASSERT_TRUE(running.WaitForProgress(0.01, Soon()));
    EXPECT_TRUE(running.Cancel());
    EXPECT_EQ(Outcome::Cancelled, running.Wait(Soon()));
    EXPECT_FALSE(running.Cancel());
  }

  const int longSteps = static_cast<int>(LossBound() / 20ms) * 3 / 2;  // runs 1.5 bounds
  {
    SCOPED_TRACE("callbacks flow for longer than the bound");
    const std::uint64_t before = client->WatchRequests();
    KroClient::Operation running = Compute(calculator.in(), "pi", longSteps);
    EXPECT_EQ(Outcome::Finished, running.Wait(Soon()));
    EXPECT_EQ(before, client->WatchRequests());
    std::printf("[ callbacks flow ] %d steps: %llu requests of the watch\n", longSteps,
                static_cast<unsigned long long>(client->WatchRequests() - before));
  }
  {
    SCOPED_TRACE("waits in line, silent, for longer than the bound");
    Calculator::ICalculator_var other = NewCalculator();
    const std::uint64_t before = client->WatchRequests();
    const Clock::time_point start = Clock::now();
    KroClient::Operation running = Compute(calculator.in(), "pi", longSteps);
    KroClient::Operation waiting = Compute(other.in(), "e", 2);
    EXPECT_EQ(Outcome::Finished, running.Wait(Soon()));
    EXPECT_EQ(Outcome::Finished, waiting.Wait(Soon()));
    const std::uint64_t asked = client->WatchRequests() - before;
    const std::uint64_t intervals = static_cast<std::uint64_t>((Clock::now() - start) / (LossBound() / 4));
    std::printf("[ silent, waiting in line ] %llu requests of the watch in %llu intervals\n",
                static_cast<unsigned long long>(asked), static_cast<unsigned long long>(intervals));
    EXPECT_GE(asked, 1u);
    EXPECT_LE(asked, intervals) << "more than one question per interval";
  }
  calculator->Remove();
}

// Faults, each on a server with one operation running and two waiting.
TEST_F(ServerLoss, EveryOperationEndsWithinTheBoundOnceItsServerIsLost)
{
  struct Case
  {
    const char* name;
    bool kill;                 // SIGKILL, else SIGSTOP
    bool resume;               // SIGCONT within the bound
    const char* failureStart;  // what each ended operation's Unavailable says; null: they finish
  };
  const std::chrono::milliseconds bound = LossBound();
  for (const Case& c : {Case{"stopped, then continued within the bound", false, true, nullptr},
                        Case{"stopped for good", false, false, "server unreachable: TIMEOUT"},
                        Case{"killed", true, false, "server unreachable: "}})
  {
    SCOPED_TRACE(c.name);
    if (!server || c.kill || !c.resume)
      StartServer();
    Calculator::ICalculator_var calculator = NewCalculator();
    Lines lines[3];
    std::vector<KroClient::Operation> operations;
    for (int i = 0; i < 3; ++i)
      operations.push_back(Compute(calculator.in(), "pi", i == 0 ? 150 : 5, lines[i].Callbacks()));
    ASSERT_TRUE(operations[0].WaitForProgress(0.05, Soon()));
    const std::uint64_t askedBefore = client->WatchRequests();
    const Clock::time_point fault = Clock::now();
    server->Process().Signal(c.kill ? SIGKILL : SIGSTOP);
    if (c.resume)
    {
      // The watch asks after a quarter of the bound, with a quarter as the
      // time-out: by now its first question has failed, its second waits.
      EXPECT_EQ(Outcome::Pending, operations[0].WaitForEnd(fault + bound * 5 / 8));
      server->Process().Signal(SIGCONT);
    }
    for (int i = 0; i < 3; ++i)
    {
      SCOPED_TRACE("operation " + std::to_string(i));
      const Outcome outcome = operations[i].WaitForEnd(fault + bound + 3s);
      if (!c.failureStart)
      {
        EXPECT_EQ(Outcome::Finished, operations[i].WaitForEnd(Soon()));
        continue;
      }
      ASSERT_EQ(Outcome::Failed, outcome) << "not ended within the bound and 3 s";
      EXPECT_EQ(0u, UnavailableReason(operations[i]).rfind(c.failureStart, 0)) << UnavailableReason(operations[i]);
      EXPECT_EQ((std::vector<std::string>{"error", "ended Failed"}), lines[i].Get());
    }
    const long long took = Millis(Clock::now() - fault);
    std::printf("[ %s ] every operation ended %lld ms after the fault (bound %lld ms), %llu requests of the watch\n",
                c.name, took, static_cast<long long>(bound.count()),
                static_cast<unsigned long long>(client->WatchRequests() - askedBefore));
    if (c.failureStart)
      EXPECT_GE(took, Millis(bound) - 1000) << "ended before the bound";
    else
      EXPECT_GE(client->WatchRequests() - askedBefore, 2u + 2 * 3) << "not asked twice, then attached again";
    if (!c.kill && !c.resume)
      server->Process().Signal(SIGCONT);
  }
}

// A server that stops in order says Error(Unavailable) then Finished: the
// operation ends Failed at the Error, with its reason, whether or not the
// Finished ever comes. The server's side is played here by calling the
// handler as the server would.
TEST_F(ServerLoss, UnavailableErrorEndsTheOperationAtOnce)
{
  StartServer();
  Calculator::ICalculator_var calculator = NewCalculator();
  KroClient::Operation running = Compute(calculator.in(), "pi", 200);
  ASSERT_TRUE(running.WaitForProgress(0.01, Soon()));
  // The server's holder answers one raise(); the library's copy, any number.
  KroClient::ActiveFailure holder(orb->Poa(), new KroClient::FailureCopy(Krovane::Unavailable("server is stopping")));
  Krovane::IAsyncServer_var server = Krovane::IAsyncServer::_duplicate(calculator.in());
  KroClient::Operation stopped = client->Submit(server.in(), [&](Krovane::IAsyncHandler_ptr handler) {
    handler->Status("server stopping");
    handler->Error(holder.Reference());
    return running.Id() + 1000;  // an id of its own: the server never makes one
  });
  EXPECT_EQ(Outcome::Failed, stopped.WaitForEnd(Clock::now() + 1s));
  for (int i = 0; i < 2; ++i)
    EXPECT_EQ("server is stopping", UnavailableReason(stopped));
  running.Cancel();
  running.Wait(Soon());
  calculator->Remove();
}

// The server ended an operation whose end never reached the client (a
// callback lost on the way; here the server is given another handler, one
// that hears nothing): the watch finds it ended at two questions in a row
// and ends it as the server says, instead of leaving it Pending for ever.
TEST_F(ServerLoss, OperationEndedAtTheServerWhoseEndNeverCameEndsAsTheServerSays)
{
  struct Deaf : KroClient::CallbackServant
  {
    void Queued(CORBA::Long) override {}
    void Status(const char*) override {}
    void Progress(CORBA::Double) override {}
    void Results(const CORBA::Any&) override {}
    void Finished(const CORBA::Any&) override {}
    void Error(Krovane::IAsyncExceptionHolder_ptr) override {}
  };
  StartServer();
  Calculator::ICalculator_var calculator = NewCalculator();
  PortableServer::ServantBase_var deaf = new Deaf;
  PortableServer::ObjectId_var id = orb->Poa()->activate_object(deaf.in());
  CORBA::Object_var object = orb->Poa()->id_to_reference(id.in());
  Krovane::IAsyncHandler_var elsewhere = Krovane::IAsyncHandler::_narrow(object.in());
  for (const bool cancelled : {false, true})
  {
    SCOPED_TRACE(cancelled ? "cancelled" : "finished");
    const Clock::time_point start = Clock::now();
    KroClient::Operation unheard = client->Submit(calculator.in(), [&](Krovane::IAsyncHandler_ptr) {
      return calculator->Compute("e", cancelled ? 200 : 2, elsewhere.in());
    });
    if (cancelled)
      calculator->CancelOperation(unheard.Id());
    // Two questions, an interval (a quarter of the bound) apart, after an interval of silence.
    EXPECT_EQ(cancelled ? Outcome::Cancelled : Outcome::Finished, unheard.WaitForEnd(start + LossBound()));
    std::printf("[ end never came ] ended %s after %lld ms\n", KroClient::OutcomeName(unheard.Now()),
                Millis(Clock::now() - start));
  }
  orb->Poa()->deactivate_object(id.in());
  calculator->Remove();
}

// A client that takes its callbacks on the port of one that has ended: the
// server's pooled connections to that port are stale (the client before
// had one, or two); the callback goes out again until it is on a fresh one,
// and the new client hears every callback, its Results among them.
TEST_F(ServerLoss, CallbacksReachAClientOnAPortAnEndedClientUsed)
{
  StartServer();
  const std::string endpoint = "giop:tcp:127.0.0.1:" + std::to_string(FreePort());
  const struct
  {
    const char* mode;
    const char* printed;
  } clients[] = {
    {"--count-once", "outcome Finished, results\n"},
    {"--count-once", "outcome Finished, results\n"},  // one stale connection
    {"--hold-two", "held two\n"},
    {"--count-once", "outcome Finished, results\n"},  // two stale connections
  };
  for (std::size_t i = 0; i < sizeof clients / sizeof clients[0]; ++i)
  {
    SCOPED_TRACE("client " + std::to_string(i + 1) + " " + clients[i].mode);
    KroTest::ChildProcess client(OwnProgram(), {clients[i].mode, server->Ior(), "-ORBendPoint", endpoint});
    const auto status = client.WaitForExit(40s);
    ASSERT_TRUE(status.has_value()) << client.Describe();
    EXPECT_TRUE(status->exited && status->code == 0) << client.Describe();
    EXPECT_EQ(clients[i].printed, client.Stdout().Text()) << client.Describe();
  }
}

// RunClient says why a client failed: the reason, not only the exception's name.
TEST(RunClient, PrintsTheReasonOfAFailure)
{
  KroTest::ChildProcess failing(OwnProgram(), {"--fail-stopping"});
  const auto status = failing.WaitForExit(20s);
  ASSERT_TRUE(status.has_value()) << failing.Describe();
  EXPECT_EQ(1, status->code) << failing.Describe();
  EXPECT_NE(std::string::npos, failing.Stderr().Text().find(": failed: Unavailable: server is stopping\n"))
    << failing.Describe();
}

int main(int argc, char** argv)
{
  if (argc > 2 && std::string(argv[1]) == "--count-once")
    return KroClient::RunClient(argc, argv, CountOnce);
  if (argc > 2 && std::string(argv[1]) == "--hold-two")
    return KroClient::RunClient(argc, argv, HoldTwo);
  if (argc > 1 && std::string(argv[1]) == "--fail-stopping")
    return KroClient::RunClient(argc, argv, [](KroClient::ClientOrb&, int, char**) -> int {
      throw Krovane::Unavailable("server is stopping");
    });
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
