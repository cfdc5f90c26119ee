// An orderly stop of a real server process (the smallest example on the
// kit): what each client hears, how long it takes, and what the server
// leaves behind; and the idle shutdown's two checks.
#include "RecordingHandler.h"
#include "support/ClientOrb.h"
#include "support/LogLines.h"
#include "support/ProcessHarness.h"

#include "Smallest.hh"

#include "OrbLayer/PrintException.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace
{
  using Clock = std::chrono::steady_clock;

  const std::string kStopping = "Status server stopping";
  const char* const kReason = "server is stopping";

  double SecondsSince(Clock::time_point start)
  {
    return std::chrono::duration<double>(Clock::now() - start).count();
  }

  // The events of handler from the first one starting with prefix on.
  std::vector<std::string> From(const std::vector<std::string>& events, const std::string& prefix)
  {
    const auto first = std::find_if(events.begin(), events.end(),
                                    [&](const std::string& e) { return e.rfind(prefix, 0) == 0; });
    return std::vector<std::string>(first, events.end());
  }

  std::string Joined(const std::vector<std::string>& events)
  {
    std::string text;
    for (const std::string& event : events)
      text += event + " | ";
    return text;
  }
}

// SIGTERM with one count that ends within the drain time, one that would
// run far longer and two waiting behind them (two pool threads). The short
// one ends as usual; the others are told "server stopping", get an Error
// whose holder raises Unavailable, then Finished, once the drain time is
// over. A submission during the drain is refused; the server then ends
// with status 0, its IOR file gone.
TEST(OrderlyStop, SigtermDrainsRunningWorkCancelsTheRestAndTellsEveryClient)
try
{
  const int drainSeconds = 3;
  KroTest::ServerProcess server(KRO_SMALLEST_SERVER, {"--max-threads", "2", "--max-threads-per-user", "2", "--start-pause-ms", "0", "--drain-seconds",
                                                      std::to_string(drainSeconds), "--idle-seconds", "600"});
  KroTest::ChildProcess& process = server.Process();
  CORBA::Object_var object = KroTest::ObjectFromIor(server.Ior());
  Krovane::IServerFactory_var factory = Krovane::IServerFactory::_narrow(object.in());
  Krovane::ISyncServer_var created = factory->CreateObject(KroTest::Token("alice"));
  Smallest::IWorker_var worker = Smallest::IWorker::_narrow(created.in());
  ASSERT_FALSE(CORBA::is_nil(worker.in()));

  struct Case
  {
    const char* what;
    CORBA::Long steps;       // 100 ms each
    bool endsByItself;       // within the drain time
  };
  const std::vector<Case> cases = {{"running, ends within the drain", 15, true},
                                   {"running long", 1000, false},
                                   {"waiting", 5, false},
                                   {"waiting", 5, false}};
  std::vector<PortableServer::ServantBase_var> owned;  // the test's references to its handlers
  std::vector<KroTest::RecordingHandler*> handlers;     // the same, one per case
  for (const Case& each : cases)
  {
    handlers.push_back(new KroTest::RecordingHandler);
    owned.emplace_back(handlers.back());
    Krovane::IAsyncHandler_var reference = handlers.back()->Activate();
    worker->Count(each.steps, 100, reference.in());
  }
  // Both pool threads are at work before the stop.
  ASSERT_TRUE(handlers[0]->WaitFor("Progress", 20s)) << process.Describe();
  ASSERT_TRUE(handlers[1]->WaitFor("Progress", 20s)) << process.Describe();

  const Clock::time_point signalled = Clock::now();
  process.Signal(SIGTERM);

  {
    SCOPED_TRACE("a submission during the drain");
    ASSERT_TRUE(process.Stderr().WaitFor(" stopping: 4 operations may run 3 s more", 20s)) << process.Describe();
    KroTest::RecordingHandler* refused = new KroTest::RecordingHandler;
    owned.emplace_back(refused);
    Krovane::IAsyncHandler_var reference = refused->Activate();
    try
    {
      worker->Count(1, 1, reference.in());
      ADD_FAILURE() << "accepted while the server stops";
    }
    catch (const Krovane::Unavailable& ex)
    {
      EXPECT_STREQ(kReason, ex.reason.in());
    }
    catch (const CORBA::Exception& ex)
    {
      ADD_FAILURE() << KroOrb::DescribeException(ex) << "\n" << process.Describe();
    }
    EXPECT_FALSE(server.IorFile().empty() || access(server.IorFile().c_str(), F_OK) == 0)
      << "the IOR file stays while the server drains";
  }

  // Each cancelled client raises its holder as soon as its Error comes, as
  // the client library does. The reply to a raise that comes as the server
  // ends may be lost with its connection (COMM_FAILURE); any other answer
  // is wrong, and at least one must be the Unavailable itself.
  std::map<std::size_t, double> endedAfter;  // by case: seconds from SIGTERM to Finished
  int raisedUnavailable = 0;
  for (std::size_t i = 0; i < cases.size(); ++i)
  {
    SCOPED_TRACE(std::to_string(i) + ": " + cases[i].what);
    if (!cases[i].endsByItself)
    {
      ASSERT_TRUE(handlers[i]->WaitFor("Error", 20s)) << Joined(handlers[i]->Events()) << process.Describe();
      Krovane::IAsyncExceptionHolder_var holder = handlers[i]->Holder();
      try
      {
        holder->raise();
        ADD_FAILURE() << "the holder raised nothing";
      }
      catch (const Krovane::Unavailable& ex)
      {
        EXPECT_STREQ(kReason, ex.reason.in());
        ++raisedUnavailable;
      }
      catch (const CORBA::COMM_FAILURE& ex)
      {
        EXPECT_EQ(omni::COMM_FAILURE_WaitingForReply, ex.minor()) << KroOrb::DescribeException(ex);
      }
      catch (const CORBA::Exception& ex)
      {
        ADD_FAILURE() << KroOrb::DescribeException(ex) << "\n" << process.Describe();
      }
    }
    ASSERT_TRUE(handlers[i]->WaitFor("Finished", 20s)) << Joined(handlers[i]->Events()) << process.Describe();
    endedAfter[i] = SecondsSince(signalled);
  }

  EXPECT_LE(1, raisedUnavailable);

  const std::optional<KroTest::ExitStatus> status = process.WaitForExit(20s);
  const double exitedAfter = SecondsSince(signalled);
  ASSERT_TRUE(status.has_value()) << process.Describe();
  EXPECT_TRUE(status->exited && status->code == 0) << process.Describe();
  EXPECT_NE(0, access(server.IorFile().c_str(), F_OK)) << "IOR file left behind";
  EXPECT_EQ(1, process.Stderr().Count("KroSmallestServer shutting down (signal " + std::to_string(SIGTERM) + ")"))
    << process.Describe();

  for (std::size_t i = 0; i < cases.size(); ++i)
  {
    SCOPED_TRACE(std::to_string(i) + ": " + cases[i].what);
    const std::vector<std::string> events = handlers[i]->Events();
    EXPECT_EQ("Finished", events.back()) << Joined(events);
    EXPECT_EQ(1, handlers[i]->Count("Finished")) << Joined(events);
    if (cases[i].endsByItself)
    {
      EXPECT_EQ(0, handlers[i]->Count(kStopping)) << Joined(events);
      EXPECT_EQ(0, handlers[i]->Count("Error")) << Joined(events);
      EXPECT_EQ(1, handlers[i]->Count("Results")) << Joined(events);
      continue;
    }
    // Told in this order, and only once the drain time was over.
    const std::vector<std::string> end = From(events, kStopping);
    ASSERT_LE(3u, end.size()) << Joined(events);
    EXPECT_EQ("Error", end[1]) << Joined(events);
    EXPECT_EQ(0, handlers[i]->Count("Results")) << Joined(events);
    EXPECT_GE(endedAfter[i], drainSeconds - 0.5) << "cancelled before the drain time was over";
    // Within drain + 1 s, and a little more for a loaded machine.
    EXPECT_LE(endedAfter[i], drainSeconds + 3.0);
  }
  EXPECT_LE(exitedAfter, drainSeconds + 5.0);

  std::printf("SIGTERM -> Finished, seconds: ends within drain %.2f; running long %.2f; waiting %.2f, %.2f; "
              "process exited %.2f (drain %d s)\n",
              endedAfter[0], endedAfter[1], endedAfter[2], endedAfter[3], exitedAfter, drainSeconds);
}
catch (const CORBA::Exception& ex)
{
  FAIL() << KroOrb::DescribeException(ex);
}

// The idle shutdown with an interval under 10 s: its two idle checks come
// an interval apart, and the server ends saying why, its IOR file removed.
TEST(OrderlyStop, IdleShutdownChecksAnIntervalApartAndRemovesTheIorFile)
{
  const int idleSeconds = 2;
  KroTest::ServerProcess server(KRO_SMALLEST_SERVER, {"--idle-seconds", std::to_string(idleSeconds)});
  KroTest::ChildProcess& process = server.Process();
  const std::string idleCheck = " Objects(0) Active Operations(0)\n";
  ASSERT_TRUE(process.Stderr().WaitFor(idleCheck, 30s, 1)) << process.Describe();
  const Clock::time_point first = Clock::now();
  ASSERT_TRUE(process.Stderr().WaitFor(idleCheck, 30s, 2)) << process.Describe();
  EXPECT_GE(SecondsSince(first), idleSeconds - 0.3) << process.Describe();

  const std::optional<KroTest::ExitStatus> status = process.WaitForExit(30s);
  ASSERT_TRUE(status.has_value()) << process.Describe();
  EXPECT_TRUE(status->exited && status->code == 0) << process.Describe();
  EXPECT_NE(0, access(server.IorFile().c_str(), F_OK)) << "IOR file left behind";
  EXPECT_EQ(1, process.Stderr().Count("KroSmallestServer shutting down (idle)")) << process.Describe();
  EXPECT_EQ(0, process.Stderr().Count("(signal 0)")) << process.Describe();
}
