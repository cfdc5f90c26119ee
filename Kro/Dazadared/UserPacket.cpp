#include "Dazadared/UserPacket.h"

#include <ace/Guard_T.h>

namespace Halvern_Utilities
{
  UserPacket::UserPacket() {}

  UserPacket::UserPacket(const UserPacket& other) : m_token(other.GetToken()) {}

  UserPacket::~UserPacket() {}

  UserPacket& UserPacket::operator=(const UserPacket& other)
  {
    if (this != &other)
      SetToken(other.GetToken());
    return *this;
  }

  const std::string UserPacket::GetToken() const
  {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, m_lock, std::string());
    return m_token;
  }

  void UserPacket::SetToken(const std::string& token)
  {
    ACE_GUARD(ACE_Thread_Mutex, guard, m_lock);
    m_token = token;
  }
}
