#include "support/RawSockets.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>

namespace KroTest
{
  namespace
  {
    sockaddr_in Loopback(int port)
    {
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      address.sin_port = htons(static_cast<uint16_t>(port));
      return address;
    }
  }

  SilentPort::SilentPort() : m_fd(socket(AF_INET, SOCK_STREAM, 0))
  {
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    if (m_fd < 0 || bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(m_fd, 64) != 0 ||
        getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    {
      if (m_fd >= 0)
        close(m_fd);
      throw std::runtime_error("no silent port");
    }
    m_port = ntohs(address.sin_port);
  }

  SilentPort::~SilentPort()
  {
    for (int fd : m_taken)
      close(fd);
    close(m_fd);
  }

  bool SilentPort::AcceptOne(int timeoutMs)
  {
    pollfd waiting{m_fd, POLLIN, 0};
    if (poll(&waiting, 1, timeoutMs) != 1)
      return false;
    const int fd = accept(m_fd, nullptr, nullptr);
    if (fd < 0)
      return false;
    m_taken.push_back(fd);
    return true;
  }

  std::string SilentPort::Corbaloc(const std::string& key) const
  {
    return "corbaloc::127.0.0.1:" + std::to_string(m_port) + "/" + key;
  }

  bool SilentPort::AwaitRequest(int timeoutMs)
  {
    if (m_taken.empty())
      return false;
    pollfd waiting{m_taken.back(), POLLIN, 0};
    return poll(&waiting, 1, timeoutMs) == 1;
  }

  IdleConnections::IdleConnections(int port, int count)
  {
    const sockaddr_in address = Loopback(port);
    for (int i = 0; i < count; ++i)
    {
      const int fd = socket(AF_INET, SOCK_STREAM, 0);
      if (fd < 0 || connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
      {
        if (fd >= 0)
          close(fd);
        throw std::runtime_error("connection " + std::to_string(i) + " to port " + std::to_string(port) + " failed");
      }
      m_fds.push_back(fd);
    }
  }

  IdleConnections::~IdleConnections()
  {
    for (int fd : m_fds)
      close(fd);
  }

  long ProcessStatus(pid_t pid, const std::string& name)
  {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    const std::string prefix = name + ":";
    std::string line;
    for (int lines = 0; lines < 200 && std::getline(status, line); ++lines)
      if (line.compare(0, prefix.size(), prefix) == 0)
        return std::stol(line.substr(prefix.size()));
    return -1;
  }
}
