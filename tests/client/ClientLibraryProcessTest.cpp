// The client library against a real server process: the asynchronous
// example server, one pool thread (so a second operation waits in line),
// short steps, and a one-second bound on each callback. One server and this
// one client process serve every case; each case works on a calculator of
// its own. The program also plays a second client process, which attaches
// to operations of the first by id (--reattach).
#include "KroClient/KroClient.h"
#include "support/ProcessHarness.h"

#include "Calculator.hh"

#include <gtest/gtest.h>
#include <omniORB4/omniORB.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

using namespace std::chrono_literals;
using KroClient::Outcome;

namespace KroClient
{
  // Outcomes by name in failure messages.
  void PrintTo(Outcome outcome, std::ostream* out) { *out << OutcomeName(outcome); }
}

namespace
{
  using Clock = std::chrono::steady_clock;
  const char* const kWithdrawnText = "Queued AsynchronousOperation Cancelled. OpId = ";

  // A long computation: 200 steps of at least 20 ms.
  const int kLongSteps = 200;

  // Every callback of one operation as a line, in delivery order, and how
  // many ran at once at most.
  class EventLog
  {
  public:
    KroClient::Callbacks Callbacks()
    {
      KroClient::Callbacks callbacks;
      callbacks.queued = [this](CORBA::Long place) { Add("queued " + std::to_string(place)); };
      callbacks.status = [this](const std::string& text) { Add("status " + text); };
      callbacks.progress = [this](double done) { Add("progress " + std::to_string(done)); };
      callbacks.results = [this](const CORBA::Any&) { Add("results"); };
      callbacks.error = [this](Krovane::IAsyncExceptionHolder_ptr) { Add("error"); };
      callbacks.ended = [this](Outcome outcome) { Add(std::string("ended ") + KroClient::OutcomeName(outcome)); };
      return callbacks;
    }

    // Runs inside the first progress callback, before it is logged.
    std::function<void(std::size_t logged)> onFirstProgress;

    std::vector<std::string> Lines() const
    {
      std::lock_guard<std::mutex> guard(m_lock);
      return m_lines;
    }
    int MostAtOnce() const { return m_mostAtOnce.load(); }

  private:
    void Add(const std::string& line)
    {
      const int inside = ++m_inside;
      int most = m_mostAtOnce.load();
      while (inside > most && !m_mostAtOnce.compare_exchange_weak(most, inside)) {}
      if (line.rfind("progress", 0) == 0 && onFirstProgress)
      {
        std::size_t logged = Lines().size();
        auto first = std::move(onFirstProgress);
        onFirstProgress = nullptr;
        first(logged);
      }
      {
        std::lock_guard<std::mutex> guard(m_lock);
        m_lines.push_back(line);
      }
      --m_inside;
    }

    mutable std::mutex m_lock;
    std::vector<std::string> m_lines;  // guarded by m_lock
    std::atomic<int> m_inside{0};      // callbacks running now
    std::atomic<int> m_mostAtOnce{0};  // the most that ever ran at once
  };

  // Progress lines rise, each followed by a Status; then Results, then the end.
  void ExpectStepsInOrder(const std::vector<std::string>& lines, const std::string& end)
  {
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(end, lines.back());
    double last = 0;
    bool results = false;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i)
    {
      SCOPED_TRACE("line " + std::to_string(i) + ": " + lines[i]);
      if (lines[i].rfind("progress ", 0) == 0)
      {
        const double done = std::stod(lines[i].substr(9));
        EXPECT_GT(done, last);
        last = done;
        EXPECT_EQ(0u, lines[i + 1].rfind("status ", 0));
      }
      EXPECT_FALSE(results) << "after the results";
      results = results || lines[i] == "results";
    }
    EXPECT_DOUBLE_EQ(1.0, last);
    EXPECT_TRUE(results);
  }

  bool Contains(const std::vector<std::string>& lines, const std::string& start)
  {
    for (const std::string& line : lines)
      if (line.rfind(start, 0) == 0)
        return true;
    return false;
  }

  std::string OwnProgram()
  {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
  }

  // The ORB options of both client processes.
  std::vector<char*> OrbArguments(char* program)
  {
    static char endpointOption[] = "-ORBendPoint";
    static char endpoint[] = "giop:tcp:127.0.0.1:";
    return {program, endpointOption, endpoint, nullptr};
  }
}

class ClientLibrary : public ::testing::Test
{
protected:
  static void SetUpTestSuite()
  {
    std::vector<std::string> serverArguments{"--max-threads", "1", "--min-threads", "1",
                                             "--start-pause-ms", "0", "--step-ms", "20",
                                             "--callback-timeout", "1", "--idle-seconds", "600"};
    // The same cases against a server that sends several callbacks at once.
    if (const char* inFlight = std::getenv("KRO_TEST_CALLBACKS_IN_FLIGHT"))
      serverArguments.insert(serverArguments.end(), {"--callbacks-in-flight", inFlight});
    server = std::make_unique<KroTest::ServerProcess>(KRO_EXAMPLE_ASYNC_SERVER, serverArguments);
    static char program[] = "ClientLibraryProcessTest";
    std::vector<char*> arguments = OrbArguments(program);
    int count = static_cast<int>(arguments.size()) - 1;
    orb = std::make_unique<KroClient::ClientOrb>(count, arguments.data());
    omniORB::setClientCallTimeout(20000);
    client = std::make_unique<KroClient::AsyncClient>(orb->Poa());
  }

  static void TearDownTestSuite()
  {
    client.reset();
    orb.reset();
    server.reset();
  }

  void SetUp() override
  {
    Krovane::IServerFactory_var factory = orb->Resolve<Krovane::IServerFactory>(server->Ior());
    Krovane::ISyncServer_var object = factory->CreateObject(Krovane::UserToken());
    calculator = Calculator::ICalculator::_narrow(object.in());
    ASSERT_FALSE(CORBA::is_nil(calculator.in()));
  }

  void TearDown() override
  {
    if (!CORBA::is_nil(calculator.in()))
      calculator->Remove();
  }

  KroClient::Operation Compute(const char* what, int steps, KroClient::Callbacks callbacks = {})
  {
    return client->Submit(calculator.in(), [&](Krovane::IAsyncHandler_ptr handler)
                          { return calculator->Compute(what, steps, handler); }, std::move(callbacks));
  }

  static KroClient::Deadline Soon() { return Clock::now() + 30s; }

  static std::unique_ptr<KroTest::ServerProcess> server;
  static std::unique_ptr<KroClient::ClientOrb> orb;
  static std::unique_ptr<KroClient::AsyncClient> client;
  Calculator::ICalculator_var calculator;
};

std::unique_ptr<KroTest::ServerProcess> ClientLibrary::server;
std::unique_ptr<KroClient::ClientOrb> ClientLibrary::orb;
std::unique_ptr<KroClient::AsyncClient> ClientLibrary::client;

TEST_F(ClientLibrary, DeliversEveryCallbackInOrderAndEndsFinishedOnce)
{
  EventLog log;
  KroClient::Operation operation = Compute("e", 5, log.Callbacks());
  EXPECT_EQ(Outcome::Finished, operation.Wait(Soon()));
  ExpectStepsInOrder(log.Lines(), "ended Finished");
  CORBA::Double value = 0;
  EXPECT_TRUE(operation.Results() >>= value);
  EXPECT_NEAR(2.718, value, 0.01);
  EXPECT_DOUBLE_EQ(1.0, operation.Progress());
  EXPECT_EQ(Krovane::Finished, calculator->GetOperationState(operation.Id()));
}

// Cancellations, each confirmed with the server's state: a waiting one
// gets only a Status text (never Finished), a running one gets Finished.
TEST_F(ClientLibrary, CancelledOperationsEndCancelledWhereverTheyWere)
{
  EventLog runningLog;
  KroClient::Operation running = Compute("pi", kLongSteps, runningLog.Callbacks());
  ASSERT_TRUE(running.WaitForProgress(0.01, Soon()));  // it holds the only pool thread

  struct Case
  {
    const char* name;
    bool cancelInsideSubmit;  // before the submitting call has handed the id over
  };
  for (const Case& c : {Case{"cancelled while it waits", false},
                        Case{"cancelled before the client knows its id", true}})
  {
    SCOPED_TRACE(c.name);
    EventLog log;
    KroClient::Operation waiting = client->Submit(calculator.in(), [&](Krovane::IAsyncHandler_ptr handler) {
      const CORBA::Long id = calculator->Compute("e", 3, handler);
      if (c.cancelInsideSubmit)
        calculator->CancelOperation(id);  // the server's Status arrives before id is returned
      return id;
    }, log.Callbacks());
    if (!c.cancelInsideSubmit)
      waiting.Cancel();
    EXPECT_EQ(Outcome::Cancelled, waiting.Wait(Soon()));
    const std::vector<std::string> lines = log.Lines();
    EXPECT_TRUE(Contains(lines, "status " + std::string(kWithdrawnText) + std::to_string(waiting.Id())));
    EXPECT_EQ("ended Cancelled", lines.back());
    EXPECT_FALSE(Contains(lines, "progress"));
  }

  SCOPED_TRACE("cancelled while it runs");
  running.Cancel();
  EXPECT_EQ(Outcome::Cancelled, running.Wait(Soon()));
  EXPECT_EQ("ended Cancelled", runningLog.Lines().back());
  EXPECT_FALSE(Contains(runningLog.Lines(), "status " + std::string(kWithdrawnText)));
  EXPECT_EQ(Krovane::Cancelled, calculator->GetOperationState(running.Id()));
}

TEST_F(ClientLibrary, FailureIsThrownAsItsTypedExceptionByWait)
{
  EventLog log;
  KroClient::Operation failing = Compute("sqrt2", 3, log.Callbacks());
  try
  {
    failing.Wait(Soon());
    ADD_FAILURE() << "Wait returned";
  }
  catch (const Krovane::AsyncOperationException& ex)
  {
    EXPECT_EQ(std::string("unknown computation \"sqrt2\" (try pi, e or primes)"), ex.reason.in());
  }
  EXPECT_EQ(Outcome::Failed, failing.WaitForEnd(Soon()));
  std::vector<std::string> lines = log.Lines();
  lines.erase(std::remove_if(lines.begin(), lines.end(), [](const std::string& line) { return line.rfind("queued", 0) == 0; }),
              lines.end());  // told its place, if the server was quick to say
  EXPECT_EQ((std::vector<std::string>{"error", "ended Failed"}), lines);
}

TEST_F(ClientLibrary, WaitGivesUpAtItsDeadline)
{
  KroClient::Operation running = Compute("pi", kLongSteps);
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(Outcome::Pending, running.Wait(start + 200ms));
  EXPECT_GE(Clock::now() - start, 200ms);
  EXPECT_LT(Clock::now() - start, 3s);
  EXPECT_FALSE(running.WaitForProgress(2.0, Clock::now() + 50ms));
  running.Cancel();
  EXPECT_EQ(Outcome::Cancelled, running.Wait(Soon()));
}

// After the server's bound on a callback has passed, it sends the next one
// while the first still runs here: the application still sees one at a
// time, in order.
TEST_F(ClientLibrary, CallbacksStayInOrderAndOneAtATimeAfterTheServerTimesOut)
{
  EventLog log;
  std::promise<const KroClient::Operation*> handed;
  std::shared_future<const KroClient::Operation*> operationOf = handed.get_future().share();
  std::atomic<bool> overtaken{false};
  log.onFirstProgress = [&](std::size_t logged) {
    if (operationOf.wait_until(Soon()) != std::future_status::ready)
      return;
    // This callback and those logged before it have arrived; wait for one more.
    overtaken = operationOf.get()->WaitForCallbacks(logged + 2, Clock::now() + 10s);
  };
  std::optional<KroClient::Operation> operation;
  operation.emplace(Compute("e", 4, log.Callbacks()));
  handed.set_value(&*operation);
  EXPECT_EQ(Outcome::Finished, operation->Wait(Soon()));
  EXPECT_TRUE(overtaken.load()) << "the next callback never arrived during a blocked one";
  EXPECT_EQ(1, log.MostAtOnce());
  ExpectStepsInOrder(log.Lines(), "ended Finished");
}

// The first client goes (its handler with it); a second process attaches
// to the running operation by id and sees it end, and to ended and unknown
// ones.
TEST_F(ClientLibrary, SecondClientProcessReattachesByIdToRunningAndEndedOperations)
{
  KroClient::Operation ended = Compute("e", 2);
  ASSERT_EQ(Outcome::Finished, ended.Wait(Soon()));
  CORBA::Long runningId = 0;
  {
    KroClient::Operation running = Compute("pi", 100);
    ASSERT_TRUE(running.WaitForProgress(0.05, Soon()));
    runningId = running.Id();
  }  // the handler is deactivated: the server's relay detaches it on its next callback

  CORBA::String_var ior = orb->Orb()->object_to_string(calculator.in());
  KroTest::ChildProcess second(OwnProgram(), {"--reattach", ior.in(), std::to_string(runningId),
                                              std::to_string(ended.Id()), "999",
                                              "-ORBendPoint", "giop:tcp:127.0.0.1:"});
  const auto status = second.WaitForExit(60s);
  ASSERT_TRUE(status.has_value()) << second.Describe();
  EXPECT_TRUE(status->exited && status->code == 0) << second.Describe();
  const std::string said = second.Stdout().Text();
  EXPECT_NE(std::string::npos, said.find("operation " + std::to_string(runningId) + ": Finished, progress 1, pi ~ 3.14"))
    << said;
  EXPECT_NE(std::string::npos, said.find("operation " + std::to_string(ended.Id()) + ": Finished, progress 0\n")) << said;
  EXPECT_NE(std::string::npos, said.find("operation 999: InvalidOperationId\n")) << said;
}

namespace
{
  // The second client: attaches to each id in turn and prints how it ended.
  //   --reattach CALCULATOR-IOR ID... [ORB options]
  int ReattachingClient(KroClient::ClientOrb& orb, int argc, char** argv)
  {
    omniORB::setClientCallTimeout(20000);
    KroClient::AsyncClient client(orb.Poa());
    Calculator::ICalculator_var calculator = orb.Resolve<Calculator::ICalculator>(argv[2]);
    for (int i = 3; i < argc; ++i)
    {
      const CORBA::Long id = std::stoi(argv[i]);
      try
      {
        KroClient::Operation operation = client.Reattach(calculator.in(), id);
        const Outcome outcome = operation.Wait(Clock::now() + 30s);
        CORBA::Double value = 0;
        const std::string result = (operation.Results() >>= value) ? ", pi ~ " + std::to_string(value) : "";
        std::printf("operation %d: %s, progress %g%s\n", static_cast<int>(id), KroClient::OutcomeName(outcome),
                    operation.Progress(), result.c_str());
      }
      catch (const Krovane::InvalidOperationId&)
      {
        std::printf("operation %d: InvalidOperationId\n", static_cast<int>(id));
      }
    }
    return 0;
  }
}

int main(int argc, char** argv)
{
  if (argc > 2 && std::string(argv[1]) == "--reattach")
    return KroClient::RunClient(argc, argv, ReattachingClient);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
