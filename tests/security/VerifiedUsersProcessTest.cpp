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
#include <thread>
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
  // The log names the verified user, never the token (it works from any
  // connection until it expires).
  EXPECT_TRUE(server.WaitForLog("(%P|%t) operation 1: pi in 1 steps for \"alice\""));

  // A good token is taken by UpdateUserToken.
  calculator->UpdateUserToken(KroTest::Token(KroKit::HmacToken::Mint(kKey, "alice", Now() + 1200)));
  calculator->Remove();

  // A token that runs out while its object lives: every request but the
  // renewal and the removal is refused from then on.
  const long long expiry = Now() + 2;
  const std::string shortLived = KroKit::HmacToken::Mint(kKey, "bob", expiry);
  Calculator::ICalculator_var bobs = server.NewCalculator(shortLived);
  KroTest::RecordingHandler& bobsHandler = server.NewHandler(reference);
  ASSERT_EQ(1, bobs->Compute("pi", 1, reference.in()));
  EXPECT_TRUE(bobsHandler.WaitFor("Finished", 20s));
  // The event waited for is the clock passing the token's expiry.
  std::this_thread::sleep_until(std::chrono::system_clock::from_time_t(static_cast<std::time_t>(expiry)) + 200ms);
  EXPECT_THROW(bobs->Compute("pi", 1, reference.in()), CORBA::NO_PERMISSION);
  EXPECT_THROW(bobs->GetOperationState(1), CORBA::NO_PERMISSION);
  EXPECT_THROW(bobs->CancelAllOperations(), CORBA::NO_PERMISSION);
  EXPECT_TRUE(server.WaitForLog("(%P|%t) UserVerifier: the token of user \"bob\" has expired", 3)) << server.Log();
  bobs->UpdateUserToken(KroTest::Token(KroKit::HmacToken::Mint(kKey, "bob", Now() + 600)));
  EXPECT_EQ(Krovane::Finished, bobs->GetOperationState(1)) << "served again once renewed";
  bobs->Remove();

  const std::string log = server.Log();
  for (const std::string& token : {alice, shortLived})
    EXPECT_EQ(log.find(token.substr(token.rfind('|'))), std::string::npos) << "a token's signature in the log:\n" << log;
}
