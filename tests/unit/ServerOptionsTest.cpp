// The kit's command line sets what the log shows: by default what an
// operator needs (information and worse, no debug lines), more or less on
// request.
#include "KroKit/ServerOptions.h"

#include <ace/Log_Msg.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(ServerOptions, LogLevelsShowInformationByDefaultAndDebugLinesOnlyOnRequest)
{
  struct Case
  {
    std::vector<std::string> flags;
    bool debug;   // LM_DEBUG lines ("Decrementing ThreadPool size: thread exitting.")
    bool info;    // LM_INFO lines ("KroSmallestServer ready")
    bool notice;  // LM_NOTICE lines ("KroSmallestServer shutting down (signal 15)")
    bool trace;   // LM_TRACE
  };
  const std::vector<Case> cases = {
    {{}, false, true, true, false},
    {{"--debug"}, true, true, true, false},
    {{"--verbose"}, true, true, true, true},
    {{"--quiet"}, false, false, true, false},
  };
  for (const Case& each : cases)
  {
    std::vector<std::string> words = {"program"};
    words.insert(words.end(), each.flags.begin(), each.flags.end());
    std::vector<char*> argv;
    for (std::string& word : words)
      argv.push_back(&word[0]);
    argv.push_back(nullptr);
    KroKit::ServerOptions options;
    SCOPED_TRACE(::testing::PrintToString(each.flags));
    ASSERT_TRUE(options.Parse(static_cast<int>(argv.size()) - 1, argv.data())) << options.Error();
    const u_long mask = ACE_LOG_MSG->priority_mask(ACE_Log_Msg::PROCESS);
    EXPECT_EQ(each.debug, (mask & LM_DEBUG) != 0);
    EXPECT_EQ(each.info, (mask & LM_INFO) != 0);
    EXPECT_EQ(each.notice, (mask & LM_NOTICE) != 0);
    EXPECT_EQ(each.trace, (mask & LM_TRACE) != 0);
    EXPECT_NE(0u, mask & LM_WARNING);
    EXPECT_NE(0u, mask & LM_ERROR);
  }
  ACE_LOG_MSG->priority_mask(~0ul, ACE_Log_Msg::PROCESS);  // as it was for the other tests
}
