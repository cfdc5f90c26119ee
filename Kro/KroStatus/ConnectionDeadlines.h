// ConnectionDeadlines: the status endpoint's open connections and when each
// must have finished its request, so that a trickling client cannot hold a
// connection and a flood of connections cannot lock a health check out.
//
// Threads: the endpoint's event loop only (libmicrohttpd's callbacks and
// the loop body run there), so it takes no lock. A socket is cut with
// shutdown() while libmicrohttpd still owns it open: it closes it after
// it has told Closed, on the same thread.
#ifndef KROSTATUS_CONNECTIONDEADLINES_H
#define KROSTATUS_CONNECTIONDEADLINES_H

#include <chrono>
#include <cstddef>
#include <map>

namespace KroStatus
{
  class ConnectionDeadlines
  {
  public:
    using Clock = std::chrono::steady_clock;

    ConnectionDeadlines(std::chrono::seconds perRequest, std::size_t most);

    // A connection opened on socket fd: its first request starts now. When
    // more than `most` are open, the one opened or served longest ago is cut.
    void Opened(const void* connection, int fd, Clock::time_point now);
    // A reply ended: the next request on the connection starts now.
    void Served(const void* connection, Clock::time_point now);
    void Closed(const void* connection);
    // Cuts every connection past its deadline; how many.
    int CutLate(Clock::time_point now);

    std::size_t Open() const { return m_open.size(); }

  private:
    struct Entry
    {
      int fd;                         // libmicrohttpd's socket, still open
      Clock::time_point deadline;     // for the request in progress
      bool cut;                       // shut down, waiting for libmicrohttpd to close it
    };
    // Shuts the socket down: libmicrohttpd then reads its end and closes it.
    static void Cut(Entry& entry);

    const std::chrono::seconds m_perRequest;        // for a whole request
    const std::size_t m_most;                       // open at once, not counting cut ones
    std::map<const void*, Entry> m_open;            // by libmicrohttpd's connection
    std::size_t m_cut = 0;                          // entries cut and not yet closed
  };
}

#endif
