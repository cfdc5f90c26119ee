// Faults through the two tiers (examples/tiers) across processes: a front
// end forwarding to one back end (B1, on a fixed port so that it can be
// started again), both found through a naming service, and this test
// process as the client, with FaultyHandlers. One set of servers serves
// every case: a new handler through the tiers (ids 1 and 2), and the back
// end killed at a chosen step (before its claim, during the work, at
// Finished); after each case the front end must still forward new work.
#include "FaultChecks.h"

#include "support/ClientOrb.h"
#include "support/LogLines.h"
#include "support/NamingService.h"

#include "Tiers.hh"

#include <gtest/gtest.h>

#include <signal.h>

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
  class TiersFaults : public ::testing::Test
  {
  protected:
    TiersFaults() : m_port(std::to_string(KroTest::FreeLoopbackPort()))
    {
      StartBackEnd();
      m_frontEnd = Start(KRO_TIERS_FRONT_END, {"--wait-seconds", "30"}, "");
      CORBA::Object_var object = KroTest::ObjectFromIor(m_frontEndIor);
      m_factory = Krovane::IServerFactory::_narrow(object.in());
    }

    ~TiersFaults() override
    {
      EXPECT_FALSE(m_frontEnd->HasExited()) << m_frontEnd->Describe();
    }

    // A tier server; returns once its factory is bound (its IOR written).
    std::unique_ptr<ChildProcess> Start(const std::string& program, std::vector<std::string> args,
                                        const std::string& port)
    {
      const std::string iorFile = m_files.File("server" + std::to_string(++m_started) + ".ior");
      args.insert(args.end(), {"--ior-file", iorFile, "-ORBendPoint", "giop:tcp:127.0.0.1:" + port});
      for (const std::string& option : m_names.InitRef())
        args.push_back(option);
      auto server = std::make_unique<ChildProcess>(program, args);
      if (!KroTest::WaitForFile(iorFile, 20s, server.get()))
        throw std::runtime_error("no IOR from " + server->Describe());
      const std::string ior = KroTest::ReadFileText(iorFile);
      if (program == KRO_TIERS_FRONT_END)
        m_frontEndIor = ior.substr(0, ior.find_first_of("\r\n"));
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

    KroTest::NamingService m_names;            // started first, reaped last
    KroTest::TemporaryDirectory m_files;       // the IOR files
    const std::string m_port;                  // B1's port
    int m_started = 0;                         // servers started
    std::unique_ptr<ChildProcess> m_backEnd;   // B1 (the latest one)
    std::atomic<pid_t> m_backEndPid{0};        // its pid, for hooks
    std::unique_ptr<ChildProcess> m_frontEnd;  // the front end
    std::string m_frontEndIor;                 // its factory
    Krovane::IServerFactory_var m_factory;     // the front end's factory
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
    const CORBA::Long id = server->StartWork(400, first.Reference());
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
    EXPECT_TRUE(second.WaitFor("Progress", 10s)) << "second heard nothing:\n" << KroTest::Joined(second.Events());
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
      EXPECT_GE(handler.Count("Error"), 1) << KroTest::Joined(handler.Events());
    EXPECT_TRUE(m_backEnd->WaitForExit(10s)) << "the back end was not killed";
    EXPECT_EQ("", KroTest::RemoveWhenIdle(server.in(), m_frontEnd->Stderr()));
    ASSERT_FALSE(m_frontEnd->HasExited()) << m_frontEnd->Describe();

    StartBackEnd();
    ExpectFrontEndForwards("after-" + name);
  }
}
