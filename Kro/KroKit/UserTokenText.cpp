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

  namespace
  {
    // Printable ASCII as it is, every other byte (and the backslash) as \xNN.
    std::string Escaped(const std::string& bytes)
    {
      std::string text;
      for (const char c : bytes)
      {
        const unsigned char octet = static_cast<unsigned char>(c);
        if (octet >= 0x20 && octet < 0x7f && octet != '\\')
        {
          text.push_back(c);
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
  }

  std::string TokenToText(const Krovane::UserToken& token)
  {
    return Escaped(Krovane::UserTokenOctets::Text(token));
  }

  std::string LoggedUser(const Krovane::UserToken& token)
  {
    return Escaped(Krovane::UserVerifier::UserOf(Krovane::UserTokenOctets::Text(token)));
  }

  std::string LoggedUser(const std::string& tokenText)
  {
    // Up to the NUL an object's stored token ends in, as SyncServerImpl::UserName reads it.
    return Escaped(Krovane::UserVerifier::UserOf(tokenText.c_str()));
  }
}
