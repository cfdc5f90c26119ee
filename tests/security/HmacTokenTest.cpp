// Signed user tokens (KroKit::HmacToken): each way a token can be wrong is
// refused with its own verdict, and only the key's own, unexpired token
// passes.
#include "KroKit/HmacToken.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace
{
  using KroKit::HmacToken;

  const std::string kKey = "0123456789abcdef-server-key";
  const long long kNow = 1700000000;
  const std::string kGood = HmacToken::Mint(kKey, "alice", kNow + 60);

  // kGood with its MAC's last hex digit changed.
  std::string LastDigitFlipped(std::string token)
  {
    token.back() = token.back() == '0' ? '1' : '0';
    return token;
  }

  struct Case
  {
    const char* what;
    std::string token;
    HmacToken::Verdict verdict;
  };
}

TEST(HmacToken, EachFaultIsRefusedWithItsVerdict)
{
  const std::string signedPart = kGood.substr(0, kGood.rfind('|'));
  const Case cases[] = {
    {"the key's own token", kGood, HmacToken::kValid},
    {"plain user name", "alice", HmacToken::kMalformed},
    {"empty", "", HmacToken::kMalformed},
    {"no MAC", signedPart, HmacToken::kMalformed},
    {"MAC one digit short", kGood.substr(0, kGood.size() - 1), HmacToken::kMalformed},
    {"MAC of the right length, made up", signedPart + "|" + std::string(64, 'A'), HmacToken::kForged},
    {"expiry not a number", "alice|soon|" + std::string(64, '0'), HmacToken::kMalformed},
    {"NUL after the token", kGood + std::string(1, '\0'), HmacToken::kMalformed},
    {"NUL inside the user", HmacToken::Mint(kKey, "al", kNow + 60).insert(2, std::string(1, '\0')),
     HmacToken::kMalformed},
    {"huge", kGood + std::string(100000, 'x'), HmacToken::kMalformed},
    {"MAC changed", LastDigitFlipped(kGood), HmacToken::kForged},
    {"signed with another key", HmacToken::Mint("another-key-of-16+octets", "alice", kNow + 60), HmacToken::kForged},
    {"user renamed", "mallory" + kGood.substr(kGood.find('|')), HmacToken::kForged},
    {"expiry extended", "alice|" + std::to_string(kNow + 9999) + kGood.substr(kGood.rfind('|')), HmacToken::kForged},
    {"expired a second ago", HmacToken::Mint(kKey, "alice", kNow - 1), HmacToken::kExpired},
    {"expiring now", HmacToken::Mint(kKey, "alice", kNow), HmacToken::kExpired},
  };
  for (const Case& c : cases)
  {
    SCOPED_TRACE(c.what);
    std::string user;
    EXPECT_EQ(HmacToken::Describe(c.verdict), std::string(HmacToken::Describe(HmacToken::Check(kKey, c.token, kNow, &user))));
    EXPECT_EQ(c.verdict == HmacToken::kValid ? "alice" : "", user);
  }
}

TEST(HmacToken, MintRefusesWhatCheckWouldRefuse)
{
  EXPECT_THROW(HmacToken::Mint("short", "alice", kNow), std::invalid_argument);
  EXPECT_THROW(HmacToken::Mint(kKey, "a|b", kNow), std::invalid_argument);
  EXPECT_THROW(HmacToken::Mint(kKey, "", kNow), std::invalid_argument);
  EXPECT_THROW(HmacToken::Mint(kKey, std::string("a\0b", 3), kNow), std::invalid_argument);
  EXPECT_EQ(HmacToken::kMalformed, HmacToken::Check("short", kGood, kNow));
  EXPECT_EQ("alice", HmacToken::UserPart(kGood));
}
