// The pool's maximum comes from the first router built in the process;
// later routers' values have no effect. In a program of its own: the
// setting happens once per process.
#include "CalculatorRouter.h"

#include "KroServer/ThreadPoolThreadingPolicy.h"

#include <gtest/gtest.h>

TEST(AsyncPoolSetting, OnlyTheFirstRoutersMaximumReachesThePool)
{
  Krovane::ThreadPoolThreadingPolicy* pool = Krovane::AsynchronousRouter::s_pThreadPoolThreadingPolicy;
  ASSERT_EQ(5, pool->GetMax());

  PortableServer::ServantBase_var first = new KroExample::CalculatorRouter(
    PortableServer::POA::_nil(), Krovane::IAsyncServer::_nil(), 3, ACE_Time_Value::zero, 1);
  EXPECT_EQ(3, pool->GetMax());

  PortableServer::ServantBase_var second = new KroExample::CalculatorRouter(
    PortableServer::POA::_nil(), Krovane::IAsyncServer::_nil(), 1, ACE_Time_Value::zero, 1);
  PortableServer::ServantBase_var third = new KroExample::CalculatorRouter(
    PortableServer::POA::_nil(), Krovane::IAsyncServer::_nil(), 7, ACE_Time_Value::zero, 1);
  EXPECT_EQ(3, pool->GetMax());
}
