// UserPacket: the identity of the user on whose behalf code runs.
//
// A plain value: copy it freely. The token is kept whole, whatever bytes it
// holds (embedded NULs included). Thread-safe: a packet may be read while
// another thread replaces its token (a client updating its token while one
// of its requests runs), so each access takes the packet's own lock.
#ifndef DAZADARED_USERPACKET_H
#define DAZADARED_USERPACKET_H

#include <ace/Thread_Mutex.h>

#include <string>

namespace Halvern_Utilities
{
  class UserPacket
  {
  public:
    UserPacket();
    UserPacket(const UserPacket& other);
    ~UserPacket();
    UserPacket& operator=(const UserPacket& other);

    // A copy of the token, every byte of it.
    const std::string GetToken() const;
    // Replaces the token by all bytes of token.
    void SetToken(const std::string& token);

  private:
    mutable ACE_Thread_Mutex m_lock;  // guards m_token
    std::string m_token;              // the user's token bytes
  };
}

#endif
