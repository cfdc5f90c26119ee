#include "KroStatus/StatusEndpoint.h"

#include "KroStatus/ConnectionDeadlines.h"
#include "KroStatus/ListenSocket.h"
#include "KroStatus/MetricsText.h"
#include "KroStatus/OperationsJson.h"
#include "KroStatus/StatusPage.h"
#include "KroStatus/StatusReadings.h"

#include "KroServer/OperationRegistry.h"

#include <ace/Log_Msg.h>
#include <microhttpd.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <stdexcept>

namespace KroStatus
{
  namespace
  {
    // The loop wakes at least this often to cut late connections.
    const int kTickMs = 200;
    // libmicrohttpd's own bound stands a little above ours, so that a new
    // connection is accepted and the oldest one cut to make room for it.
    const unsigned kConnectionMargin = 16;

    const char kPagePolicy[] =
      "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
      "connect-src 'self'; img-src 'self'";
  }

  struct StatusEndpoint::Reply
  {
    int status;
    std::string body;
    const char* type;
    bool page = false;     // the operations page: its content policy
    bool refused = false;  // a method refused: say which are allowed
  };

  // libmicrohttpd's callbacks: each on the loop thread, cls being the endpoint.
  struct StatusEndpoint::Callbacks
  {
    static MHD_Result OnRequest(void* cls, MHD_Connection* connection, const char* url, const char* method,
                                const char*, const char*, size_t* uploadSize, void** answered)
    {
      const StatusEndpoint* self = static_cast<const StatusEndpoint*>(cls);
      // A GET has no body worth reading: whatever is sent is not kept, and
      // a request is answered once, at its headers.
      *uploadSize = 0;
      if (*answered != nullptr)
        return MHD_YES;
      *answered = cls;
      const Reply reply = self->Answer(method, url);
      MHD_Response* response =
        MHD_create_response_from_buffer(reply.body.size(), const_cast<char*>(reply.body.data()), MHD_RESPMEM_MUST_COPY);
      if (response == nullptr)
        return MHD_NO;
      MHD_add_response_header(response, "Content-Type", reply.type);
      MHD_add_response_header(response, "Cache-Control", "no-store");
      MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
      if (reply.page)
        MHD_add_response_header(response, "Content-Security-Policy", kPagePolicy);
      if (reply.refused)
        MHD_add_response_header(response, "Allow", "GET, HEAD");
      const MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(reply.status), response);
      MHD_destroy_response(response);
      return queued;
    }

    static void OnConnection(void* cls, MHD_Connection* connection, void**, MHD_ConnectionNotificationCode event)
    {
      ConnectionDeadlines& deadlines = *static_cast<StatusEndpoint*>(cls)->m_deadlines;
      if (event == MHD_CONNECTION_NOTIFY_CLOSED)
      {
        deadlines.Closed(connection);
        return;
      }
      const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
      if (info != nullptr)
        deadlines.Opened(connection, info->connect_fd, ConnectionDeadlines::Clock::now());
    }

    static void OnCompleted(void* cls, MHD_Connection* connection, void**, MHD_RequestTerminationCode)
    {
      static_cast<StatusEndpoint*>(cls)->m_deadlines->Served(connection, ConnectionDeadlines::Clock::now());
    }
  };

  StatusEndpoint::StatusEndpoint(CORBA::ORB_ptr orb, const std::string& address, int port)
    : StatusEndpoint(orb, address, port, Settings())
  {
  }

  StatusEndpoint::StatusEndpoint(CORBA::ORB_ptr orb, const std::string& address, int port,
                                 const Settings& settings)
    : m_orb(CORBA::ORB::_duplicate(orb)),
      m_address(address),
      m_settings(settings),
      m_deadlines(new ConnectionDeadlines(std::chrono::seconds(settings.requestSeconds > 0 ? settings.requestSeconds : 1),
                                          static_cast<std::size_t>(settings.maxConnections > 0 ? settings.maxConnections : 1)))
  {
    int listening = -1;
    try
    {
      listening = ListenOn(address, port);
    }
    catch (const std::runtime_error& ex)
    {
      throw std::runtime_error(std::string("status endpoint: ") + ex.what());
    }
    m_port = BoundPort(listening);
    if (::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0)
    {
      ::close(listening);
      throw std::runtime_error("status endpoint: cannot make its wake-up pipe");
    }
    // Without a thread of its own: the loop below runs it, and cuts late
    // connections between its rounds on the same thread.
    m_daemon = MHD_start_daemon(
      MHD_USE_EPOLL, 0, nullptr, nullptr, &Callbacks::OnRequest, this,
      MHD_OPTION_LISTEN_SOCKET, listening,
      MHD_OPTION_CONNECTION_LIMIT, static_cast<unsigned>(m_settings.maxConnections) + kConnectionMargin,
      MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(m_settings.keepAliveSeconds > 0 ? m_settings.keepAliveSeconds : 1),
      MHD_OPTION_CONNECTION_MEMORY_LIMIT, m_settings.connectionMemory,
      MHD_OPTION_NOTIFY_CONNECTION, &Callbacks::OnConnection, this,
      MHD_OPTION_NOTIFY_COMPLETED, &Callbacks::OnCompleted, this,
      MHD_OPTION_END);
    if (m_daemon == nullptr)
    {
      ::close(listening);
      ::close(m_wake[0]);
      ::close(m_wake[1]);
      throw std::runtime_error("status endpoint: cannot start serving on " + address + ":" + std::to_string(m_port));
    }
    Krovane::OperationRegistry::Instance().Enable(settings.finishedKept);
    m_loop = std::thread([this] { Loop(); });
    ACE_DEBUG((LM_NOTICE, ACE_TEXT("(%P|%t) status endpoint at %C\n"), Url().c_str()));
  }

  StatusEndpoint::~StatusEndpoint()
  {
    m_stop.store(true);
    const char wake = 1;
    (void)!::write(m_wake[1], &wake, 1);
    m_loop.join();
    // The loop has ended: libmicrohttpd's closing callbacks run here alone.
    MHD_stop_daemon(m_daemon);
    ::close(m_wake[0]);
    ::close(m_wake[1]);
  }

  std::string StatusEndpoint::Url() const
  {
    const bool ipv6 = m_address.find(':') != std::string::npos;
    return "http://" + (ipv6 ? "[" + m_address + "]" : m_address) + ":" + std::to_string(m_port) + "/";
  }

  void StatusEndpoint::Loop()
  {
    const MHD_DaemonInfo* info = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_EPOLL_FD);
    pollfd ready[2] = {{info->epoll_fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
    while (!m_stop.load())
    {
      int waitMs = kTickMs;
      MHD_UNSIGNED_LONG_LONG due = 0;
      if (MHD_get_timeout(m_daemon, &due) == MHD_YES && due < static_cast<MHD_UNSIGNED_LONG_LONG>(waitMs))
        waitMs = static_cast<int>(due);
      ::poll(ready, 2, waitMs);
      MHD_run(m_daemon);
      m_deadlines->CutLate(ConnectionDeadlines::Clock::now());
    }
  }

  StatusEndpoint::Reply StatusEndpoint::Answer(const std::string& method, const std::string& url) const
  {
    const char* text = "text/plain; charset=utf-8";
    if (method != "GET" && method != "HEAD")
      return Reply{405, "only GET\n", text, false, true};
    try
    {
      if (url == "/metrics")
        return Reply{200, FormatMetrics(ReadStatus(m_orb.in())), "text/plain; version=0.0.4; charset=utf-8"};
      if (url == "/healthz")
      {
        const bool healthy = ReadHealth(m_orb.in()).Healthy();
        return Reply{healthy ? 200 : 503, healthy ? "ok\n" : "shutting down\n", text};
      }
      if (url == "/api/operations")
        return Reply{200,
                     FormatOperations(ReadStatus(m_orb.in()),
                                      OperationsShown{m_settings.operationsShown, m_settings.textShown}),
                     "application/json"};
      if (url == "/")
        return Reply{200, StatusPageHtml(), "text/html; charset=utf-8", true};
      return Reply{404, "not found\n", text};
    }
    catch (const std::exception&)
    {
      return Reply{500, "status unavailable\n", text};
    }
  }
}
