// HmacToken: user tokens signed with a key only the servers hold.
//
// The token's text is
//     USER|EXPIRY|MAC
// USER: 1 to 256 octets, none of them '|', NUL or a control character;
// EXPIRY: the end of its validity, in decimal seconds since 1970 (UTC);
// MAC: HMAC-SHA256 with the key over "USER|EXPIRY", as 64 lower-case hex
// digits. Whole tokens longer than kMaxLength octets are refused unread.
// The MAC is compared in constant time (CRYPTO_memcmp).
//
// Free of state: any thread.
#ifndef KROKIT_HMACTOKEN_H
#define KROKIT_HMACTOKEN_H

#include <string>

namespace KroKit
{
  class HmacToken
  {
  public:
    // The longest token text looked at.
    static const std::size_t kMaxLength = 512;
    // The shortest key taken.
    static const std::size_t kMinKeyLength = 16;

    // What Check found.
    enum Verdict
    {
      kValid,      // well formed, signed with the key, not expired
      kMalformed,  // too long, a NUL, a bad user, a field missing or not a number
      kForged,     // the MAC is not the key's
      kExpired     // signed, but its time is over
    };

    // The token for user, valid until expiry (seconds since 1970), signed
    // with key. Throws std::invalid_argument for a user or key Check would refuse.
    static std::string Mint(const std::string& key, const std::string& user, long long expiry);
    // Checks text against key at time now (seconds since 1970); on kValid
    // stores the user in *user (when given).
    static Verdict Check(const std::string& key, const std::string& text, long long now,
                         std::string* user = nullptr);
    // The EXPIRY part of text, or -1 when there is none; no MAC check (for a
    // token checked before).
    static long long Expiry(const std::string& text);
    // The USER part of text (everything before the first '|').
    static std::string UserPart(const std::string& text);
    // A verdict as a word for the log: "valid", "malformed", "forged", "expired".
    static const char* Describe(Verdict verdict);
  };
}

#endif
