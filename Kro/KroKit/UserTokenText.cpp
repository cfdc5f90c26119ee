#include "KroKit/UserTokenText.h"

#include "KroServer/UserTokenOctets.h"
#include "KroServer/UserVerifier.h"

#include <cstdio>

namespace KroKit
{
  Krovane::UserToken TokenFromText(const std::string& text)
  {
    return Krovane::UserTokenOctets::Octets(text);
  }

  std::string TokenToText(const Krovane::UserToken& token)
  {
    std::string text;
    for (CORBA::ULong i = 0; i < token.length(); ++i)
    {
      const CORBA::Octet octet = token[i];
      if (octet >= 0x20 && octet < 0x7f && octet != '\\')
      {
        text.push_back(static_cast<char>(octet));
      }
      else
      {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned>(octet));
        text += escaped;
      }
    }
    return text;
  }

  std::string LoggedUser(const Krovane::UserToken& token)
  {
    return TokenToText(TokenFromText(Krovane::UserVerifier::UserOf(Krovane::UserTokenOctets::Text(token))));
  }

  std::string LoggedUser(const std::string& tokenText)
  {
    // Up to the NUL an object's stored token ends in, as SyncServerImpl::UserName reads it.
    return TokenToText(TokenFromText(Krovane::UserVerifier::UserOf(tokenText.c_str())));
  }
}
