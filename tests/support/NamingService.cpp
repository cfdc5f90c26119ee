#include "support/NamingService.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>

namespace KroTest
{
  int FreeLoopbackPort()
  {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
      throw std::runtime_error("socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                       getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    close(fd);
    if (!bound)
      throw std::runtime_error("no free port");
    return ntohs(address.sin_port);
  }

  NamingService::NamingService()
  {
    // Another process may take the port between the probe and the start:
    // then another one is tried.
    for (int attempt = 0; attempt < 3 && !m_process; ++attempt)
    {
      m_port = FreeLoopbackPort();
      Start();
    }
    if (!m_process)
      throw std::runtime_error("omniNames did not start");
  }

  bool NamingService::Start()
  {
    const std::string port = std::to_string(m_port);
    auto process = std::make_unique<ChildProcess>(
      "/usr/bin/omniNames",
      std::vector<std::string>{"-start", port, "-always", "-datadir", m_data.Path(), "-ORBendPoint",
                               "giop:tcp:127.0.0.1:" + port});
    if (!process->Stderr().WaitFor("Root context is", std::chrono::seconds(20)))
      return false;
    m_process = std::move(process);
    return true;
  }

  void NamingService::RestartEmpty()
  {
    m_process->Kill();
    m_process.reset();
    for (const auto& file : std::filesystem::directory_iterator(m_data.Path()))
      std::filesystem::remove_all(file.path());
    if (!Start())
      throw std::runtime_error("omniNames did not start again");
  }

  std::vector<std::string> NamingService::InitRef() const
  {
    return {"-ORBInitRef", "NameService=corbaloc::127.0.0.1:" + std::to_string(m_port) + "/NameService"};
  }
}
