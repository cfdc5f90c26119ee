// The status endpoint against hostile HTTP clients, on one asynchronous
// example server process serving every case: header floods, oversized
// requests, silent and trickling connections, connection floods, range
// requests; what it costs the server (its VmRSS) and how long /healthz
// takes beside them. A second server on the same status port is refused.
// What clients send shows safely: a user name that is not UTF-8, and an
// operation that failed.
#include "StatusClient.h"

#include "support/ProcessHarness.h"
#include "support/RawSockets.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <codecvt>
#include <fstream>
#include <locale>
#include <regex>
#include <sstream>

using namespace std::chrono_literals;
using KroStatusTest::Get;

namespace
{
  using Clock = std::chrono::steady_clock;

  // A client socket to 127.0.0.1:port that misbehaves as told; every send
  // and read bounded by a time-out.
  class HostileConnection
  {
  public:
    explicit HostileConnection(int port) : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
      const timeval bound{5, 0};
      ::setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
      ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_port = htons(static_cast<uint16_t>(port));
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      m_connected = m_fd >= 0 && ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~HostileConnection()
    {
      if (m_fd >= 0)
        ::close(m_fd);
    }
    HostileConnection(const HostileConnection&) = delete;
    HostileConnection& operator=(const HostileConnection&) = delete;

    bool Connected() const { return m_connected; }
    // Sends all of text; false once the server has closed or stopped reading.
    bool Send(const std::string& text)
    {
      std::size_t sent = 0;
      for (int rounds = 0; sent < text.size() && rounds < 100000; ++rounds)
      {
        const ssize_t n = ::send(m_fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
          return false;
        sent += static_cast<std::size_t>(n);
      }
      return sent == text.size();
    }
    // Everything the server sends until it closes (at most timeout, 64 MB).
    std::string ReadToEnd(std::chrono::milliseconds timeout)
    {
      std::string text;
      const auto deadline = Clock::now() + timeout;
      char buffer[65536];
      while (Clock::now() < deadline && text.size() < (64u << 20))
      {
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n <= 0)
          break;
        text.append(buffer, static_cast<std::size_t>(n));
      }
      return text;
    }
    // Whether the server has closed the connection, waiting at most timeout.
    bool ClosedWithin(std::chrono::milliseconds timeout)
    {
      pollfd ready{m_fd, POLLIN, 0};
      if (::poll(&ready, 1, static_cast<int>(timeout.count())) <= 0)
        return false;
      char buffer[4096];
      return ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT) <= 0;
    }

  private:
    int m_fd;                  // the socket
    bool m_connected = false;  // connect succeeded
  };

  // The status of an HTTP reply's first line, 0 when there is none.
  int StatusOf(const std::string& reply)
  {
    std::smatch found;
    return std::regex_search(reply, found, std::regex("^HTTP/1\\.[01] (\\d{3})")) ? std::stoi(found[1]) : 0;
  }

  // The time a /healthz takes, and whether it said 200.
  std::pair<bool, Clock::duration> TimedHealth(int port)
  {
    const auto start = Clock::now();
    const bool ok = Get(port, "/healthz", 10s).status == 200;
    return {ok, Clock::now() - start};
  }

  double Seconds(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

  // The server every case misbehaves against.
  struct Target
  {
    int port;             // of its status endpoint
    pid_t pid;            // of its process
    std::string iorFile;  // its factory
  };

  void AHeaderFloodIsCutOffAndCostsTheServerLittleMemory(const Target& server)
  {
    const long before = KroTest::ProcessStatus(server.pid, "VmRSS");
    HostileConnection flood(server.port);
    ASSERT_TRUE(flood.Connected());
    const std::string block = [] {
      std::string headers;
      for (int i = 0; i < 8192; ++i)
        headers += "X-a: b\r\n";  // 64 kB of short headers
      return headers;
    }();
    std::size_t sent = 0;
    bool cutOff = !flood.Send("GET /metrics HTTP/1.1\r\nHost: x\r\n");
    for (int i = 0; !cutOff && sent < (60u << 20) && i < 1000; ++i)
    {
      cutOff = !flood.Send(block);
      sent += block.size();
    }
    const long after = KroTest::ProcessStatus(server.pid, "VmRSS");
    std::printf("header flood: %zu kB sent before the cut, server %ld kB -> %ld kB\n", sent / 1024, before, after);
    EXPECT_TRUE(cutOff) << "the server read all of a 60 MB header";
    EXPECT_LT(sent, 16u << 20) << "cut off at its header bound (what the kernel buffers aside)";
    if (KroTest::kResidentMemoryTellsWhatIsKept)
      EXPECT_LT(after - before, 40 * 1024) << "grew by " << after - before << " kB";
  }

  // Requests over the bounds: each is refused with its status (or cut),
  // and nothing of the rest of the server is held up.
  void OversizedRequestsAreRefusedAndTheConnectionClosed(const Target& server)
  {
    struct Case
    {
      const char* name;
      std::string request;
    };
    const Case cases[] = {
      {"a request line of 100 kB", "GET /" + std::string(100000, 'a') + " HTTP/1.1\r\nHost: x\r\n\r\n"},
      {"one header of 100 kB", "GET /metrics HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(100000, 'b') + "\r\n\r\n"},
      {"4,000 tiny headers", "GET /metrics HTTP/1.1\r\nHost: x\r\n" + [] {
         std::string headers;
         for (int i = 0; i < 4000; ++i)
           headers += "a:" + std::to_string(i % 10) + "\r\n";
         return headers;
       }() + "\r\n"},
    };
    for (const Case& c : cases)
    {
      SCOPED_TRACE(c.name);
      HostileConnection connection(server.port);
      ASSERT_TRUE(connection.Connected());
      connection.Send(c.request);  // the server may close before all is sent
      const std::string reply = connection.ReadToEnd(5s);
      const int status = StatusOf(reply);
      EXPECT_TRUE(status == 0 || (status >= 400 && status < 500)) << reply.substr(0, 200);
      EXPECT_EQ(reply.find("# TYPE"), std::string::npos) << "served despite its size";
    }
  }

  void HealthAnswersBesideIdleAndTricklingConnections(const Target& server)
  {
    const KroTest::IdleConnections idle(server.port, 40);
    // Each trickles one request a byte at a time, never finishing it within
    // the endpoint's bound for a whole request (5 s).
    const std::string request = "GET /metrics HTTP/1.1\r\nHost: x\r\nX-Slow: " + std::string(200, 's') + "\r\n\r\n";
    std::vector<std::unique_ptr<HostileConnection>> trickling;
    for (int i = 0; i < 4; ++i)
      trickling.push_back(std::make_unique<HostileConnection>(server.port));
    const auto opened = Clock::now();
    std::vector<Clock::duration> closedAfter(trickling.size(), Clock::duration::max());

    Clock::duration slowest{};
    int checks = 0;
    std::size_t next = 0;
    for (int round = 0; round < 100 && Clock::now() - opened < 15s; ++round)
    {
      const auto [ok, took] = TimedHealth(server.port);
      EXPECT_TRUE(ok);
      slowest = std::max(slowest, took);
      ++checks;
      int open = 0;
      for (std::size_t i = 0; i < trickling.size(); ++i)
      {
        if (closedAfter[i] != Clock::duration::max())
          continue;
        // A quarter second between bytes, or the server's close.
        if (trickling[i]->ClosedWithin(i == 0 ? 250ms : 0ms))
          closedAfter[i] = Clock::now() - opened;
        else
        {
          trickling[i]->Send(request.substr(next % request.size(), 1));
          ++open;
        }
      }
      ++next;
      if (open == 0)
        break;
    }
    std::printf("healthz beside 40 idle and 4 trickling connections: %d checks, slowest %.3f s\n", checks,
                Seconds(slowest));
    EXPECT_LT(slowest, 3s);
    for (std::size_t i = 0; i < trickling.size(); ++i)
    {
      SCOPED_TRACE(i);
      EXPECT_LT(closedAfter[i], 10s) << "a trickling request is cut at the bound for a whole request";
    }
  }

  void AFloodOfConnectionsDoesNotLockAHealthCheckOut(const Target& server)
  {
    std::vector<std::unique_ptr<HostileConnection>> flood;
    for (int i = 0; i < 150; ++i)
      flood.push_back(std::make_unique<HostileConnection>(server.port));
    for (int i = 0; i < 150; i += 2)
      flood[i]->Send("GET /metrics HTTP/1.1\r\n");  // half of them half a request
    const auto [ok, took] = TimedHealth(server.port);
    EXPECT_TRUE(ok);
    EXPECT_LT(took, 3s);
  }

  void RangeRequestsGetOneWholeReply(const Target& server)
  {
    struct Case
    {
      const char* path;
      int ranges;
    };
    for (const Case& c : {Case{"/metrics", 2000}, Case{"/api/operations", 20}, Case{"/", 2000}})
    {
      SCOPED_TRACE(c.path);
      HostileConnection plain(server.port);
      ASSERT_TRUE(plain.Send(std::string("GET ") + c.path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"));
      const std::size_t whole = plain.ReadToEnd(5s).size();

      std::string ranges = "bytes=0-0";
      for (int i = 1; i < c.ranges; ++i)
        ranges += ",0-0";  // overlapping ranges: each a copy to a server that serves them
      HostileConnection ranged(server.port);
      ASSERT_TRUE(ranged.Send(std::string("GET ") + c.path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\nRange: " +
                              ranges + "\r\n\r\n"));
      const std::string reply = ranged.ReadToEnd(5s);
      std::printf("%s with %d ranges (%zu B asked): reply %zu B, without ranges %zu B\n", c.path, c.ranges,
                  ranges.size(), reply.size(), whole);
      EXPECT_EQ(StatusOf(reply), 200) << reply.substr(0, 200);
      EXPECT_EQ(reply.find("multipart/byteranges"), std::string::npos);
      EXPECT_LT(reply.size(), whole + 1024) << "one copy of the body at most";
    }
  }

  void ASecondServerOnTheSameStatusPortEndsWithOneLineAndStatusOne(const Target& server)
  {
    KroTest::TemporaryDirectory directory;
    KroTest::ChildProcess second(KRO_EXAMPLE_ASYNC_SERVER,
                                 {"--status-port", std::to_string(server.port), "--ior-file", directory.File("second.ior"),
                                  "-ORBendPoint", "giop:tcp:127.0.0.1:"});
    const auto exit = second.WaitForExit(10s);
    ASSERT_TRUE(exit) << "still runs beside the first: " << second.Describe();
    EXPECT_TRUE(exit->exited && exit->code == 1) << second.Describe();
    EXPECT_TRUE(second.Stderr().WaitForEnd(5s));
    const std::string errors = second.Stderr().Text();
    EXPECT_EQ(errors.find("status endpoint at"), std::string::npos) << errors;
    EXPECT_NE(::access(directory.File("second.ior").c_str(), F_OK), 0) << "no client may find the failing server";
    EXPECT_EQ(second.Stderr().Count("cannot listen on 127.0.0.1:" + std::to_string(server.port) + " (Address already in use)"), 1)
      << errors;
  }

  // Whether text is well-formed UTF-8, as a scraper checks it.
  bool WellFormedUtf8(const std::string& text)
  {
    try
    {
      std::wstring_convert<std::codecvt_utf8<char32_t>, char32_t>().from_bytes(text);
      return true;
    }
    catch (const std::range_error&)
    {
      return false;
    }
  }

  void AUserNameThatIsNotUtf8KeepsTheScrapeValid(const Target& server)
  {
    const std::string user = "bad\xff\xc0name\"q";
    KroTest::ChildProcess client(KRO_STATUS_LAB_CLIENT, {"--ior-file", server.iorFile, "--token", user, "--compute", "1",
                                                        "--steps", "1", "-ORBendPoint", "giop:tcp:127.0.0.1:"});
    const auto exit = client.WaitForExit(30s);
    ASSERT_TRUE(exit && exit->exited && exit->code == 0) << client.Describe();
    const std::string metrics = Get(server.port, "/metrics").body;
    EXPECT_TRUE(WellFormedUtf8(metrics));
    EXPECT_NE(metrics.find("kro_user_operations{user=\"bad\xEF\xBF\xBD\xEF\xBF\xBDname\\\"q\",state=\"finished\"} 1"),
              std::string::npos)
      << metrics;
  }

  // An operation that told its client Error (Compute of no steps) is
  // failed, not finished, in the JSON and in the metrics.
  void AFailedOperationReadsFailedInTheJsonAndTheMetrics(const Target& server)
  {
    KroTest::ChildProcess client(KRO_STATUS_LAB_CLIENT, {"--ior-file", server.iorFile, "--token", "failing",
                                                        "--compute", "1", "--steps", "0", "-ORBendPoint",
                                                        "giop:tcp:127.0.0.1:"});
    const auto exit = client.WaitForExit(30s);
    ASSERT_TRUE(exit && exit->exited && exit->code == 0) << client.Describe();
    int shown = 0;
    const nlohmann::json status = KroStatusTest::Operations(server.port);
    for (const nlohmann::json& operation : status["operations"])
      if (operation["user"] == "failing")
      {
        EXPECT_EQ(operation["state"], "failed") << operation;
        ++shown;
      }
    EXPECT_EQ(shown, 1);
    const std::string metrics = Get(server.port, "/metrics").body;
    EXPECT_EQ(KroStatusTest::Sample(metrics, "kro_user_operations{user=\"failing\",state=\"failed\"}"), 1) << metrics;
    EXPECT_EQ(KroStatusTest::Sample(metrics, "kro_operations{state=\"failed\"}"), 1);
    EXPECT_EQ(KroStatusTest::Sample(metrics, "kro_operations_ended_total{state=\"failed\"}"), 1);
  }

  struct HostileCase
  {
    const char* name;
    void (*run)(const Target& server);
  };

  // One server process serves every case, in turn; after each it must still
  // run and answer a health check.
  TEST(HostileHttp, HostileClientsNeitherStallNorBloatTheServer)
  {
    KroTest::ServerProcess process(KRO_EXAMPLE_ASYNC_SERVER, {"--status-port", "0", "--idle-seconds", "600"});
    ASSERT_TRUE(process.Process().Stderr().WaitFor("status endpoint at", 10s)) << process.Process().Describe();
    const Target server{KroStatusTest::PortFromLog(process.Process().Stderr().Text()), process.Process().Pid(),
                        process.IorFile()};
    ASSERT_GT(server.port, 0);

    const HostileCase cases[] = {
      {"AHeaderFloodIsCutOffAndCostsTheServerLittleMemory", AHeaderFloodIsCutOffAndCostsTheServerLittleMemory},
      {"OversizedRequestsAreRefusedAndTheConnectionClosed", OversizedRequestsAreRefusedAndTheConnectionClosed},
      {"HealthAnswersBesideIdleAndTricklingConnections", HealthAnswersBesideIdleAndTricklingConnections},
      {"AFloodOfConnectionsDoesNotLockAHealthCheckOut", AFloodOfConnectionsDoesNotLockAHealthCheckOut},
      {"RangeRequestsGetOneWholeReply", RangeRequestsGetOneWholeReply},
      {"AUserNameThatIsNotUtf8KeepsTheScrapeValid", AUserNameThatIsNotUtf8KeepsTheScrapeValid},
      {"AFailedOperationReadsFailedInTheJsonAndTheMetrics", AFailedOperationReadsFailedInTheJsonAndTheMetrics},
      {"ASecondServerOnTheSameStatusPortEndsWithOneLineAndStatusOne", ASecondServerOnTheSameStatusPortEndsWithOneLineAndStatusOne},
    };
    for (const HostileCase& c : cases)
    {
      SCOPED_TRACE(c.name);
      c.run(server);
      ASSERT_FALSE(process.Process().HasExited()) << process.Process().Describe();
      EXPECT_EQ(Get(server.port, "/healthz").status, 200) << "the endpoint still serves";
    }
  }
}
