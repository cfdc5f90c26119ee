#include "support/LogCapture.h"

#include <ace/Log_Msg.h>

#include <gtest/gtest.h>

#include <thread>

TEST(LogCapture, CapturesLinesOfEveryThreadWithNormalisedPrefix)
{
  KroTest::LogCapture capture;
  ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) from main\n")));
  std::thread other([] { ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) from other %d\n"), 7)); });
  other.join();
  EXPECT_EQ(1, capture.Count("(%P|%t) from main\n"));
  EXPECT_TRUE(capture.WaitFor("(%P|%t) from other 7\n"));
}
