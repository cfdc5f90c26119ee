// The event-thread and idle-shutdown tasks in one process with a real ORB:
// start-up failures, the thread count, an idle shutdown that closes another
// task first, and what happens once the ORB is shut down.
#include "KroDazadared/KroSystem.h"
#include "KroServer/KroServerEventHandler.h"
#include "KroServer/KroServerShutdownTask.h"
#include "KroServer/ServerFactoryImpl.h"
#include "OrbLayer/OrbShutdown.h"

#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

using Krovane::KroServerEventHandler;
using Krovane::KroServerShutdownTask;
using KroTest::LogCapture;

namespace
{
  const std::string kIdleCheck = "(%P|%t) Objects(0) Active Operations(0)\n";
  const std::string kShuttingDown = "(%P|%t)  Shutting down the KroServer\n";

  // A task whose close(0) the idle shutdown calls; notes whether the ORB
  // was still up then.
  class ClosedTask : public ACE_Task_Base
  {
  public:
    std::atomic<int> closes{0};
    std::atomic<bool> orbWasUp{false};
    int close(u_long flags) override
    {
      if (flags == 0)
      {
        CORBA::ORB_var orb = Krovane::KroSystem::Instance(1)->GetOrb();
        orbWasUp = !KroOrb::OrbIsShutDown(orb.in());
        ++closes;
      }
      return 0;
    }
  };

  int Occurrences(const std::string& text, const std::string& part)
  {
    int count = 0;
    for (std::string::size_type at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
      ++count;
    return count;
  }
}

TEST(RuntimeTasks, RefuseToStartWithoutAnOrb)
{
  LogCapture log;
  KroServerEventHandler events(CORBA::ORB::_nil(), 2, 0);
  KroServerShutdownTask idle(CORBA::ORB::_nil(), ACE_Time_Value(1));
  EXPECT_EQ(-1, events.open());
  EXPECT_EQ(-1, idle.open());
  EXPECT_EQ(1, log.Count("(%P|%t) Exception initializing KroServerEventHandler.\n"));
  EXPECT_EQ(1, log.Count("(%P|%t) Exception initializing KroServerShutdownTask.\n"));
  EXPECT_EQ(0, events.thr_count());
}

TEST(RuntimeTasks, ThreadCountIsKeptBetweenOneAndTwenty)
{
  EXPECT_EQ(1, KroServerEventHandler(CORBA::ORB::_nil(), 0, 0).GetThreadCount());
  EXPECT_EQ(1, KroServerEventHandler(CORBA::ORB::_nil(), -3, 0).GetThreadCount());
  EXPECT_EQ(7, KroServerEventHandler(CORBA::ORB::_nil(), 7, 0).GetThreadCount());
  EXPECT_EQ(20, KroServerEventHandler(CORBA::ORB::_nil(), 21, 0).GetThreadCount());
}

// One ORB per process, so the whole life runs in one test: serve, go idle,
// shut down, and then neither replace threads nor shut down twice.
TEST(RuntimeTasks, IdleProcessShutsDownOnceAndItsThreadsAreNotReplaced)
{
  int argc = 1;
  char name[] = "RuntimeTasksTest";
  char* argv[] = {name, nullptr};
  Krovane::KroSystem::Instance(1)->InitOrb(argc, argv);
  CORBA::ORB_var orb = Krovane::KroSystem::Instance(1)->GetOrb();
  PortableServer::POA_var root = Krovane::KroSystem::Instance(1)->GetRootPOA();
  Krovane::ServerFactoryImpl factory(root.in());  // gives the object table its POA

  LogCapture log;
  KroServerEventHandler events(orb.in(), 3, 256 * 1024);
  ASSERT_EQ(0, events.open());
  ClosedTask other;
  KroServerShutdownTask idle(orb.in(), ACE_Time_Value(0));
  ASSERT_EQ(0, idle.open(&other));

  // Interval 0: two checks at once, then the shutdown; the event threads return.
  ASSERT_EQ(0, idle.wait());
  ASSERT_EQ(0, events.wait());
  EXPECT_EQ(2, log.Count(kIdleCheck));
  EXPECT_EQ(1, log.Count(kShuttingDown));
  EXPECT_EQ(1, other.closes.load());
  EXPECT_TRUE(other.orbWasUp.load());
  EXPECT_TRUE(KroOrb::OrbIsShutDown(orb.in()));

  // Threads started now fail at once and end without replacement.
  testing::internal::CaptureStdout();
  KroServerEventHandler late(orb.in(), 3, 0);
  ASSERT_EQ(0, late.open());
  ASSERT_EQ(0, late.wait());
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(3, Occurrences(printed, "KroServerEventHandler::svc problem: BAD_INV_ORDER"));

  // A second idle shutdown finds the ORB down: no close(0), no exit.
  log.Clear();
  testing::internal::CaptureStdout();
  KroServerShutdownTask again(orb.in(), ACE_Time_Value(0));
  ASSERT_EQ(0, again.open(&other));
  ASSERT_EQ(0, again.wait());
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(1, log.Count(kShuttingDown));
  EXPECT_EQ(1, other.closes.load());

  Krovane::KroSystem::Instance(1)->Destroy();
}
