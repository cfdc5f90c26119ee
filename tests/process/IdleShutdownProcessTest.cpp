// The idle-shutdown task and the event-loop task across processes: a real
// KroProbeServer ends by itself once idle, in each of its exit modes, and
// stays while a request runs.
#include "support/ClientOrb.h"
#include "support/LogLines.h"
#include "support/ProcessHarness.h"

#include "Probe.hh"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace
{
  const std::string kIdleCheck = " Objects(0) Active Operations(0)";
  const std::string kShuttingDown = "  Shutting down the KroServer";
  const std::string kThreadsEnded = " ProbeServer event threads ended (signal 0)";
  const std::string kExitHandlers = "ProbeServer exit handlers ran";

  // Starts an idle server with interval 0 in the given exit mode and waits
  // for its end; the process and its output for the checks.
  struct IdleServer
  {
    explicit IdleServer(const std::string& mode)
      : server(KRO_PROBE_SERVER, {"--idle-seconds", "0", "--threads", "3", "--exit-mode", mode})
    {
      status = server.Process().WaitForExit(20s);
    }

    pid_t Pid() { return server.Process().Pid(); }
    // What the idle-shutdown task's thread logged, in order.
    std::vector<std::string> TaskLines() { return KroTest::LinesOfThreadThatWrote(Log(), Pid(), kIdleCheck); }
    std::string Log() { return server.Process().Stderr().Text(); }
    std::string Describe() { return server.Process().Describe(); }

    KroTest::ServerProcess server;
    std::optional<KroTest::ExitStatus> status;
  };
}

TEST(IdleShutdown, IdleServerShutsItsOrbDownAndEndsCleanly)
{
  IdleServer idle("orb");
  ASSERT_TRUE(idle.status.has_value()) << idle.Describe();
  EXPECT_TRUE(idle.status->exited && idle.status->code == 0) << idle.Describe();

  // With no request the two checks follow each other at once, then the
  // shutdown; every event-loop thread returns from the ORB's loop.
  EXPECT_EQ((std::vector<std::string>{kIdleCheck, kIdleCheck, kShuttingDown}), idle.TaskLines())
    << idle.Describe();
  EXPECT_EQ(1, KroTest::CountPrefixed(idle.Log(), idle.Pid(), kThreadsEnded)) << idle.Describe();
  // No thread of the loop failed. With an interval of 0 the ORB may be shut
  // down before a thread has entered its loop: that thread is told so once
  // and ends, without a replacement.
  std::string printed = idle.server.Process().Stdout().Text();
  const std::string lateThread =
    "KroServerEventHandler::svc problem: BAD_INV_ORDER (IDL:omg.org/CORBA/BAD_INV_ORDER:1.0), "
    "minor BAD_INV_ORDER_ORBHasShutdown (0x4f4d0004), completed NO\n";
  for (std::string::size_type at = printed.find(lateThread); at != std::string::npos; at = printed.find(lateThread))
    printed.erase(at, lateThread.size());
  EXPECT_EQ("", printed);
}

// _exit ends the process at once; exit runs the exit handlers, and must
// end the process even while the event-loop threads wait in ORB::run()
// (omniORB's static destructors destroy the condition they wait on).
TEST(IdleShutdown, ExitModesEndTheProcessWithOrWithoutItsExitHandlers)
{
  for (const std::string mode : {"_exit", "exit"})
  {
    SCOPED_TRACE(mode);
    IdleServer idle(mode);
    ASSERT_TRUE(idle.status.has_value()) << idle.Describe();
    EXPECT_TRUE(idle.status->exited && idle.status->code == 0) << idle.Describe();

    const std::string last = mode == "_exit" ? " KroServer exit" : " KroServer exitting";
    EXPECT_EQ((std::vector<std::string>{kIdleCheck, kIdleCheck, kShuttingDown, last}), idle.TaskLines())
      << idle.Describe();
    EXPECT_EQ(0, KroTest::CountPrefixed(idle.Log(), idle.Pid(), kThreadsEnded)) << idle.Describe();
    EXPECT_EQ(mode == "exit" ? 1 : 0, KroTest::CountLines(idle.Log(), kExitHandlers)) << idle.Describe();
  }
}

// The server of docs/building-with-the-library.md's recipe, idle task in exit mode: the task ends
// the request loop and the process with exit(0), while main waits in
// events.wait(); the exit handlers run once. main used to destroy the ORB
// and return beside that exit (a crash in about half the runs), so it runs
// many times, a few at once.
TEST(IdleShutdown, ReadmeRecipeInExitModeEndsCleanlyEveryTime)
{
  const int kRounds = 6;
  const int kAtOnce = 4;
  for (int round = 0; round < kRounds; ++round)
  {
    std::vector<std::unique_ptr<KroTest::ServerProcess>> servers;
    for (int i = 0; i < kAtOnce; ++i)
      servers.emplace_back(new KroTest::ServerProcess(KRO_RECIPE_SERVER, {"--idle-seconds", "0"}));
    for (std::size_t i = 0; i < servers.size(); ++i)
    {
      SCOPED_TRACE("run " + std::to_string(round * kAtOnce + static_cast<int>(i) + 1));
      KroTest::ChildProcess& process = servers[i]->Process();
      const auto status = process.WaitForExit(20s);
      ASSERT_TRUE(status.has_value()) << process.Describe();
      EXPECT_TRUE(status->exited && status->code == 0) << process.Describe();
      const std::string log = process.Stderr().Text();
      EXPECT_EQ((std::vector<std::string>{kIdleCheck, kIdleCheck, kShuttingDown, " KroServer exitting"}),
                KroTest::LinesOfThreadThatWrote(log, process.Pid(), kIdleCheck)) << process.Describe();
      EXPECT_EQ(1, KroTest::CountLines(log, "RecipeServer exit handlers ran")) << process.Describe();
    }
  }
}

TEST(IdleShutdown, RunningRequestKeepsTheServerUntilItEnds)
{
  KroTest::ServerProcess server(KRO_PROBE_SERVER, {"--idle-seconds", "1", "--idle-on-request"});
  KroTest::ChildProcess& process = server.Process();
  CORBA::Object_var object = KroTest::ObjectFromIor(server.Ior());
  Krovane::IServerFactory_var factory = Krovane::IServerFactory::_narrow(object.in());
  Krovane::ISyncServer_var created = factory->CreateObject(KroTest::Token("alice"));
  KroProbe::IProbe_var probe = KroProbe::IProbe::_narrow(created.in());

  // The request runs until released; the task is opened while it runs.
  std::future<bool> work = std::async(std::launch::async, [&probe]()
  {
    probe->Work(20000);
    return true;
  });
  ASSERT_TRUE(process.Stderr().WaitFor(") ProbeObject Work started as Work\n", 20s)) << process.Describe();
  probe->StartIdleShutdown();

  // Two checks that find it active, an interval apart: the server stays.
  const std::string busy = " Objects(1) Active Operations(1)";
  ASSERT_TRUE(process.Stderr().WaitFor(")" + busy + "\n", 20s, 2)) << process.Describe();
  EXPECT_FALSE(process.HasExited()) << process.Describe();

  probe->ReleaseWork();
  ASSERT_EQ(std::future_status::ready, work.wait_for(20s)) << process.Describe();
  EXPECT_TRUE(work.get());

  // Once it has ended, the live object alone does not keep the server.
  const auto status = process.WaitForExit(20s);
  ASSERT_TRUE(status.has_value()) << process.Describe();
  EXPECT_TRUE(status->exited && status->code == 0) << process.Describe();

  // The task's thread: checks that found the request active, an interval
  // apart, then two idle checks in a row and the shutdown.
  const std::vector<std::string> task =
    KroTest::LinesOfThreadThatWrote(process.Stderr().Text(), process.Pid(), busy);
  ASSERT_LE(5u, task.size()) << process.Describe();
  for (std::size_t i = 0; i + 3 < task.size(); ++i)
    EXPECT_EQ(busy, task[i]) << "line " << i << "\n" << process.Describe();
  const std::vector<std::string> end(task.end() - 3, task.end());
  EXPECT_EQ((std::vector<std::string>{" Objects(1) Active Operations(0)", " Objects(1) Active Operations(0)",
                                      kShuttingDown}), end) << process.Describe();
  EXPECT_EQ(1, KroTest::CountPrefixed(process.Stderr().Text(), process.Pid(), kThreadsEnded))
    << process.Describe();
}
