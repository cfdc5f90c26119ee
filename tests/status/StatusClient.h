// StatusClient: the test process's side of the status endpoint: HTTP
// requests to it, its port from a server's log, its JSON and metrics read
// back, and headless Chromium.
#ifndef KRO_TESTS_STATUS_STATUSCLIENT_H
#define KRO_TESTS_STATUS_STATUSCLIENT_H

#include <nlohmann/json.hpp>

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace KroStatusTest
{
  struct HttpReply
  {
    int status = 0;  // 0: no reply
    std::string body;
  };

  // One request (any method) to 127.0.0.1:port, its reply awaited at most timeout.
  HttpReply Request(int port, const std::string& method, const std::string& path,
                    std::chrono::seconds timeout = std::chrono::seconds(2));
  inline HttpReply Get(int port, const std::string& path, std::chrono::seconds timeout = std::chrono::seconds(2))
  {
    return Request(port, "GET", path, timeout);
  }

  // /api/operations, parsed; throws when it is not JSON.
  nlohmann::json Operations(int port);

  // Asks /api/operations until accept says yes, at most timeout (the
  // endpoint has no other way to tell of a change); the last reply.
  std::optional<nlohmann::json> WaitForOperations(int port, const std::function<bool(const nlohmann::json&)>& accept,
                                                  std::chrono::milliseconds timeout);

  // The value of one sample of the metrics text ("name{labels}" as written),
  // or -1 when absent.
  double Sample(const std::string& metrics, const std::string& nameAndLabels);

  // The port in the "status endpoint at http://HOST:PORT/" log line, or 0.
  int PortFromLog(const std::string& log);
}

#endif
