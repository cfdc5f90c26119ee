// Faults through the two tiers (examples/tiers) across processes: a front
// end forwarding to one back end (B1, on a fixed port so that it can be
// started again), both found through a naming service, and this test
// process as the client, with FaultyHandlers. One set of servers per test
// serves every case of it: a new handler through the tiers (ids 1 and 2),
// the back end killed at a chosen step (before its claim, during the work,
// at Finished), and, on a front end whose pool has one thread, a waiting
// operation cancelled while its handler fails; after each case the front
// end must still take and forward new work.
#include "FaultChecks.h"

#include "support/ClientOrb.h"
#include "support/LogLines.h"
#include "support/NamingService.h"

#include "Tiers.hh"

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using KroTest::Action;
using KroTest::Callback;
using KroTest::ChildProcess;
using KroTest::FaultClient;

namespace
{
  // What the holder of handler's last Error raises: "SysException: <reason>",
  // or the name of whatever else comes of it.
  std::string RaisedBy(const FaultClient& handler)
  {
    Krovane::IAsyncExceptionHolder_var holder = handler.Holder();
    if (CORBA::is_nil(holder.in()))
      return "no holder";
    try
    {
      holder->raise();
      return "raise() returned";
    }
    catch (const Krovane::SysException& ex)
    {
      return std::string("SysException: ") + ex.reason.in();
    }
    catch (const CORBA::Exception& ex)
    {
      return ex._name();
    }
  }

  class TiersFaults : public ::testing::Test
  {
  protected:
    TiersFaults() : TiersFaults(KRO_TIERS_FRONT_END) {}

    // frontEnd: the front end's program.
    explicit TiersFaults(const std::string& frontEnd) : m_port(std::to_string(KroTest::FreeLoopbackPort()))
    {
      StartBackEnd();
      std::string ior;
      // No timed re-reads of the back ends: the registry changes only
      // where a case makes it (a failed back end, none free).
      m_frontEnd = Start(frontEnd, {"--wait-seconds", "30", "--refresh-ms", "3600000"}, "", &ior);
      CORBA::Object_var object = KroTest::ObjectFromIor(ior);
      m_factory = Krovane::IServerFactory::_narrow(object.in());
    }

    ~TiersFaults() override
    {
      EXPECT_FALSE(m_frontEnd->HasExited()) << m_frontEnd->Describe();
    }

    // A tier server; returns once its factory is bound (its IOR written),
    // and gives that IOR to ior when asked.
    std::unique_ptr<ChildProcess> Start(const std::string& program, std::vector<std::string> args,
                                        const std::string& port, std::string* ior = nullptr)
    {
      const std::string iorFile = m_files.File("server" + std::to_string(++m_started) + ".ior");
      args.insert(args.end(), {"--ior-file", iorFile, "-ORBendPoint", "giop:tcp:127.0.0.1:" + port});
      for (const std::string& option : m_names.InitRef())
        args.push_back(option);
      auto server = std::make_unique<ChildProcess>(program, args);
      if (!KroTest::WaitForFile(iorFile, 20s, server.get()))
        throw std::runtime_error("no IOR from " + server->Describe());
      if (ior)
      {
        const std::string text = KroTest::ReadFileText(iorFile);
        *ior = text.substr(0, text.find_first_of("\r\n"));
      }
      return server;
    }

    // B1, on its fixed port (the front end's reference to it stays valid).
    void StartBackEnd()
    {
      m_backEnd = Start(KRO_TIERS_BACK_END, {"--name", "B1", "--step-ms", "20"}, m_port);
      m_backEndPid = m_backEnd->Pid();
    }

    // A new object of the front end for user.
    KroTiers::IWorkServer_ptr NewObject(const std::string& user)
    {
      Krovane::ISyncServer_var created = m_factory->CreateObject(KroTest::Token(user));
      return KroTiers::IWorkServer::_narrow(created.in());
    }

    // Kills the back end now; any thread (a handler's hook) may call it.
    void KillBackEnd() { kill(m_backEndPid.load(), SIGKILL); }

    // New work on the front end goes through to B1 in full.
    void ExpectFrontEndForwards(const std::string& user)
    {
      ASSERT_FALSE(m_frontEnd->HasExited()) << m_frontEnd->Describe();
      KroTiers::IWorkServer_var server = NewObject(user);
      FaultClient handler({});
      try
      {
        server->StartWork(2, handler.Reference());
      }
      catch (const CORBA::Exception& ex)
      {
        ADD_FAILURE() << "StartWork of later work raised " << ex._name();
        return;
      }
      EXPECT_TRUE(handler.WaitFor("Finished", 30s)) << KroTest::Joined(handler.Events()) << m_frontEnd->Describe();
      EXPECT_EQ(1, handler.Count("Results")) << "later work ran no work:\n" << KroTest::Joined(handler.Events());
      EXPECT_EQ("", KroTest::FinishedOnceAndLast(handler));
      EXPECT_EQ("", KroTest::RemoveWhenIdle(server.in(), m_frontEnd->Stderr()));
    }

    // How many times B1 (the latest one) has logged work of steps steps.
    int BackEndRuns(int steps)
    {
      return m_backEnd->Stderr().Count(") KroTiersBackEnd B1: " + std::to_string(steps) + " steps for ");
    }

    KroTest::NamingService m_names;            // started first, reaped last
    KroTest::TemporaryDirectory m_files;       // the IOR files
    const std::string m_port;                  // B1's port
    int m_started = 0;                         // servers started
    std::unique_ptr<ChildProcess> m_backEnd;   // B1 (the latest one)
    std::atomic<pid_t> m_backEndPid{0};        // its pid, for hooks
    std::unique_ptr<ChildProcess> m_frontEnd;  // the front end
    Krovane::IServerFactory_var m_factory;     // the front end's factory
  };

  // The same with a front end whose pool has one thread: while one
  // operation runs, any other waits.
  class TiersFaultsOnePoolThread : public TiersFaults
  {
  protected:
    TiersFaultsOnePoolThread() : TiersFaults(KRO_FAULTS_FRONT_END) {}
  };
}

// A new handler through the tiers, for operation 1 (its first handler
// vanished mid-run) and for operation 2 of the same object: accepted, and
// the new handler hears the rest, Finished included.
TEST_F(TiersFaults, NewHandlerThroughTheTiers)
{
  KroTiers::IWorkServer_var server = NewObject("tiers-new-handler");
  for (const bool vanishing : {true, false})
  {
    SCOPED_TRACE(vanishing ? "operation 1, first handler vanished" : "operation 2");
    std::vector<KroTest::Fault> faults;
    if (vanishing)
      faults.push_back({Callback::Progress, 2, Action::Vanish, {}});
    FaultClient first(faults), second({});
    // Long enough to outlast a slow (sanitized, loaded) test: it is cancelled.
    const CORBA::Long id = server->StartWork(1000, first.Reference());
    EXPECT_EQ(vanishing ? 1 : 2, id);
    ASSERT_TRUE(first.WaitFor("Progress", 20s, 2)) << m_frontEnd->Describe();
    try
    {
      server->RegisterNewHandler(id, second.Reference());
    }
    catch (const CORBA::Exception& ex)
    {
      ADD_FAILURE() << "RegisterNewHandler(" << id << ") raised " << ex._name();
    }
    const size_t firstHeard = first.Events().size();
    EXPECT_TRUE(second.WaitFor("Progress", 20s)) << "second heard nothing:\n" << KroTest::Joined(second.Events());
    try
    {
      server->CancelOperation(id);
    }
    catch (const CORBA::Exception& ex)
    {
      ADD_FAILURE() << "CancelOperation(" << id << ") raised " << ex._name();
    }
    EXPECT_TRUE(second.WaitFor("Finished", 40s)) << KroTest::Joined(second.Events());
    EXPECT_EQ("", KroTest::FinishedOnceAndLast(second));
    EXPECT_LE(first.Events().size(), firstHeard + 1) << KroTest::Joined(first.Events());
    EXPECT_EQ("Cancelled", KroTest::StateText(server.in(), id));
  }
  EXPECT_EQ("", KroTest::RemoveWhenIdle(server.in(), m_frontEnd->Stderr()));
  ExpectFrontEndForwards("after-new-handler");
}

// The back end killed before the front end claims it, during the work, and
// at Finished (inside the Results it forwards): the client hears Error
// and/or Finished, Finished once and last; the entry is freed and, once
// the back end is back, the front end forwards new work in full.
TEST_F(TiersFaults, BackEndKilledAtAChosenStep)
{
  enum class Step { BeforeClaim, DuringWork, AtFinished };
  for (const Step step : {Step::BeforeClaim, Step::DuringWork, Step::AtFinished})
  {
    const char* const names[] = {"before-claim", "during-work", "at-finished"};
    const std::string name = names[static_cast<int>(step)];
    SCOPED_TRACE(name);
    KroTiers::IWorkServer_var server = NewObject("killed-" + name);
    std::vector<KroTest::Fault> faults;
    if (step == Step::DuringWork)
      faults.push_back({Callback::Progress, 2, Action::Hook, [this] { KillBackEnd(); }});
    if (step == Step::AtFinished)
      faults.push_back({Callback::Results, 1, Action::Hook, [this] { KillBackEnd(); }});
    if (step == Step::BeforeClaim)
    {
      KillBackEnd();
      m_backEnd->WaitForExit(10s);
    }
    FaultClient handler(faults);
    try
    {
      server->StartWork(step == Step::DuringWork ? 400 : 3, handler.Reference());
    }
    catch (const CORBA::Exception& ex)
    {
      ADD_FAILURE() << "StartWork raised " << ex._name();
    }
    EXPECT_TRUE(handler.WaitFor("Finished", 40s)) << KroTest::Joined(handler.Events()) << m_frontEnd->Describe();
    EXPECT_EQ("", KroTest::FinishedOnceAndLast(handler));
    if (step == Step::DuringWork)
    {
      EXPECT_GE(handler.Count("Error"), 1) << KroTest::Joined(handler.Events());
    }
    if (step == Step::BeforeClaim)
    {
      // No dependent object could be made: the client hears why before the end.
      const std::vector<std::string> events = handler.Events();
      const auto error = std::find(events.begin(), events.end(), "Error");
      EXPECT_TRUE(error < std::find(events.begin(), events.end(), "Finished")) << KroTest::Joined(events);
      EXPECT_NE(std::string::npos, RaisedBy(handler).find("SysException: dependent server \"B1\" cannot be reached"))
        << RaisedBy(handler);
    }
    EXPECT_TRUE(m_backEnd->WaitForExit(10s)) << "the back end was not killed";
    EXPECT_EQ("", KroTest::RemoveWhenIdle(server.in(), m_frontEnd->Stderr()));
    ASSERT_FALSE(m_frontEnd->HasExited()) << m_frontEnd->Describe();

    StartBackEnd();
    ExpectFrontEndForwards("after-" + name);
  }
}

// A waiting operation of a front-end object (the one pool thread busy with
// another object's operation) cancelled (CancelOperation,
// CancelAllOperations) while its handler fails the Status that tells it so
// (refuses it, holds it, has vanished or exits): the call succeeds, the
// operation reads Cancelled and never runs, and it leaves the active list:
// the object's next submission is accepted, runs in full once the thread is
// free, and the object can be removed. Every case waits behind the same
// busy operation; their next operations run one after another once it is
// cancelled.
TEST_F(TiersFaultsOnePoolThread, CancellingAWaitingOperationWhoseHandlerFails)
{
  struct Case
  {
    std::string user;
    KroTiers::IWorkServer_var server;      // the case's own object
    std::unique_ptr<FaultClient> waiting;  // fails the Status of the cancel
    std::unique_ptr<FaultClient> next;     // of the next submission
    CORBA::Long waitingId = 0;
    CORBA::Long nextId = 0;                // 0 when refused
  };
  std::vector<Case> cases;
  cases.reserve(8);

  KroTiers::IWorkServer_var busy = NewObject("holds-the-pool-thread");
  FaultClient running({});
  const CORBA::Long runningId = busy->StartWork(1000, running.Reference());
  ASSERT_TRUE(running.WaitFor("Progress", 20s)) << m_frontEnd->Describe();

  for (const bool all : {false, true})
    for (const Action action : {Action::Raise, Action::Block, Action::Vanish, Action::Exit})
    {
      cases.emplace_back();
      Case& test = cases.back();
      test.user = std::string(all ? "cancel-all-waiting-" : "cancel-waiting-") + KroTest::NameOf(action);
      SCOPED_TRACE(test.user);
      test.server = NewObject(test.user);
      // The front end bounds no callback: a Block holds the cancel this long.
      test.waiting = std::make_unique<FaultClient>(std::vector<KroTest::Fault>{{Callback::Status, 1, action, {}}},
                                                   1500ms);
      test.waitingId = test.server->StartWork(3, test.waiting->Reference());
      EXPECT_EQ("Queued", KroTest::StateText(test.server.in(), test.waitingId));
      try
      {
        if (all)
          test.server->CancelAllOperations();
        else
          test.server->CancelOperation(test.waitingId);
      }
      catch (const CORBA::Exception& ex)
      {
        ADD_FAILURE() << "cancel raised " << ex._name();
      }
      EXPECT_EQ("Cancelled", KroTest::StateText(test.server.in(), test.waitingId));
      EXPECT_TRUE(test.waiting->WaitFor("Status", 20s)) << test.waiting->Describe();

      test.next = std::make_unique<FaultClient>(std::vector<KroTest::Fault>{});
      try
      {
        test.nextId = test.server->StartWork(2, test.next->Reference());
      }
      catch (const CORBA::Exception& ex)
      {
        ADD_FAILURE() << "the next submission raised " << ex._name();
      }
    }

  EXPECT_NO_THROW(busy->CancelOperation(runningId));
  EXPECT_EQ("", KroTest::FinishedOnceAndLast(running));
  for (Case& test : cases)
  {
    SCOPED_TRACE(test.user);
    if (test.nextId != 0)
    {
      EXPECT_TRUE(test.next->WaitFor("Finished", 30s)) << KroTest::Joined(test.next->Events())
                                                       << m_frontEnd->Describe();
      EXPECT_EQ(1, test.next->Count("Results")) << "the next operation ran no work:\n"
                                                << KroTest::Joined(test.next->Events());
      EXPECT_EQ("", KroTest::FinishedOnceAndLast(*test.next));
      EXPECT_EQ("Finished", KroTest::StateText(test.server.in(), test.nextId));
    }
    EXPECT_EQ("Cancelled", KroTest::StateText(test.server.in(), test.waitingId));
    EXPECT_EQ(std::vector<std::string>{"Status Queued AsynchronousOperation Cancelled. OpId = 1"},
              test.waiting->Events());
    EXPECT_EQ("", KroTest::RemoveWhenIdle(test.server.in(), m_frontEnd->Stderr()));
  }
  EXPECT_EQ(0, BackEndRuns(3)) << "a cancelled operation ran";
  EXPECT_EQ("", KroTest::RemoveWhenIdle(busy.in(), m_frontEnd->Stderr()));
  ASSERT_FALSE(m_frontEnd->HasExited()) << m_frontEnd->Describe();
}
