#include "KroStatus/ConnectionDeadlines.h"

#include <sys/socket.h>

namespace KroStatus
{
  ConnectionDeadlines::ConnectionDeadlines(std::chrono::seconds perRequest, std::size_t most)
    : m_perRequest(perRequest), m_most(most > 0 ? most : 1)
  {
  }

  void ConnectionDeadlines::Opened(const void* connection, int fd, Clock::time_point now)
  {
    m_open[connection] = Entry{fd, now + m_perRequest, false};
    if (m_open.size() - m_cut <= m_most)
      return;
    // The earliest deadline is the connection that has waited longest.
    Entry* oldest = nullptr;
    for (auto& entry : m_open)
      if (!entry.second.cut && entry.first != connection &&
          (oldest == nullptr || entry.second.deadline < oldest->deadline))
        oldest = &entry.second;
    if (oldest != nullptr)
    {
      Cut(*oldest);
      ++m_cut;
    }
  }

  void ConnectionDeadlines::Served(const void* connection, Clock::time_point now)
  {
    const auto found = m_open.find(connection);
    if (found != m_open.end() && !found->second.cut)
      found->second.deadline = now + m_perRequest;
  }

  void ConnectionDeadlines::Closed(const void* connection)
  {
    const auto found = m_open.find(connection);
    if (found == m_open.end())
      return;
    if (found->second.cut)
      --m_cut;
    m_open.erase(found);
  }

  int ConnectionDeadlines::CutLate(Clock::time_point now)
  {
    int cut = 0;
    for (auto& entry : m_open)
      if (!entry.second.cut && entry.second.deadline <= now)
      {
        Cut(entry.second);
        ++m_cut;
        ++cut;
      }
    return cut;
  }

  void ConnectionDeadlines::Cut(Entry& entry)
  {
    ::shutdown(entry.fd, SHUT_RDWR);
    entry.cut = true;
  }
}
