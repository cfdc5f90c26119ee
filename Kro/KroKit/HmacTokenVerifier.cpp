#include "KroKit/HmacTokenVerifier.h"

#include "KroKit/HmacToken.h"

#include <ace/Log_Msg.h>

#include <ctime>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace KroKit
{
  std::string ReadKeyFile(const std::string& path)
  {
    std::ifstream file(path, std::ios::binary);
    if (!file)
      throw std::runtime_error("cannot read the key file " + path);
    std::ostringstream content;
    content << file.rdbuf();
    std::string key = content.str();
    while (!key.empty() && (key.back() == '\n' || key.back() == '\r'))
      key.pop_back();
    return key;
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
      const std::string text(reinterpret_cast<const char*>(token.get_buffer()), token.length());
      verdict = HmacToken::Check(m_key, text, static_cast<long long>(std::time(nullptr)));
    }
    if (verdict != HmacToken::kValid)
      ACE_DEBUG((LM_NOTICE, ACE_TEXT("(%P|%t) HmacTokenVerifier: %C token refused\n"), HmacToken::Describe(verdict)));
    return verdict == HmacToken::kValid;
  }

  std::string HmacTokenVerifier::UserName(const std::string& tokenText) const
  {
    return HmacToken::UserPart(tokenText);
  }
}
