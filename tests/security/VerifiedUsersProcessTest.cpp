// Verified users across processes: the asynchronous example server with
// --token-key accepts only tokens signed with its key, on CreateObject and
// on UpdateUserToken alike, and runs the work as the token's user.
#include "CalculatorServer.h"

#include "KroKit/HmacToken.h"
#include "support/LogLines.h"

#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <string>
#include <utility>

using namespace std::chrono_literals;

namespace
{
  const std::string kKey = "verified-users-test-key-0123456789";

  long long Now() { return static_cast<long long>(std::time(nullptr)); }

  // The key in a file of dir, for the server's --token-key.
  std::string KeyFile(const KroTest::TemporaryDirectory& dir)
  {
    const std::string path = dir.File("token.key");
    std::ofstream(path) << kKey << "\n";
    return path;
  }

  struct BadToken
  {
    const char* what;
    std::string text;
  };

  std::vector<BadToken> BadTokens()
  {
    const std::string good = KroKit::HmacToken::Mint(kKey, "alice", Now() + 600);
    return {
      {"plain user name", "alice"},
      {"expired", KroKit::HmacToken::Mint(kKey, "alice", Now() - 1)},
      {"forged MAC", KroKit::HmacToken::Mint("not-the-servers-key-0123", "alice", Now() + 600)},
      {"NUL-laden", good + std::string(1, '\0') + "root"},
      {"huge", good + std::string(1 << 20, 'x')},
    };
  }
}

TEST(VerifiedUsers, OnlyTokensSignedWithTheServersKeyAreAccepted)
{
  KroTest::TemporaryDirectory dir;
  KroTest::CalculatorServer server(2, {"--token-key", KeyFile(dir)});

  for (const BadToken& bad : BadTokens())
  {
    SCOPED_TRACE(bad.what);
    EXPECT_THROW(server.NewCalculator(bad.text), CORBA::NO_PERMISSION);
  }

  const std::string alice = KroKit::HmacToken::Mint(kKey, "alice", Now() + 600);
  Calculator::ICalculator_var calculator = server.NewCalculator(alice);
  for (const BadToken& bad : BadTokens())
  {
    SCOPED_TRACE(std::string("UpdateUserToken, ") + bad.what);
    EXPECT_THROW(calculator->UpdateUserToken(KroTest::Token(bad.text)), CORBA::NO_PERMISSION);
  }
  // Every refusal is logged with its reason, never with the token. The log
  // comes on a pipe of its own, after the replies: waited for, then counted.
  const std::pair<const char*, int> refusals[] = {{"malformed", 6}, {"expired", 2}, {"forged", 2}};
  for (const auto& [reason, times] : refusals)
  {
    const std::string line = "(%P|%t) HmacTokenVerifier: " + std::string(reason) + " token refused";
    EXPECT_TRUE(server.WaitForLog(line, times)) << server.Log();
    EXPECT_EQ(times, server.LogCount(line)) << server.Log();
  }

  // The refusals changed nothing: the work runs as alice's token says.
  Krovane::IAsyncHandler_var reference;
  KroTest::RecordingHandler& handler = server.NewHandler(reference);
  ASSERT_EQ(1, calculator->Compute("pi", 1, reference.in()));
  EXPECT_TRUE(handler.WaitFor("Finished", 20s));
  EXPECT_TRUE(server.WaitForLog("(%P|%t) operation 1: pi in 1 steps for \"" + alice + "\""));

  // A good token is taken by UpdateUserToken.
  calculator->UpdateUserToken(KroTest::Token(KroKit::HmacToken::Mint(kKey, "alice", Now() + 1200)));
  calculator->Remove();
}
