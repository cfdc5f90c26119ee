// The asynchronous example as the demo runs it: the real client against
// the real server, which then ends by itself once idle.
#include "support/ProcessHarness.h"

#include <gtest/gtest.h>

#include <string>

using namespace std::chrono_literals;

TEST(AsyncDemo, ClientSessionEndsWithItsSummaryAndTheServerEndsWhenIdle)
{
  KroTest::ServerProcess server(KRO_EXAMPLE_ASYNC_SERVER, {"--max-threads", "2", "--idle-seconds", "3"});
  KroTest::ChildProcess client(KRO_EXAMPLE_ASYNC_CLIENT, {"--ior-file", server.IorFile(), "--token", "demo-user",
                                                          "-ORBendPoint", "giop:tcp:127.0.0.1:"});
  const auto clientStatus = client.WaitForExit(120s);
  ASSERT_TRUE(clientStatus.has_value()) << client.Describe();
  EXPECT_TRUE(clientStatus->exited && clientStatus->code == 0) << client.Describe();
  const std::string said = client.Stdout().Text();
  const std::string summary = "client: summary: 3 finished, 2 cancelled, 1 failed\n";
  ASSERT_GE(said.size(), summary.size()) << said;
  EXPECT_EQ(summary, said.substr(said.size() - summary.size())) << said;
  EXPECT_NE(std::string::npos,
            said.find("client: op 5 (sqrt2 x5) failed: raise() -> Krovane::AsyncOperationException: "
                      "unknown computation \"sqrt2\" (try pi, e or primes)\n")) << said;
  EXPECT_NE(std::string::npos, said.find("\"Queued AsynchronousOperation Cancelled. OpId = 4\"")) << said;
  EXPECT_NE(std::string::npos, said.find("<- new handler")) << said;
  EXPECT_EQ("", client.Stderr().Text());

  // Nothing keeps the server: its idle-shutdown task ends it.
  const auto serverStatus = server.Process().WaitForExit(30s);
  ASSERT_TRUE(serverStatus.has_value()) << server.Process().Describe();
  EXPECT_TRUE(serverStatus->exited && serverStatus->code == 0) << server.Process().Describe();
  EXPECT_NE(std::string::npos, server.Process().Stderr().Text().find(")  Shutting down the KroServer\n"));
}
