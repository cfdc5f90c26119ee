// The first pool thread of a process is announced once, whichever pool
// starts it. A program of its own: the announcement is process-wide.
#include "KroServer/ThreadPoolThreadingPolicy.h"

#include "PoolTestItems.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

using namespace PoolTest;

TEST(ThreadPoolFirstThread, IsAnnouncedOncePerProcess)
{
  KroTest::LogCapture capture;
  Krovane::ThreadPoolThreadingPolicy* first = NewPool(1, 1);
  Krovane::ThreadPoolThreadingPolicy* second = NewPool(1, 1);
  ASSERT_EQ(1, first->setStackSize(256000));
  Item a("a"), b("b");
  first->Submit(&a);
  second->Submit(&b);
  ASSERT_TRUE(a.Done().Wait());
  ASSERT_TRUE(b.Done().Wait());
  EXPECT_EQ(1, first->GetPoolSize());
  EXPECT_EQ(1, second->GetPoolSize());
  EXPECT_EQ(std::vector<std::string>{"(%P|%t) Creating Threadpool Threads with stack size(256000)\n"},
            capture.Lines());
}
