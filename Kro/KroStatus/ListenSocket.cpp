#include "KroStatus/ListenSocket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace KroStatus
{
  namespace
  {
    const int kBacklog = 64;

    [[noreturn]] void Refuse(const std::string& address, int port, const std::string& why)
    {
      throw std::runtime_error("cannot listen on " + address + ":" + std::to_string(port) + " (" + why + ")");
    }
  }

  int ListenOn(const std::string& address, int port)
  {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const int error = ::getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (error != 0)
      Refuse(address, port, ::gai_strerror(error));
    const std::unique_ptr<addrinfo, void (*)(addrinfo*)> owned(found, ::freeaddrinfo);

    const int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
      Refuse(address, port, std::strerror(errno));
    // SO_REUSEADDR only lets a restart bind beside connections still in
    // TIME_WAIT; Linux still refuses a port another socket listens on.
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, found->ai_addr, found->ai_addrlen) != 0 || ::listen(fd, kBacklog) != 0)
    {
      const std::string why = std::strerror(errno);
      ::close(fd);
      Refuse(address, port, why);
    }
    return fd;
  }

  int BoundPort(int fd)
  {
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) != 0)
      return -1;
    if (bound.ss_family == AF_INET)
      return ntohs(reinterpret_cast<const sockaddr_in&>(bound).sin_port);
    if (bound.ss_family == AF_INET6)
      return ntohs(reinterpret_cast<const sockaddr_in6&>(bound).sin6_port);
    return -1;
  }
}
