#include "JournalSoak.h"

#include "support/NamingService.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

namespace KroSoak
{
  namespace
  {
    using Clock = std::chrono::steady_clock;
    using std::chrono::milliseconds;
    using std::chrono::seconds;

    const seconds kClientEndWait(150);  // beyond its time: the longest a client may take to settle
    const seconds kStopWait(30);        // for a server's orderly stop

    // The value of key= in a line of numbers ("JSTATS a=1 b=2").
    long long Field(const std::string& line, const std::string& key)
    {
      const std::size_t at = line.find(" " + key + "=");
      return at == std::string::npos ? 0 : std::atoll(line.c_str() + at + key.size() + 2);
    }

    std::string Tail(const std::string& text, std::size_t limit = 4000)
    {
      return text.size() <= limit ? text : "..." + text.substr(text.size() - limit);
    }
  }

  JournalSoak::JournalSoak(const JournalSoakOptions& options) : m_options(options) {}

  bool JournalSoak::StartServer()
  {
    std::remove(m_iorFile.c_str());  // a killed server's file stays behind
    m_server = std::make_unique<KroTest::ChildProcess>(
      m_options.server, std::vector<std::string>{"--journal", m_journal, "--ior-file", m_iorFile, "--max-threads", "2",
                                                 "--idle-seconds", "3600", "--drain-seconds", "1", "-ORBendPoint",
                                                 m_endpoint});
    if (KroTest::WaitForFile(m_iorFile, seconds(30), m_server.get()))
      return true;
    m_findings.Violation("server-start", "server", "no IOR within 30 s\n" + m_server->Describe());
    return false;
  }

  void JournalSoak::EndServer(bool orderly)
  {
    if (orderly)
    {
      m_server->Signal(SIGTERM);
      const std::optional<KroTest::ExitStatus> status = m_server->WaitForExit(kStopWait);
      if (!status || !status->exited || status->code != 0)
        m_findings.Violation("server-stop", "server", (status ? "ended with " + status->Describe() : "still running") +
                                                        " after SIGTERM\n" + Tail(m_server->Stderr().Text()));
    }
    m_server->Kill();  // reaps; nothing more when it has ended
    m_server->Stderr().WaitForEnd(seconds(5));
    m_findings.SanitizerReports(m_server->Stderr().Text(), "server");
  }

  int JournalSoak::Run()
  {
    const Clock::time_point start = Clock::now();
    m_endpoint = "giop:tcp:127.0.0.1:" + std::to_string(KroTest::FreeLoopbackPort());
    if (!StartServer())
    {
      m_findings.PrintCounts();
      return 1;
    }
    std::printf("journal soak: %d clients for %d s on %s, the server killed or stopped at random and started "
                "again on its journal\n", m_options.clients, m_options.seconds, m_endpoint.c_str());
    std::fflush(stdout);

    std::vector<std::unique_ptr<KroTest::ChildProcess>> clients;
    for (int i = 0; i < m_options.clients; ++i)
      clients.push_back(std::make_unique<KroTest::ChildProcess>(
        m_options.self,
        std::vector<std::string>{"--journal-client", "--name", "client" + std::to_string(i + 1), "--ior-file",
                                 m_iorFile, "--seconds", std::to_string(m_options.seconds), "--seed",
                                 std::to_string(m_options.seed * 100 + i), "--loss-bound-ms",
                                 std::to_string(m_options.lossBoundMs), "-ORBendPoint", "giop:tcp:127.0.0.1:"}));

    // The server ends every 1.5 to 4 s while the clients submit: killed,
    // but every fourth time (the third, the seventh...) stopped in order;
    // most come back at once (faster than the clients' watch asks), some
    // after a pause.
    std::mt19937 random(m_options.seed);
    int kills = 0, stops = 0;
    Clock::time_point started = start;  // the current server's start
    const Clock::time_point lastRestart = start + seconds(m_options.seconds) - seconds(2);
    for (;;)
    {
      const bool orderly = (kills + stops) % 4 == 2;
      Clock::time_point at = Clock::now() + milliseconds(std::uniform_int_distribution<int>(1500, 4000)(random));
      // A stop tells only the clients whose handlers it has: not before the
      // clients' watches have had time to attach theirs again since the last start.
      if (orderly)
        at = std::max(at, started + milliseconds(m_options.lossBoundMs * 2 / 5));
      if (at >= lastRestart)
        break;
      if (m_server->WaitForExit(std::chrono::duration_cast<milliseconds>(at - Clock::now())))
        m_findings.Violation("server-down", "server", "the server ended by itself\n" + m_server->Describe());
      const int awayMs = std::uniform_int_distribution<int>(0, 2)(random) == 0
                           ? std::uniform_int_distribution<int>(100, 1500)(random)
                           : 0;
      const Clock::time_point ending = Clock::now();
      EndServer(orderly);
      ++(orderly ? stops : kills);
      // The server stays away this long: part of the scenario, not a wait for anything.
      std::this_thread::sleep_for(milliseconds(awayMs));
      const Clock::time_point starting = Clock::now();
      if (!StartServer())
        break;
      started = Clock::now();
      std::printf("journal soak: at %.1f s the server was %s in %.1f s, away %d ms more, up again in %.1f s\n",
                  std::chrono::duration<double>(ending - start).count(), orderly ? "stopped" : "killed",
                  std::chrono::duration<double>(starting - ending).count() - awayMs / 1000.0, awayMs,
                  std::chrono::duration<double>(Clock::now() - starting).count());
      std::fflush(stdout);
    }

    long long submitted = 0, refused = 0, notExist = 0, finished = 0, stopped = 0, worstWaitMs = 0;
    for (int i = 0; i < m_options.clients; ++i)
    {
      KroTest::ChildProcess& client = *clients[i];
      const std::string name = "client" + std::to_string(i + 1);
      const std::optional<KroTest::ExitStatus> status = client.WaitForExit(kClientEndWait);
      const std::string output = client.Stdout().Text();
      m_findings.AddCounts(output);
      std::istringstream lines(output);
      std::string line;
      bool reported = false;
      while (std::getline(lines, line))
        if (line.compare(0, 10, "VIOLATION ") == 0)
          std::printf("%s\n", line.c_str());  // the client's own, the first few of each check
        else if (line.compare(0, 7, "JSTATS ") == 0)
        {
          reported = true;
          submitted += Field(line, "submitted");
          refused += Field(line, "refused");
          notExist += Field(line, "notExist");
          finished += Field(line, "finished");
          stopped += Field(line, "stopped");
          worstWaitMs = std::max(worstWaitMs, Field(line, "worstWaitMs"));
        }
      if (!status)
      {
        m_findings.Violation("client-hung", name, "still running " + std::to_string(kClientEndWait.count()) +
                                                    " s after its time\n" + Tail(output));
        client.Kill();
      }
      else if (!status->exited || status->code > 1 || !reported)  // 1: its violations, counted above
        m_findings.Violation("client-failed", name, status->Describe() + "\n" + Tail(output) +
                                                      Tail(client.Stderr().Text()));
      m_findings.SanitizerReports(client.Stderr().Text(), "client");
    }
    if (m_server->HasExited())
      m_findings.Violation("server-down", "server", "the server ended by itself\n" + m_server->Describe());
    EndServer(true);

    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("journal soak: %.0f s, %d clients: %lld counts submitted, %lld finished with their true result, "
                "%lld ended by an orderly stop, %lld submissions refused while the server was away (%lld of them "
                "OBJECT_NOT_EXIST); %d restarts (%d kills, %d stops); worst wait %lld ms; %d violations\n",
                elapsed, m_options.clients, submitted, finished, stopped, refused, notExist, kills + stops, kills, stops,
                worstWaitMs, m_findings.Total());
    m_findings.PrintCounts();
    if (submitted == 0 || kills + stops == 0)
    {
      std::printf("journal soak: FAILED, nothing was soaked\n");
      return 1;
    }
    std::printf(m_findings.Total() == 0 ? "journal soak: passed, no violation\n"
                                        : "journal soak: FAILED (counts above)\n");
    std::fflush(stdout);
    return m_findings.Total() == 0 ? 0 : 1;
  }
}
