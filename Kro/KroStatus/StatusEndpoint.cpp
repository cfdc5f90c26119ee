#include "KroStatus/StatusEndpoint.h"

#include "KroStatus/MetricsText.h"
#include "KroStatus/OperationsJson.h"
#include "KroStatus/StatusPage.h"
#include "KroStatus/StatusReadings.h"

#include "KroServer/OperationRegistry.h"

#include <ace/Log_Msg.h>
#include <httplib.h>

#include <chrono>
#include <stdexcept>

namespace KroStatus
{
  namespace
  {
    // Tries so many times to stop a listener that had not begun to listen yet.
    const int kStopAttempts = 100;
    const auto kStopWait = std::chrono::milliseconds(50);

    void Reply(httplib::Response& response, int status, const std::string& body, const char* type)
    {
      response.status = status;
      response.set_header("Cache-Control", "no-store");
      response.set_header("X-Content-Type-Options", "nosniff");
      response.set_content(body, type);
    }
  }

  StatusEndpoint::StatusEndpoint(CORBA::ORB_ptr orb, const std::string& address, int port)
    : StatusEndpoint(orb, address, port, Settings())
  {
  }

  StatusEndpoint::StatusEndpoint(CORBA::ORB_ptr orb, const std::string& address, int port,
                                 const Settings& settings)
    : m_orb(CORBA::ORB::_duplicate(orb)), m_address(address), m_server(new httplib::Server)
  {
    Krovane::OperationRegistry::Instance().Enable(settings.finishedKept);

    const int threads = settings.threads > 0 ? settings.threads : 1;
    m_server->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    m_server->set_read_timeout(settings.ioTimeoutSeconds, 0);
    m_server->set_write_timeout(settings.ioTimeoutSeconds, 0);
    m_server->set_keep_alive_timeout(settings.keepAliveSeconds);
    m_server->set_keep_alive_max_count(settings.keepAliveMaxRequests);
    m_server->set_payload_max_length(4096);  // GET has no body worth reading
    Route();

    m_port = port == 0 ? m_server->bind_to_any_port(address) : (m_server->bind_to_port(address, port) ? port : -1);
    if (m_port <= 0)
      throw std::runtime_error("status endpoint: cannot listen on " + address + ":" + std::to_string(port));

    m_listener = std::thread([this] {
      m_server->listen_after_bind();
      m_listenerEnd.set_value();
    });
    ACE_DEBUG((LM_NOTICE, ACE_TEXT("(%P|%t) status endpoint at %C\n"), Url().c_str()));
  }

  StatusEndpoint::~StatusEndpoint()
  {
    // stop() does nothing before the listener has begun to listen, so it is
    // repeated until the listener ends (each wait bounded).
    std::future<void> ended = m_listenerEnd.get_future();
    for (int attempt = 0; attempt < kStopAttempts; ++attempt)
    {
      m_server->stop();
      if (ended.wait_for(kStopWait) == std::future_status::ready)
        break;
    }
    m_listener.join();
  }

  std::string StatusEndpoint::Url() const
  {
    const bool ipv6 = m_address.find(':') != std::string::npos;
    return "http://" + (ipv6 ? "[" + m_address + "]" : m_address) + ":" + std::to_string(m_port) + "/";
  }

  void StatusEndpoint::Route()
  {
    m_server->Get("/metrics", [this](const httplib::Request&, httplib::Response& response) {
      Reply(response, 200, FormatMetrics(ReadStatus(m_orb.in())), "text/plain; version=0.0.4; charset=utf-8");
    });
    m_server->Get("/healthz", [this](const httplib::Request&, httplib::Response& response) {
      const bool healthy = ReadHealth(m_orb.in()).Healthy();
      Reply(response, healthy ? 200 : 503, healthy ? "ok\n" : "shutting down\n", "text/plain; charset=utf-8");
    });
    m_server->Get("/api/operations", [this](const httplib::Request&, httplib::Response& response) {
      Reply(response, 200, FormatOperations(ReadStatus(m_orb.in())), "application/json");
    });
    m_server->Get("/", [](const httplib::Request&, httplib::Response& response) {
      Reply(response, 200, StatusPageHtml(), "text/html; charset=utf-8");
      // Nothing but this origin: the page needs no other.
      response.set_header("Content-Security-Policy",
                          "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
                          "connect-src 'self'; img-src 'self'");
    });
    const auto refuse = [](const httplib::Request&, httplib::Response& response) {
      Reply(response, 405, "only GET\n", "text/plain; charset=utf-8");
      response.set_header("Allow", "GET, HEAD");
    };
    m_server->Post(".*", refuse);
    m_server->Put(".*", refuse);
    m_server->Patch(".*", refuse);
    m_server->Delete(".*", refuse);
    m_server->Options(".*", refuse);
    m_server->set_error_handler([](const httplib::Request&, httplib::Response& response) {
      if (response.status == 404)
        Reply(response, 404, "not found\n", "text/plain; charset=utf-8");
    });
    m_server->set_exception_handler([](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
      Reply(response, 500, "status unavailable\n", "text/plain; charset=utf-8");
    });
  }
}
