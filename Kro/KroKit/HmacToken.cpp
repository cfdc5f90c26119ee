#include "KroKit/HmacToken.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cctype>
#include <stdexcept>

namespace KroKit
{
  namespace
  {
    const std::size_t kMaxUserLength = 256;
    const std::size_t kMacHexLength = 64;  // SHA-256: 32 octets

    bool GoodUser(const std::string& user)
    {
      if (user.empty() || user.size() > kMaxUserLength)
        return false;
      for (unsigned char c : user)
        if (c == '|' || c < 0x20 || c == 0x7f)
          return false;
      return true;
    }

    // The MAC of signed under key, in lower-case hex.
    std::string MacHex(const std::string& key, const std::string& signedText)
    {
      unsigned char mac[EVP_MAX_MD_SIZE];
      unsigned int length = 0;
      if (!HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
                reinterpret_cast<const unsigned char*>(signedText.data()), signedText.size(), mac, &length))
        throw std::runtime_error("HMAC-SHA256 failed");
      static const char digits[] = "0123456789abcdef";
      std::string hex;
      for (unsigned int i = 0; i < length; ++i)
      {
        hex.push_back(digits[mac[i] >> 4]);
        hex.push_back(digits[mac[i] & 0xf]);
      }
      return hex;
    }

    bool Decimal(const std::string& text, long long& value)
    {
      if (text.empty() || text.size() > 18)
        return false;
      value = 0;
      for (char c : text)
      {
        if (!std::isdigit(static_cast<unsigned char>(c)))
          return false;
        value = value * 10 + (c - '0');
      }
      return true;
    }
  }

  std::string HmacToken::Mint(const std::string& key, const std::string& user, long long expiry)
  {
    if (key.size() < kMinKeyLength)
      throw std::invalid_argument("the key is shorter than 16 octets");
    if (!GoodUser(user) || expiry < 0)
      throw std::invalid_argument("no token can name this user");
    const std::string signedText = user + "|" + std::to_string(expiry);
    return signedText + "|" + MacHex(key, signedText);
  }

  HmacToken::Verdict HmacToken::Check(const std::string& key, const std::string& text, long long now,
                                      std::string* user)
  {
    if (key.size() < kMinKeyLength || text.size() > kMaxLength || text.find('\0') != std::string::npos)
      return kMalformed;
    const std::size_t first = text.find('|');
    const std::size_t second = first == std::string::npos ? first : text.find('|', first + 1);
    if (second == std::string::npos)
      return kMalformed;
    const std::string name = text.substr(0, first);
    long long expiry = 0;
    const std::string mac = text.substr(second + 1);
    if (!GoodUser(name) || !Decimal(text.substr(first + 1, second - first - 1), expiry) ||
        mac.size() != kMacHexLength)
      return kMalformed;
    const std::string expected = MacHex(key, text.substr(0, second));
    if (CRYPTO_memcmp(expected.data(), mac.data(), kMacHexLength) != 0)
      return kForged;
    if (expiry <= now)
      return kExpired;
    if (user)
      *user = name;
    return kValid;
  }

  long long HmacToken::Expiry(const std::string& text)
  {
    const std::size_t first = text.find('|');
    const std::size_t second = first == std::string::npos ? first : text.find('|', first + 1);
    long long expiry = 0;
    if (second == std::string::npos || !Decimal(text.substr(first + 1, second - first - 1), expiry))
      return -1;
    return expiry;
  }

  std::string HmacToken::UserPart(const std::string& text)
  {
    return text.substr(0, text.find('|'));
  }

  const char* HmacToken::Describe(Verdict verdict)
  {
    switch (verdict)
    {
      case kValid: return "valid";
      case kMalformed: return "malformed";
      case kForged: return "forged";
      case kExpired: return "expired";
    }
    return "unknown";
  }
}
