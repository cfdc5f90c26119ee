// The status endpoint.
//
// In the test process: the HTTP contract (GET only, unknown paths, nothing
// changes state), idle and half-sent connections that must not hold up a
// health check, and health once the server shuts down.
// Across processes: the asynchronous example server with the endpoint and
// real client processes; what the endpoint shows, while the operations run and after,
// checked against what the clients did; and the page in headless Chromium.
#include "StatusClient.h"

#include "KroServer/ServerMetrics.h"
#include "KroStatus/StatusEndpoint.h"
#include "OrbLayer/OrbShutdown.h"
#include "support/ClientOrb.h"
#include "support/ProcessHarness.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

using namespace std::chrono_literals;
using KroStatusTest::Get;
using KroStatusTest::HttpReply;
using KroStatusTest::Request;
using KroStatusTest::Sample;
using nlohmann::json;

namespace
{
  // A TCP connection to the endpoint made by hand, to misbehave with.
  class RawConnection
  {
  public:
    explicit RawConnection(int port) : m_fd(::socket(AF_INET, SOCK_STREAM, 0))
    {
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_port = htons(static_cast<uint16_t>(port));
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      m_connected = m_fd >= 0 && ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawConnection()
    {
      if (m_fd >= 0)
        ::close(m_fd);
    }
    bool Connected() const { return m_connected; }
    void Send(const std::string& text) { ASSERT_EQ(::send(m_fd, text.data(), text.size(), 0), (ssize_t)text.size()); }
    // Whether the server closes the connection within timeout (anything it
    // sends first is skipped).
    bool ClosedByServerWithin(std::chrono::milliseconds timeout)
    {
      const auto deadline = std::chrono::steady_clock::now() + timeout;
      for (int reads = 0; reads < 100; ++reads)
      {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd ready{m_fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0)
          return false;
        char buffer[4096];
        if (::recv(m_fd, buffer, sizeof buffer, 0) <= 0)
          return true;
      }
      return false;
    }

  private:
    int m_fd;                  // the socket
    bool m_connected = false;  // connect succeeded
  };

  // An endpoint in the test process, on the test process's ORB.
  class InProcessEndpoint : public ::testing::Test
  {
  protected:
    InProcessEndpoint() : m_orb(KroTest::ClientOrb()) {}

    KroStatus::StatusEndpoint::Settings Small() const
    {
      KroStatus::StatusEndpoint::Settings settings;
      settings.maxConnections = 3;
      settings.requestSeconds = 2;
      settings.keepAliveSeconds = 1;
      return settings;
    }

    CORBA::ORB_var m_orb;  // the test process's ORB
  };

  TEST_F(InProcessEndpoint, AnswersGetOnlyOnItsFourPathsAndNothingChangesState)
  {
    KroStatus::StatusEndpoint endpoint(m_orb.in(), "127.0.0.1", 0, Small());
    const int port = endpoint.Port();
    const std::string before = Get(port, "/metrics").body;

    struct Case
    {
      const char* method;
      const char* path;
      int status;
      const char* bodyHas;  // a text the body holds
    };
    const Case cases[] = {
      {"GET", "/metrics", 200, "# TYPE kro_pool_threads gauge"},
      {"GET", "/healthz", 200, "ok"},
      {"GET", "/api/operations", 200, "\"operations\":[]"},
      {"GET", "/api/operations?state=running", 200, "\"operations\""},
      {"GET", "/", 200, "<title>Operations</title>"},
      {"HEAD", "/metrics", 200, ""},
      {"GET", "/nowhere", 404, "not found"},
      {"GET", "/metrics/", 404, "not found"},
      {"GET", "/api/operations/1", 404, "not found"},
      {"GET", "/../etc/passwd", 404, ""},
      {"POST", "/metrics", 405, "only GET"},
      {"POST", "/api/operations", 405, "only GET"},
      {"PUT", "/", 405, "only GET"},
      {"DELETE", "/api/operations", 405, "only GET"},
      {"PATCH", "/healthz", 405, "only GET"},
      {"OPTIONS", "/", 405, "only GET"},
      {"POST", "/nowhere", 405, "only GET"},
    };
    for (const Case& c : cases)
    {
      SCOPED_TRACE(std::string(c.method) + " " + c.path);
      const HttpReply reply = Request(port, c.method, c.path);
      EXPECT_EQ(reply.status, c.status);
      EXPECT_NE(reply.body.find(c.bodyHas), std::string::npos) << reply.body;
    }
    // The page fetches nothing from elsewhere.
    const std::string page = Get(port, "/").body;
    EXPECT_EQ(page.find("http://"), std::string::npos);
    EXPECT_EQ(page.find("https://"), std::string::npos);
    EXPECT_EQ(page.find("src="), std::string::npos);
    // Nothing above changed what the endpoint reports.
    EXPECT_EQ(Get(port, "/metrics").body, before);
  }

  TEST_F(InProcessEndpoint, IdleAndHalfSentConnectionsDoNotHoldUpHealthChecks)
  {
    KroStatus::StatusEndpoint endpoint(m_orb.in(), "127.0.0.1", 0, Small());
    const int port = endpoint.Port();

    // Fewer silent connections than the bound: a health check goes through at once.
    {
      std::vector<std::unique_ptr<RawConnection>> silent;
      for (int i = 0; i < 2; ++i)
        silent.push_back(std::make_unique<RawConnection>(port));
      silent[1]->Send("GET /metrics HTTP/1.1\r\nHost: x");  // never finished
      const auto start = std::chrono::steady_clock::now();
      EXPECT_EQ(Get(port, "/healthz").status, 200);
      EXPECT_LT(std::chrono::steady_clock::now() - start, 800ms) << "well before the connections' time-out";
      for (auto& connection : silent)
        EXPECT_TRUE(connection->ClosedByServerWithin(3s)) << "a silent connection is dropped after its time-out";
    }
    // More than the bound: the oldest silent ones make room, so a health
    // check never waits for the silent clients' time-outs.
    {
      std::vector<std::unique_ptr<RawConnection>> silent;
      for (int i = 0; i < 8; ++i)
        silent.push_back(std::make_unique<RawConnection>(port));
      const auto start = std::chrono::steady_clock::now();
      EXPECT_EQ(Get(port, "/healthz", 8s).status, 200);
      EXPECT_LT(std::chrono::steady_clock::now() - start, 800ms) << "well before the connections' time-out";
    }
  }

  // Each way a server begins to shut down, in a test process of its own.
  struct ShutdownCase
  {
    const char* name;
    void (*begin)(CORBA::ORB_ptr orb);
  };
  void PrintTo(const ShutdownCase& c, std::ostream* out) { *out << c.name; }
  class HealthOnShutdown : public ::testing::TestWithParam<ShutdownCase>
  {
  };

  TEST_P(HealthOnShutdown, HealthFailsAndMetricsSayDownOnceTheServerShutsDown)
  {
    CORBA::ORB_var orb = KroTest::ClientOrb();
    KroStatus::StatusEndpoint endpoint(orb.in(), "127.0.0.1", 0);
    const int port = endpoint.Port();
    ASSERT_EQ(Get(port, "/healthz").status, 200);
    EXPECT_EQ(Sample(Get(port, "/metrics").body, "kro_up"), 1);

    GetParam().begin(orb.in());
    const HttpReply reply = Get(port, "/healthz");
    EXPECT_EQ(reply.status, 503);
    EXPECT_EQ(reply.body, "shutting down\n");
    EXPECT_EQ(Sample(Get(port, "/metrics").body, "kro_up"), 0);
    EXPECT_EQ(Get(port, "/api/operations").status, 200) << "the rest is still readable";
  }

  INSTANTIATE_TEST_SUITE_P(
    Ways, HealthOnShutdown,
    ::testing::Values(ShutdownCase{"IdleTask", [](CORBA::ORB_ptr) { Krovane::ServerMetrics::Instance().NoteShuttingDown(); }},
                      ShutdownCase{"OrbShutdown", [](CORBA::ORB_ptr orb) { KroOrb::ShutdownOrb(orb, false); }}),
    [](const ::testing::TestParamInfo<ShutdownCase>& info) { return std::string(info.param.name); });

  // The asynchronous example server with the endpoint on a free port: one
  // pool thread, so that later operations wait in line.
  class ServerWithEndpoint : public ::testing::Test
  {
  protected:
    void SetUp() override
    {
      m_server = std::make_unique<KroTest::ServerProcess>(
        KRO_EXAMPLE_ASYNC_SERVER, std::vector<std::string>{"--status-port", "0", "--max-threads", "1",
                                                        "--start-pause-ms", "0", "--step-ms", "100",
                                                        "--idle-seconds", "600"});
      ASSERT_TRUE(m_server->Process().Stderr().WaitFor("status endpoint at", 10s)) << m_server->Process().Describe();
      m_port = KroStatusTest::PortFromLog(m_server->Process().Stderr().Text());
      ASSERT_GT(m_port, 0);
    }

    std::unique_ptr<KroTest::ChildProcess> Client(const std::string& user, int compute, int steps,
                                                  std::vector<std::string> extra = {})
    {
      std::vector<std::string> args{"--ior-file", m_server->IorFile(), "--token", user, "--compute",
                                    std::to_string(compute), "--steps", std::to_string(steps),
                                    "-ORBendPoint", "giop:tcp:127.0.0.1:"};
      args.insert(args.end(), extra.begin(), extra.end());
      return std::make_unique<KroTest::ChildProcess>(KRO_STATUS_LAB_CLIENT, args);
    }

    std::unique_ptr<KroTest::ServerProcess> m_server;
    int m_port = 0;
  };

  // The operations of user in a reply of /api/operations, by id.
  std::map<int, json> OperationsOf(const json& status, const std::string& user)
  {
    std::map<int, json> found;
    for (const json& operation : status["operations"])
      if (operation["user"] == user)
        found[operation["id"].get<int>()] = operation;
    return found;
  }

  // "ended ID STATE PROGRESS" lines of a client's output: state by id.
  std::map<int, std::string> EndsTold(const std::string& output)
  {
    std::map<int, std::string> ends;
    std::istringstream lines(output);
    std::string word, state;
    int id = 0;
    double progress = 0;
    while (lines >> word)
      if (word == "ended" && lines >> id >> state >> progress)
        ends[id] = state;
    return ends;
  }

  TEST_F(ServerWithEndpoint, ShowsWhileAndAfterTheClientsRunWhatTheyDid)
  {
    // alice: three operations of ten steps, in line behind one another;
    // bob: two behind hers, the second cancelled while it waits; a user
    // whose name needs escaping in the metrics.
    auto alice = Client("alice", 3, 10);
    ASSERT_TRUE(alice->Stdout().WaitFor("submitted 3", 20s)) << alice->Describe();
    auto bob = Client("bob", 2, 5, {"--cancel", "2"});
    ASSERT_TRUE(bob->Stdout().WaitFor("cancelled", 20s)) << bob->Describe();
    const std::string oddUser = "q\"uote\\back";
    auto odd = Client(oddUser, 1, 1);
    ASSERT_TRUE(odd->Stdout().WaitFor("submitted 1", 20s)) << odd->Describe();

    // While they run: one operation runs (one pool thread), the others wait
    // in the order of submission, the running one reports progress.
    const auto midway = KroStatusTest::WaitForOperations(m_port, [](const json& status) {
      int running = 0;
      for (const json& operation : status["operations"])
        running += operation["state"] == "running" && operation["progress"].get<double>() > 0 ? 1 : 0;
      return running == 1 && status["pool"]["waiting"].get<int>() >= 2;
    }, 20s);
    ASSERT_TRUE(midway) << "no moment with one operation running and others waiting";
    EXPECT_EQ((*midway)["pool"]["max"], 1);
    EXPECT_EQ((*midway)["serverObjects"].get<int>(), 3);
    std::vector<int> places;
    for (const json& operation : (*midway)["operations"])
    {
      EXPECT_NE(operation["state"], "finished") << "nothing of ten steps has ended yet: " << operation;
      if (operation["state"] == "queued")
        places.push_back(operation["place"].get<int>());
    }
    for (std::size_t i = 0; i < places.size(); ++i)
      EXPECT_EQ(places[i], static_cast<int>(i) + 1) << "places follow the order of submission";

    for (auto* client : {alice.get(), bob.get(), odd.get()})
    {
      const auto exit = client->WaitForExit(30s);
      ASSERT_TRUE(exit && exit->exited && exit->code == 0) << client->Describe();
    }

    // Afterwards: each operation as its client saw it end.
    const json after = KroStatusTest::Operations(m_port);
    EXPECT_EQ(after["serverObjects"].get<int>(), 0) << "every client removed its calculator";
    for (const auto& [user, client] : {std::pair<std::string, KroTest::ChildProcess*>{"alice", alice.get()},
                                       {"bob", bob.get()}, {oddUser, odd.get()}})
    {
      const std::map<int, std::string> told = EndsTold(client->Stdout().Text());
      const std::map<int, json> shown = OperationsOf(after, user);
      ASSERT_EQ(shown.size(), told.size()) << user << ": " << after.dump();
      for (const auto& [id, state] : told)
      {
        SCOPED_TRACE(user + " operation " + std::to_string(id));
        const json& operation = shown.at(id);
        EXPECT_EQ(operation["state"], state);
        EXPECT_EQ(operation["name"], "Compute");
        EXPECT_EQ(operation["place"], 0);
        EXPECT_GT(operation["submitted"].get<long long>(), 0);
        EXPECT_GE(operation["ended"].get<long long>(), operation["submitted"].get<long long>());
        if (state == "finished")
        {
          EXPECT_DOUBLE_EQ(operation["progress"].get<double>(), 1.0);
          EXPECT_NE(operation["status"].get<std::string>(), "");
          EXPECT_GE(operation["started"].get<long long>(), operation["submitted"].get<long long>());
          EXPECT_GE(operation["ended"].get<long long>(), operation["started"].get<long long>());
        }
        else
        {
          EXPECT_EQ(operation["started"], 0) << "cancelled while it waited: never started";
          EXPECT_DOUBLE_EQ(operation["progress"].get<double>(), 0.0);
        }
      }
    }

    const std::string metrics = Get(m_port, "/metrics").body;
    EXPECT_EQ(Sample(metrics, "kro_user_operations{user=\"alice\",state=\"finished\"}"), 3) << metrics;
    EXPECT_EQ(Sample(metrics, "kro_user_operations{user=\"bob\",state=\"finished\"}"), 1);
    EXPECT_EQ(Sample(metrics, "kro_user_operations{user=\"bob\",state=\"cancelled\"}"), 1);
    EXPECT_EQ(Sample(metrics, "kro_user_operations{user=\"q\\\"uote\\\\back\",state=\"finished\"}"), 1);
    EXPECT_EQ(Sample(metrics, "kro_operations_ended_total{state=\"finished\"}"), 5);
    EXPECT_EQ(Sample(metrics, "kro_operations_ended_total{state=\"cancelled\"}"), 1);
    EXPECT_EQ(Sample(metrics, "kro_operations{state=\"running\"}"), 0);
    EXPECT_EQ(Sample(metrics, "kro_operations_waiting"), 0);
    EXPECT_EQ(Sample(metrics, "kro_server_objects"), 0);
    EXPECT_EQ(Sample(metrics, "kro_pool_max_threads"), 1);
    // Every callback reached a live client: Progress and Status per step,
    // Results and Finished per operation run, at least.
    EXPECT_GE(Sample(metrics, "kro_callbacks_total{outcome=\"sent\"}"), 3 * 22 + 12 + 4);
    EXPECT_EQ(Sample(metrics, "kro_callbacks_total{outcome=\"failed\"}"), 0);
    EXPECT_EQ(Sample(metrics, "kro_callbacks_total{outcome=\"timed_out\"}"), 0);
    EXPECT_EQ(Sample(metrics, "kro_clients_detached_total"), 0);
    // The five operations that ran waited and ran once each; ten steps of
    // 100 ms take more than half a second.
    for (const std::string histogram : {"kro_operation_queue_wait_seconds", "kro_operation_run_seconds"})
    {
      SCOPED_TRACE(histogram);
      EXPECT_EQ(Sample(metrics, histogram + "_count"), 5);
      EXPECT_EQ(Sample(metrics, histogram + "_bucket{le=\"+Inf\"}"), 5);
    }
    EXPECT_EQ(Sample(metrics, "kro_operation_run_seconds_bucket{le=\"0.5\"}"), 1) << "the odd user's one step";
  }

  // The page's rows in a browser's document: state, place and progress by "OBJECT:ID".
  struct PageRow
  {
    std::string state;
    int place = 0;
    double progress = 0;
    std::string user;
  };
  std::map<std::string, PageRow> RowsOf(const std::string& dom)
  {
    std::map<std::string, PageRow> rows;
    const std::regex row(
      "<tr class=\"[a-z ]+\" data-key=\"([0-9]+:[0-9]+)\" data-state=\"([a-z]+)\" data-place=\"([0-9]+)\" "
      "data-progress=\"([0-9.e-]+)\"><td>[0-9]+</td><td>([^<]*)</td>");
    for (std::sregex_iterator match(dom.begin(), dom.end(), row), end; match != end; ++match)
      rows[(*match)[1]] = PageRow{(*match)[2], std::stoi((*match)[3]), std::stod((*match)[4]), (*match)[5]};
    return rows;
  }

  // Runs Chromium headless on url with extra options; its standard output.
  std::string Chromium(const std::string& url, const std::vector<std::string>& extra)
  {
    KroTest::TemporaryDirectory profile;
    std::vector<std::string> args{"--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                                  "--user-data-dir=" + profile.Path(), "--virtual-time-budget=4000"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(url);
    KroTest::ChildProcess browser("/usr/bin/chromium", args);
    const auto exit = browser.WaitForExit(60s);
    if (!exit || !exit->exited || exit->code != 0)
      ADD_FAILURE() << "chromium failed: " << browser.Describe();
    return browser.Stdout().Text();
  }

  TEST_F(ServerWithEndpoint, PageInHeadlessChromiumShowsEachOperationsStateAndProgress)
  {
    ASSERT_EQ(::access("/usr/bin/chromium", X_OK), 0)
      << "Chromium is not installed: ./run test installs it (the Debian package chromium)";

    // A user whose name is markup: the page must show it as text.
    const std::string markupUser = "<b>mallory</b>";
    auto alice = Client("alice", 3, 40);  // 4 s each: one runs, two wait
    auto mallory = Client(markupUser, 1, 2);
    ASSERT_TRUE(alice->Stdout().WaitFor("submitted 3", 20s)) << alice->Describe();
    ASSERT_TRUE(mallory->Stdout().WaitFor("submitted 1", 20s)) << mallory->Describe();
    ASSERT_TRUE(KroStatusTest::WaitForOperations(m_port, [](const json& status) {
      for (const json& operation : status["operations"])
        if (operation["state"] == "running" && operation["progress"].get<double>() > 0)
          return true;
      return false;
    }, 20s));

    const std::string url = "http://127.0.0.1:" + std::to_string(m_port) + "/";
    const json before = KroStatusTest::Operations(m_port);
    const std::string dom = Chromium(url, {"--dump-dom"});
    const json after = KroStatusTest::Operations(m_port);

    const std::map<std::string, PageRow> rows = RowsOf(dom);
    ASSERT_GE(rows.size(), 4u) << dom;
    EXPECT_NE(dom.find("data-updates"), std::string::npos) << "the page refreshed itself";
    for (const json& operation : after["operations"])
    {
      const std::string key = std::to_string(operation["object"].get<int>()) + ":" +
                              std::to_string(operation["id"].get<int>());
      SCOPED_TRACE(key + " " + operation.dump());
      ASSERT_EQ(rows.count(key), 1u) << dom;
      const PageRow& row = rows.at(key);
      // Shown between the two readings around the browser's visit.
      const json* earlier = nullptr;
      for (const json& candidate : before["operations"])
        if (candidate["object"] == operation["object"] && candidate["id"] == operation["id"])
          earlier = &candidate;
      std::set<std::string> states{operation["state"].get<std::string>()};
      if (earlier)
        states.insert((*earlier)["state"].get<std::string>());
      EXPECT_EQ(states.count(row.state), 1u) << row.state;
      EXPECT_LE(row.progress, operation["progress"].get<double>());
      if (earlier)
      {
        EXPECT_GE(row.progress, (*earlier)["progress"].get<double>());
      }
      if (row.state == "queued" && earlier && (*earlier)["state"] == "queued")
      {
        EXPECT_GE(row.place, 1) << "a waiting operation shows its place";
      }
    }
    // Markup in a user's name is text on the page, never an element.
    EXPECT_EQ(dom.find("<b>mallory"), std::string::npos);
    EXPECT_NE(dom.find("&lt;b&gt;mallory&lt;/b&gt;"), std::string::npos);

    // The page names its server and draws its charts from its readings.
    EXPECT_NE(dom.find("KroExampleAsyncServer on "), std::string::npos) << dom;
    std::smatch samples;
    ASSERT_TRUE(std::regex_search(dom, samples, std::regex("id=\"throughput\"[^>]*data-samples=\"([0-9]+)\"")))
      << dom;
    EXPECT_GE(std::stoi(samples[1]), 1) << "a refresh after the first gives a rate";

    // A view linked to: alice's operations only, and one of them in detail.
    std::set<std::string> alices;
    for (const json& operation : after["operations"])
      if (operation["user"] == "alice")
        alices.insert(std::to_string(operation["object"].get<int>()) + ":" + std::to_string(operation["id"].get<int>()));
    ASSERT_EQ(alices.size(), 3u) << after.dump();
    const std::string chosen = *alices.rbegin();
    const std::string filtered = Chromium(url + "#user=alice&op=" + chosen, {"--dump-dom"});
    std::set<std::string> shown;
    for (const auto& [key, row] : RowsOf(filtered))
    {
      shown.insert(key);
      EXPECT_EQ(row.user, "alice") << key;
    }
    EXPECT_EQ(shown, alices) << filtered;
    EXPECT_NE(filtered.find("id=\"details\" data-key=\"" + chosen + "\""), std::string::npos) << filtered;

    // By state: once mallory's count has finished, only finished ones.
    ASSERT_TRUE(KroStatusTest::WaitForOperations(m_port, [](const json& status) {
      for (const json& operation : status["operations"])
        if (operation["state"] == "finished")
          return true;
      return false;
    }, 20s));
    const std::map<std::string, PageRow> finished = RowsOf(Chromium(url + "#state=finished", {"--dump-dom"}));
    EXPECT_FALSE(finished.empty());
    for (const auto& [key, row] : finished)
      EXPECT_EQ(row.state, "finished") << key;

    // The screenshot, kept in the build directory as the test's artefact.
    const std::string screenshot = std::string(KRO_STATUS_ARTEFACTS) + "/status-page.png";
    ::unlink(screenshot.c_str());
    Chromium(url, {"--screenshot=" + screenshot, "--window-size=1280,640", "--hide-scrollbars"});
    std::ifstream png(screenshot, std::ios::binary);
    char magic[4] = {};
    png.read(magic, 4);
    EXPECT_EQ(std::string(magic + 1, 3), "PNG") << screenshot;
    ::testing::Test::RecordProperty("screenshot", screenshot);
  }
}
