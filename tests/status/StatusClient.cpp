#include "StatusClient.h"

#include <httplib.h>

#include <sstream>
#include <thread>

namespace KroStatusTest
{
  HttpReply Request(int port, const std::string& method, const std::string& path, std::chrono::seconds timeout)
  {
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(timeout.count(), 0);
    client.set_read_timeout(timeout.count(), 0);
    client.set_write_timeout(timeout.count(), 0);
    httplib::Request request;
    request.method = method;
    request.path = path;
    httplib::Result result = client.send(request);
    HttpReply reply;
    if (result)
    {
      reply.status = result->status;
      reply.body = result->body;
    }
    return reply;
  }

  nlohmann::json Operations(int port)
  {
    return nlohmann::json::parse(Get(port, "/api/operations").body);
  }

  std::optional<nlohmann::json> WaitForOperations(int port, const std::function<bool(const nlohmann::json&)>& accept,
                                                  std::chrono::milliseconds timeout)
  {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::optional<nlohmann::json> last;
    for (int attempt = 0; attempt < 1000 && std::chrono::steady_clock::now() < deadline; ++attempt)
    {
      last = Operations(port);
      if (accept(*last))
        return last;
      std::this_thread::sleep_for(std::chrono::milliseconds(25));  // the next look at the server
    }
    return std::nullopt;
  }

  double Sample(const std::string& metrics, const std::string& nameAndLabels)
  {
    std::istringstream lines(metrics);
    std::string line;
    while (std::getline(lines, line))
      if (line.compare(0, nameAndLabels.size() + 1, nameAndLabels + " ") == 0)
        return std::stod(line.substr(nameAndLabels.size() + 1));
    return -1;
  }

  int PortFromLog(const std::string& log)
  {
    const std::string marker = "status endpoint at http://127.0.0.1:";
    const std::size_t at = log.find(marker);
    return at == std::string::npos ? 0 : std::atoi(log.c_str() + at + marker.size());
  }
}
