#include "KroKit/HmacTokenVerifier.h"

#include "KroKit/HmacToken.h"
#include "KroKit/SecretFile.h"
#include "KroServer/UserTokenOctets.h"

#include <ace/Log_Msg.h>

#include <ctime>
#include <stdexcept>

namespace KroKit
{
  std::string ReadKeyFile(const std::string& path)
  {
    return ReadSecretFile(path, "the key file");
  }

  HmacTokenVerifier::HmacTokenVerifier(const std::string& key) : m_key(key)
  {
    if (m_key.size() < HmacToken::kMinKeyLength)
      throw std::invalid_argument("the token key is shorter than 16 octets");
  }

  std::shared_ptr<HmacTokenVerifier> HmacTokenVerifier::FromKeyFile(const std::string& path)
  {
    return std::make_shared<HmacTokenVerifier>(ReadKeyFile(path));
  }

  bool HmacTokenVerifier::Verify(const Krovane::UserToken& token, const KroOrb::CallerIdentity&)
  {
    HmacToken::Verdict verdict = HmacToken::kMalformed;
    if (token.length() <= HmacToken::kMaxLength)
    {
      verdict = HmacToken::Check(m_key, Krovane::UserTokenOctets::Text(token), static_cast<long long>(std::time(nullptr)));
    }
    if (verdict != HmacToken::kValid)
      ACE_DEBUG((LM_NOTICE, ACE_TEXT("(%P|%t) HmacTokenVerifier: %C token refused\n"), HmacToken::Describe(verdict)));
    return verdict == HmacToken::kValid;
  }

  bool HmacTokenVerifier::StillValid(const std::string& tokenText, long long now) const
  {
    return HmacToken::Expiry(tokenText) > now;
  }

  std::string HmacTokenVerifier::UserName(const std::string& tokenText) const
  {
    return HmacToken::UserPart(tokenText);
  }
}
