// RawSockets: TCP on 127.0.0.1 below the ORB, for hostile peers.
//
// SilentPort takes connections and never answers them (the kernel accepts
// them into its backlog): a client's callback object that is a black hole.
// IdleConnections opens connections to a server and sends nothing.
// ProcessStatus reads a number of /proc/PID/status ("VmRSS", "Threads").
//
// Ownership: each object owns its sockets and closes them at destruction.
// Threads: one test thread each.
#ifndef KRO_TESTS_SUPPORT_RAWSOCKETS_H
#define KRO_TESTS_SUPPORT_RAWSOCKETS_H

#include <sys/types.h>

#include <string>
#include <vector>

namespace KroTest
{
  // Whether a process's resident memory tells what its code keeps: under
  // AddressSanitizer freed memory waits in a quarantine of up to 256 MB, and
  // ThreadSanitizer's allocator and shadow memory grow by their own rules,
  // so a bound on growth holds only in the plain build.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  constexpr bool kResidentMemoryTellsWhatIsKept = false;
#else
  constexpr bool kResidentMemoryTellsWhatIsKept = true;
#endif

  class SilentPort
  {
  public:
    // Listens on a free port of 127.0.0.1; std::runtime_error when it cannot.
    SilentPort();
    ~SilentPort();
    SilentPort(const SilentPort&) = delete;
    SilentPort& operator=(const SilentPort&) = delete;

    int Port() const { return m_port; }
    // "corbaloc::127.0.0.1:PORT/key": an object there, which never answers.
    std::string Corbaloc(const std::string& key) const;
    // Accepts the next connection (kept open, never answered), waiting at
    // most timeoutMs; false when none came.
    bool AcceptOne(int timeoutMs);
    // Waits, at most timeoutMs, until the last connection accepted has sent
    // something (left unread); false when nothing came.
    bool AwaitRequest(int timeoutMs);

  private:
    int m_fd;                   // the listening socket
    int m_port = 0;             // its port
    std::vector<int> m_taken;   // connections accepted
  };

  class IdleConnections
  {
  public:
    // Opens count connections to 127.0.0.1:port; std::runtime_error when one fails.
    IdleConnections(int port, int count);
    ~IdleConnections();
    IdleConnections(const IdleConnections&) = delete;
    IdleConnections& operator=(const IdleConnections&) = delete;

  private:
    std::vector<int> m_fds;  // the open connections
  };

  // The number in the line "name: N ..." of /proc/pid/status; -1 when absent.
  long ProcessStatus(pid_t pid, const std::string& name);
}

#endif
