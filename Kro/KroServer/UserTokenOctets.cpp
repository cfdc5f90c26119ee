#include "KroServer/UserTokenOctets.h"

#include <cstring>

namespace Krovane
{
  std::string UserTokenOctets::Text(const UserToken& token)
  {
    if (token.length() == 0)
      return std::string();
    return std::string(reinterpret_cast<const char*>(token.get_buffer()), token.length());
  }

  UserToken UserTokenOctets::Octets(const std::string& text)
  {
    const CORBA::ULong length = static_cast<CORBA::ULong>(text.size());
    UserToken token(length);
    token.length(length);
    CopyTo(text, token.get_buffer());
    return token;
  }

  void UserTokenOctets::CopyTo(const std::string& text, CORBA::Octet* out)
  {
    if (!text.empty())
      std::memcpy(out, text.data(), text.size());
  }
}
