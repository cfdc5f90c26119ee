// The relay (AsynchronousHandler) and the exception holders across real
// processes on 127.0.0.1: a RelayLabServer owns relays and holders, one or
// two RelayLabClient processes own the handlers, and this test process
// tells the server what to call and checks what each side saw.
#include "support/ClientOrb.h"
#include "support/LogLines.h"
#include "support/ProcessHarness.h"

#include "OrbLayer/CallbackNumbers.h"
#include "OrbLayer/PrintException.h"
#include "RelayLab.hh"

#include <omniORB4/minorCode.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace
{
  const CORBA::Boolean kThroughRelay = false;
  const CORBA::Boolean kDirect = true;

  // A RelayLabClient and its handler.
  struct Client
  {
    KroTest::ChildProcess* process;                  // the client process, owned by the fixture
    Krovane::IAsyncHandler_var handler;              // its handler

    // Its standard output: one line per callback it saw.
    std::string Said() const { return process->Stdout().Text(); }
    // The same, once last has been read (the output is read on a thread of its own).
    std::string SaidUpTo(const std::string& last) const
    {
      process->Stdout().WaitFor(last, 10s);
      return Said();
    }
  };

  // A lab server, reached from this process, and the clients of a test.
  class Relay : public ::testing::Test
  {
  protected:
    explicit Relay(const std::vector<std::string>& serverArgs = {}) : m_server(KRO_RELAY_LAB_SERVER, serverArgs)
    {
      CORBA::Object_var object = KroTest::ObjectFromIor(m_server.Ior());
      m_lab = KroRelayLab::Lab::_narrow(object.in());
    }

    // The server ends cleanly, having deleted every holder and relay; no
    // client complained (a sanitizer's report included).
    void TearDown() override
    {
      for (const auto& client : m_clientProcesses)
        EXPECT_EQ("", client->Stderr().Text()) << client->Describe();
      m_lab->Shutdown();
      const auto status = m_server.Process().WaitForExit(20s);
      ASSERT_TRUE(status.has_value()) << m_server.Process().Describe();
      EXPECT_TRUE(status->exited && status->code == 0) << m_server.Process().Describe();
    }

    // Starts a client process (with arguments more) and reads its handler's reference.
    Client StartClient(const std::vector<std::string>& more = {})
    {
      const std::string iorFile =
        m_directory.File("client" + std::to_string(m_clientProcesses.size() + 1) + ".ior");
      Client client;
      std::vector<std::string> arguments{"--ior-file", iorFile, "-ORBendPoint", "giop:tcp:127.0.0.1:"};
      arguments.insert(arguments.end(), more.begin(), more.end());
      m_clientProcesses.push_back(std::make_unique<KroTest::ChildProcess>(KRO_RELAY_LAB_CLIENT, arguments));
      client.process = m_clientProcesses.back().get();
      if (!KroTest::WaitForFile(iorFile, 20s, client.process))
        throw std::runtime_error("no handler reference: " + client.process->Describe());
      CORBA::Object_var object = KroTest::ObjectFromIor(KroTest::ReadFileText(iorFile));
      client.handler = Krovane::IAsyncHandler::_narrow(object.in());
      return client;
    }

    // One callback through relay, expected to return normally.
    void Returns(CORBA::Long relay, const char* callback, const char* argument)
    {
      KroRelayLab::Outcome_var outcome = m_lab->Call(relay, callback, argument, 1, 1, kThroughRelay);
      EXPECT_EQ(1, outcome->returned) << callback << " " << argument;
    }

    // What the relays printed (the server's standard output).
    std::string Printed() { return m_server.Process().Stdout().Text(); }
    // The same, once last has been read.
    std::string PrintedUpTo(const std::string& last)
    {
      m_server.Process().Stdout().WaitFor(last, 10s);
      return Printed();
    }

    // How many lines of the server's log equal line, "(%P|%t) " standing for the prefix.
    int LogCount(const std::string& line)
    {
      return KroTest::CountNormalised(m_server.Process().Stderr().Text(), line);
    }

    KroTest::TemporaryDirectory m_directory;  // the clients' reference files
    KroTest::ServerProcess m_server;          // the lab server
    KroRelayLab::Lab_var m_lab;               // its lab
    std::vector<std::unique_ptr<KroTest::ChildProcess>> m_clientProcesses;  // the clients started
  };

  // The same lab, its relays delivering without waiting for the client.
  class NonWaitingRelay : public Relay
  {
  protected:
    NonWaitingRelay() : Relay({"--non-waiting"}) {}
  };

  // The same lab, its relays sending several callbacks at once to clients
  // that restore their order.
  class PipelinedRelay : public Relay
  {
  protected:
    PipelinedRelay() : Relay({"--pipelined"}) { KroOrb::CallbackNumbers::Install(); }

    // A relay around client's handler; ordered: the request says the client
    // restores order, as the client library's do.
    CORBA::Long Wrap(const Client& client, bool ordered)
    {
      if (!ordered)
        return m_lab->Wrap(client.handler.in());
      const KroOrb::CallbackNumbers::Announcing announcing;
      return m_lab->Wrap(client.handler.in());
    }

    // Waits, at most 10 s, until relay has let its client go.
    bool WaitDetached(CORBA::Long relay)
    {
      const auto deadline = std::chrono::steady_clock::now() + 10s;
      while (m_lab->IsAttached(relay))  // each answer waits for the relay's lock
        if (std::chrono::steady_clock::now() > deadline)
          return false;
      return true;
    }
  };

  // "arrive <operation> <argument> #<number>" lines of said: number -> "<operation> <argument>".
  std::multimap<long, std::string> ArrivalsByNumber(const std::string& said)
  {
    std::multimap<long, std::string> arrivals;
    std::istringstream lines(said);
    std::string line;
    while (std::getline(lines, line))
    {
      const std::size_t hash = line.rfind(" #");
      if (line.rfind("arrive ", 0) == 0 && hash != std::string::npos)
        arrivals.emplace(std::stol(line.substr(hash + 2)), line.substr(7, hash - 7));
    }
    return arrivals;
  }

  // What PrintException writes for ex after info.
  std::string PrintedAs(const char* info, const CORBA::Exception& ex)
  {
    const std::string place = info;
    return place + (place.back() == '\n' ? "" : ": ") + KroOrb::DescribeException(ex) + "\n";
  }
}

// The caller never waits for the client; the client still gets its
// callbacks in order, a slow one is bounded and stays, a dead one is dropped.
TEST_F(NonWaitingRelay, SlowAndDeadClientsKeepTheirRulesWithoutHoldingUpTheCaller)
{
  Client slow = StartClient();
  const CORBA::Long relay = m_lab->Wrap(slow.handler.in());
  m_lab->SetTimeout(relay, 1);
  KroRelayLab::Outcome_var outcome = m_lab->Call(relay, "Queued", "1500", 1, 1, kThroughRelay);
  EXPECT_EQ(1, outcome->returned);
  EXPECT_LT(outcome->longestMillis, 500);  // the client takes 1.5 s
  outcome = m_lab->Call(relay, "Status", "next", 3, 1, kThroughRelay);
  EXPECT_EQ(3, outcome->returned);
  const std::string timedOut =
    PrintedAs("Queued method timed out\n", CORBA::TIMEOUT(omni::TIMEOUT_CallTimedOutOnClient, CORBA::COMPLETED_MAYBE));
  EXPECT_EQ(timedOut, PrintedUpTo(timedOut));
  EXPECT_TRUE(m_lab->IsAttached(relay));
  // In order (the callbacks after the time-out meet the slow one still
  // running at the client, as they would in the waiting delivery).
  EXPECT_TRUE(slow.process->Stdout().WaitFor("arrive Status next\n", 10s, 3)) << slow.Said();
  std::string said = slow.Said();
  for (std::size_t at = said.find("OVERLAP\n"); at != std::string::npos; at = said.find("OVERLAP\n"))
    said.erase(at, 8);
  EXPECT_EQ("arrive Queued 1500\narrive Status next\narrive Status next\narrive Status next\n", said);

  Client dead = StartClient();
  const CORBA::Long orphan = m_lab->Wrap(dead.handler.in());
  dead.process->Kill();
  outcome = m_lab->Call(orphan, "Status", "anyone there", 2, 1, kThroughRelay);
  EXPECT_EQ(2, outcome->returned);
  EXPECT_TRUE(m_server.Process().Stdout().WaitFor("m_proxy->Status: ", 10s)) << Printed();
  EXPECT_FALSE(m_lab->IsAttached(orphan));  // the relay's lock: its delivery is over
  const std::string printed = Printed();
  std::size_t failures = 0;
  for (std::size_t at = printed.find("m_proxy->Status: "); at != std::string::npos;
       at = printed.find("m_proxy->Status: ", at + 1))
    ++failures;
  EXPECT_EQ(1u, failures) << printed;  // the second callback found the client dropped
}

TEST_F(Relay, AnsweringClientReceivesEveryCallbackAndRefusalsReachTheCaller)
{
  Client client = StartClient();
  const CORBA::Long relay = m_lab->Wrap(client.handler.in());

  Returns(relay, "Queued", "7");
  Returns(relay, "Status", "working");
  Returns(relay, "Progress", "0.5");
  Returns(relay, "Results", "partial");
  Returns(relay, "Finished", "done");
  Returns(relay, "Error", "NoSuchObjectHolderImpl:no such thing");
  Returns(relay, "SyncQueued", "8");
  Returns(relay, "SyncStatus", "still working");
  Returns(relay, "SyncProgress", "0.75");
  Returns(relay, "SyncResults", "more");
  Returns(relay, "SyncFinished", "all done");
  Returns(relay, "SyncError", "SysExceptionHolderImpl:system down");

  // In order, unchanged; the holders raise at the client, once.
  EXPECT_EQ("arrive Queued 7\n"
            "arrive Status working\n"
            "arrive Progress 0.5\n"
            "arrive Results partial\n"
            "arrive Finished done\n"
            "arrive Error holder\n"
            "raised IDL:Krovane/NoSuchObject:1.0 \"no such thing\"\n"
            "raised again OBJECT_NOT_EXIST\n"
            "arrive SyncQueued 8\n"
            "arrive SyncStatus still working\n"
            "arrive SyncProgress 0.75\n"
            "arrive SyncResults more\n"
            "arrive SyncFinished all done\n"
            "arrive SyncError holder\n"
            "raised IDL:Krovane/SysException:1.0 \"system down\"\n"
            "raised again OBJECT_NOT_EXIST\n",
            client.SaidUpTo("raised IDL:Krovane/SysException:1.0 \"system down\"\nraised again OBJECT_NOT_EXIST\n"));
  EXPECT_EQ("", Printed());
  EXPECT_TRUE(m_lab->IsAttached(relay));

  // The client's user exception reaches the caller and frees the relay.
  KroRelayLab::Outcome_var outcome = m_lab->Call(relay, "Finished", "refuse", 1, 1, kThroughRelay);
  EXPECT_EQ(1, outcome->refused);
  EXPECT_STREQ("IDL:Krovane/AsyncOperationException:1.0 client refuses Finished", outcome->refusal.in());
  EXPECT_EQ("", Printed());  // Finished re-raises silently

  outcome = m_lab->Call(relay, "SyncStatus", "refuse", 1, 1, kThroughRelay);
  EXPECT_EQ(1, outcome->refused);
  EXPECT_STREQ("IDL:Krovane/AsyncOperationException:1.0 client refuses SyncStatus", outcome->refusal.in());
  const std::string refused =
    PrintedAs("AsynchronousHandler::SyncStatus Exception", Krovane::AsyncOperationException("client refuses SyncStatus"));
  EXPECT_EQ(refused, PrintedUpTo(refused));

  // The lock was let go and the client is still attached: two threads get through.
  outcome = m_lab->Call(relay, "Queued", "1", 2, 2, kThroughRelay);
  EXPECT_EQ(2, outcome->returned);
  EXPECT_TRUE(m_lab->IsAttached(relay));
  EXPECT_TRUE(client.process->Stdout().WaitFor("arrive Queued 1\n", 10s, 2)) << client.Said();
}

TEST_F(Relay, SlowClientTimesOutAfterTheBoundAndStaysAttached)
{
  Client client = StartClient();
  // The bound is kept while detached and put on the handler set later; the
  // latest bound replaces the earlier one.
  const CORBA::Long relay = m_lab->Wrap(Krovane::IAsyncHandler::_nil());
  m_lab->SetTimeout(relay, 300);  // beyond 32 bits in 100 ns units
  m_lab->SetProxyHandler(relay, client.handler.in());
  EXPECT_EQ(3000000000u, m_lab->TimeoutUnits(relay));
  m_lab->SetProxyHandler(relay, Krovane::IAsyncHandler::_nil());
  m_lab->SetTimeout(relay, 2);
  m_lab->SetTimeout(relay, 1);
  EXPECT_FALSE(m_lab->IsAttached(relay));
  EXPECT_EQ(0u, m_lab->TimeoutUnits(relay));
  m_lab->SetProxyHandler(relay, client.handler.in());
  EXPECT_EQ(10000000u, m_lab->TimeoutUnits(relay));

  // Refused values leave the bound as it is.
  m_lab->SetTimeout(relay, 0);
  m_lab->SetTimeout(relay, -5);
  EXPECT_TRUE(m_server.Process().Stderr().WaitFor("Timeout is less than 0\n", 10s, 2));
  EXPECT_EQ(2, LogCount("Timeout is less than 0"));
  EXPECT_EQ(10000000u, m_lab->TimeoutUnits(relay));

  // The client takes 1.5 s; the callback ends after the 1 s bound, normally.
  KroRelayLab::Outcome_var outcome = m_lab->Call(relay, "Queued", "1500", 1, 1, kThroughRelay);
  EXPECT_EQ(1, outcome->returned);
  EXPECT_GE(outcome->longestMillis, 1000);
  EXPECT_LT(outcome->longestMillis, 1500);
  const std::string timedOut =
    PrintedAs("Queued method timed out\n", CORBA::TIMEOUT(omni::TIMEOUT_CallTimedOutOnClient, CORBA::COMPLETED_MAYBE));
  EXPECT_EQ(timedOut, PrintedUpTo(timedOut));

  // Still attached: the next callback reaches the same client.
  EXPECT_TRUE(m_lab->IsAttached(relay));
  Returns(relay, "Status", "after the time-out");
  EXPECT_TRUE(client.process->Stdout().WaitFor("arrive Status after the time-out\n", 10s)) << client.Said();
}

TEST_F(Relay, DeadClientIsDetachedUntilALiveHandlerIsSet)
{
  Client first = StartClient();
  const CORBA::Long printing = m_lab->Wrap(first.handler.in());
  const CORBA::Long silent = m_lab->Wrap(first.handler.in());
  Returns(printing, "Status", "hello");
  EXPECT_EQ("arrive Status hello\n", first.SaidUpTo("arrive Status hello\n"));

  first.process->Kill();
  Returns(printing, "Status", "anyone there");
  Returns(silent, "Finished", "anyone there");
  EXPECT_FALSE(m_lab->IsAttached(printing));
  EXPECT_FALSE(m_lab->IsAttached(silent));
  // Only Status (and Progress and their Sync forms) print the failure.
  m_server.Process().Stdout().WaitFor("m_proxy->Status: ", 10s);
  const std::string printed = PrintedUpTo("\n");
  const bool commFailure = printed.rfind("m_proxy->Status: COMM_FAILURE (IDL:omg.org/CORBA/COMM_FAILURE:1.0)", 0) == 0;
  const bool transient = printed.rfind("m_proxy->Status: TRANSIENT (IDL:omg.org/CORBA/TRANSIENT:1.0)", 0) == 0;
  EXPECT_TRUE(commFailure || transient) << printed;
  EXPECT_EQ(1, std::count(printed.begin(), printed.end(), '\n')) << printed;

  // Detached: later callbacks call nothing and print nothing.
  KroRelayLab::Outcome_var outcome = m_lab->Call(printing, "Progress", "0.9", 3, 1, kThroughRelay);
  EXPECT_EQ(3, outcome->returned);
  EXPECT_EQ(printed, Printed());

  Client second = StartClient();
  m_lab->SetProxyHandler(printing, second.handler.in());
  EXPECT_TRUE(m_lab->IsAttached(printing));
  Returns(printing, "Status", "back");
  EXPECT_EQ("arrive Status back\n", second.SaidUpTo("arrive Status back\n"));
}

TEST_F(Relay, ConcurrentCallbacksThroughOneRelayNeverOverlap)
{
  Client client = StartClient();
  const CORBA::Long relay = m_lab->Wrap(client.handler.in());

  // Each callback waits up to its deadline for another one to arrive at the
  // client. Made on the handler directly, two threads do overlap there...
  KroRelayLab::Outcome_var outcome = m_lab->Call(relay, "Queued", "-2000", 2, 2, kDirect);
  EXPECT_EQ(2, outcome->returned);
  EXPECT_TRUE(client.process->Stdout().WaitFor("OVERLAP\n", 10s)) << client.Said();

  // ...through the relay, never.
  outcome = m_lab->Call(relay, "Queued", "-100", 6, 3, kThroughRelay);
  EXPECT_EQ(6, outcome->returned);
  EXPECT_TRUE(client.process->Stdout().WaitFor("arrive Queued -100\n", 10s, 6)) << client.Said();
  EXPECT_EQ(1, client.process->Stdout().Count("OVERLAP\n")) << client.Said();
}

namespace
{
  // Raises holder and expects Exception with reason.
  template <typename Exception>
  void ExpectRaises(Krovane::IAsyncExceptionHolder_ptr holder, const std::string& reason)
  {
    try
    {
      holder->raise();
      ADD_FAILURE() << "raise() returned";
    }
    catch (const Exception& ex)
    {
      EXPECT_EQ(reason, ex.reason.in());
    }
    catch (const CORBA::Exception& ex)
    {
      ADD_FAILURE() << "raised " << ex._rep_id();
    }
  }

  // A holder class and what its raise() throws.
  struct HolderKind
  {
    const char* name;                                                   // the class
    void (*expectRaises)(Krovane::IAsyncExceptionHolder_ptr, const std::string&);  // checks its exception
  };

  const HolderKind kHolderKinds[] = {
    {"AsyncExceptionHolderImpl", &ExpectRaises<Krovane::AsyncOperationException>},
    {"AsyncOperationExceptionHolderImpl", &ExpectRaises<Krovane::AsyncOperationException>},
    {"DatabaseConnectionFailureHolderImpl", &ExpectRaises<Krovane::DatabaseConnectionFailure>},
    {"InvalidOperationIdHolderImpl", &ExpectRaises<Krovane::InvalidOperationId>},
    {"InvalidOperationStateHolderImpl", &ExpectRaises<Krovane::InvalidOperationState>},
    {"NoSuchObjectHolderImpl", &ExpectRaises<Krovane::NoSuchObject>},
    {"OperationCancelledHolderImpl", &ExpectRaises<Krovane::OperationCancelled>},
    {"OperationsStillActiveHolderImpl", &ExpectRaises<Krovane::OperationsStillActive>},
    {"SysExceptionHolderImpl", &ExpectRaises<Krovane::SysException>},
    {"UnavailableHolderImpl", &ExpectRaises<Krovane::Unavailable>},
  };
}

TEST_F(Relay, EveryHolderRaisesItsOwnExceptionOnceThenGoes)
{
  for (const HolderKind& kind : kHolderKinds)
  {
    SCOPED_TRACE(kind.name);
    const std::string name = kind.name;
    const std::string message = "failure of " + name;
    Krovane::IAsyncExceptionHolder_var holder = m_lab->MakeHolder(kind.name, message.c_str());
    kind.expectRaises(holder.in(), message);
    // Deactivated after the first raise(): the second finds no object.
    EXPECT_THROW(holder->raise(), CORBA::OBJECT_NOT_EXIST);

    if (name == "AsyncExceptionHolderImpl")
      continue;  // the base logs nothing, checked below
    EXPECT_TRUE(m_server.Process().Stderr().WaitFor("Deleting " + name + "\n", 10s))
      << m_server.Process().Describe();
    EXPECT_EQ(1, LogCount("(%P|%t) " + name + "::raise(): throwing exception..."));
    EXPECT_EQ(1, LogCount("Deleting " + name));
  }
  EXPECT_EQ(std::string::npos, m_server.Process().Stderr().Text().find("AsyncExceptionHolderImpl"));
  EXPECT_EQ("", Printed());
}

// Toward a client that restores order several callbacks are in flight at
// once, each numbered once in the order the operation made them; toward one
// that did not say so, one at a time.
TEST_F(PipelinedRelay, SendsSeveralAtOnceOnlyToClientsThatOrderThemEachNumberedOnceInTheirOrder)
{
  for (const bool ordered : {true, false})
  {
    SCOPED_TRACE(ordered ? "ordering client" : "client that did not say it orders");
    Client client = StartClient({"--numbers"});
    const CORBA::Long relay = Wrap(client, ordered);
    m_lab->SetTimeout(relay, 10);
    // The first two each wait for another to arrive while they run: sent
    // at once, whichever arrives first has company, in whatever order the
    // client's threads take them. Toward the ordering client they wait
    // longer, for a loaded machine; the wait ends as the other arrives.
    const std::string wait = ordered ? "-5000" : "-1500";
    Returns(relay, "Queued", wait.c_str());
    Returns(relay, "Queued", wait.c_str());
    const int kProgress = 24;
    for (int i = 1; i <= kProgress; ++i)
      Returns(relay, "Progress", std::to_string(i).c_str());
    Returns(relay, "Finished", "done");
    ASSERT_TRUE(client.process->Stdout().WaitFor("arrive Finished done", 20s)) << client.Said();
    const std::string said = client.Said();
    EXPECT_EQ(ordered, said.find("OVERLAP") != std::string::npos) << said;

    const std::multimap<long, std::string> arrivals = ArrivalsByNumber(said);
    ASSERT_EQ(static_cast<std::size_t>(kProgress + 3), arrivals.size()) << said;
    long expected = 1;
    for (const auto& [number, callback] : arrivals)
    {
      SCOPED_TRACE(callback);
      EXPECT_EQ(expected, number);  // each number once, none skipped
      const std::string made = expected <= 2 ? "Queued " + wait
                               : expected == kProgress + 3 ? "Finished done"
                               : "Progress " + std::to_string(expected - 2);
      EXPECT_EQ(made, callback);
      ++expected;
    }
    if (ordered)
    {
      // Finished went alone, after every callback before it was answered.
      EXPECT_EQ(said.size() - std::string("arrive Finished done #27\n").size(), said.rfind("arrive Finished done"))
        << said;
    }
  }
}

// What befalls a pipelined callback reaches the operation as in the other
// modes: a refusal at its next callback, a client that lets the bound pass
// on enough callbacks in a row (here all in flight at once) is detached,
// one that answers in between stays, one that vanishes mid-stream is
// detached and the callbacks after it return normally.
TEST_F(PipelinedRelay, FailuresOfCallbacksInFlightReachTheOperationAndTheDetachRulesHold)
{
  struct Case
  {
    const char* name;
    std::vector<std::pair<const char*, const char*>> callbacks;  // made in order, each queued at once
    const char* serverSays;    // waited for on the server's output (stdout, or the log when it starts with "(")
    int waitTimes;             // how many times
    bool refusedNext;          // the next callback raises the client's refusal
    bool attached;             // the relay keeps its client
  };
  const std::string refusal = "IDL:Krovane/AsyncOperationException:1.0 client refuses Status";
  const Case cases[] = {
    {"refusal", {{"Progress", "0.1"}, {"Status", "refuse"}}, "AsynchronousHandler::Status Exception", 1, true, true},
    {"three in a row past the bound", {{"Queued", "1500"}, {"Queued", "1500"}, {"Queued", "1500"}},
     "(%P|%t) AsynchronousHandler: client detached after 3 callbacks in a row timed out", 1, false, false},
    {"an answer among them", {{"Queued", "1500"}, {"Progress", "0.5"}, {"Queued", "1500"}},
     "Queued method timed out", 2, false, true},
    {"vanishes at the third", {{"Progress", "0.1"}, {"Progress", "0.2"}, {"Status", "vanish"},
                               {"Progress", "0.3"}, {"Progress", "0.4"}}, "m_proxy->", 1, false, false},
  };
  for (const Case& c : cases)
  {
    SCOPED_TRACE(c.name);
    const std::string says = c.serverSays;
    const bool inLog = says[0] == '(';
    const KroTest::OutputCollector& output = inLog ? m_server.Process().Stderr() : m_server.Process().Stdout();
    int before = 0;  // from the cases before
    for (std::size_t at = output.Text().find(says.substr(inLog ? 8 : 0)); at != std::string::npos;
         at = output.Text().find(says.substr(inLog ? 8 : 0), at + 1))
      ++before;
    Client client = StartClient({"--numbers"});
    const CORBA::Long relay = Wrap(client, true);
    m_lab->SetTimeout(relay, 1);
    for (const auto& [callback, argument] : c.callbacks)
    {
      KroRelayLab::Outcome_var outcome = m_lab->Call(relay, callback, argument, 1, 1, kThroughRelay);
      EXPECT_EQ(1, outcome->returned) << callback << " " << argument;  // queued; nothing known yet
    }
    EXPECT_TRUE(output.WaitFor(says.substr(inLog ? 8 : 0), 20s, before + c.waitTimes)) << output.Text();
    KroRelayLab::Outcome_var next = m_lab->Call(relay, "Progress", "0.9", 1, 1, kThroughRelay);
    EXPECT_EQ(c.refusedNext ? 1 : 0, next->refused);
    EXPECT_EQ(c.refusedNext ? 0 : 1, next->returned);
    if (c.refusedNext)
      EXPECT_EQ(refusal, next->refusal.in());
    if (c.attached)
      EXPECT_TRUE(m_lab->IsAttached(relay));
    else
      EXPECT_TRUE(WaitDetached(relay));
    // A refusal is raised once.
    next = m_lab->Call(relay, "Progress", "1", 1, 1, kThroughRelay);
    EXPECT_EQ(1, next->returned);
    if (c.attached)
      EXPECT_TRUE(client.process->Stdout().WaitFor("arrive Progress 1 #", 10s)) << client.Said();
  }
}
