// ListenSocket: a listening TCP socket that the process holds alone: no
// SO_REUSEPORT, so a port another process listens on is refused rather
// than shared (the kernel would split the requests between the two).
#ifndef KROSTATUS_LISTENSOCKET_H
#define KROSTATUS_LISTENSOCKET_H

#include <string>

namespace KroStatus
{
  // A non-blocking, close-on-exec socket listening on address:port (a
  // numeric IPv4 or IPv6 address; port 0: any free port). The caller owns
  // it. Throws std::runtime_error "cannot listen on ADDRESS:PORT (why)".
  int ListenOn(const std::string& address, int port);
  // The port a socket is bound to, or -1.
  int BoundPort(int fd);
}

#endif
