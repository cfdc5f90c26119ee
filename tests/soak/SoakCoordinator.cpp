#include "SoakCoordinator.h"

#include "support/NamingService.h"

#include <algorithm>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

namespace KroSoak
{
  namespace
  {
    using std::chrono::milliseconds;
    using std::chrono::seconds;

    const int kRounds = 2;
    const int kKilledPerRound = 2;
    const seconds kClientEndWait(150);  // beyond its time: the longest a client may take to finish checking

    const int kPoolThreads = 4;         // fewer than the operations the clients keep in flight
    const char* const kStepMs = "10";   // a computation takes at most 8 steps

    const char* const kStatNames[] = {"calculators", "operations", "cancels", "reattaches", "queries",
                                      "cancelAlls", "removes", "callbackCancels", "vanished", "losses",
                                      "failedGone", "failedUnreachable"};
    const int kStats = sizeof kStatNames / sizeof kStatNames[0];

    std::string VmRss(pid_t pid)
    {
      std::ifstream status("/proc/" + std::to_string(pid) + "/status");
      std::string line;
      while (std::getline(status, line))
        if (line.compare(0, 6, "VmRSS:") == 0)
        {
          std::size_t start = line.find_first_not_of(" \t", 6);
          return start == std::string::npos ? line : line.substr(start);
        }
      return "unknown";
    }

    // The last lines of text, at most limit characters.
    std::string Tail(const std::string& text, std::size_t limit = 4000)
    {
      return text.size() <= limit ? text : "..." + text.substr(text.size() - limit);
    }
  }

  SoakCoordinator::SoakCoordinator(const SoakOptions& options) : m_options(options) {}

  void SoakCoordinator::CheckServerOutput(KroTest::ChildProcess& server)
  {
    server.Stderr().WaitForEnd(seconds(5));
    m_findings.SanitizerReports(server.Stderr().Text(), "server");
  }

  void SoakCoordinator::RunRound(int round)
  {
    const int roundSeconds = std::max(5, m_options.seconds / kRounds);
    std::printf("soak: round %d of %d: %d clients for %d s, %d of them killed mid-round\n", round, kRounds,
                m_options.clients, roundSeconds, kKilledPerRound);
    std::fflush(stdout);

    // The same choices in both rounds: the rounds are identical but for timing.
    std::mt19937 random(m_options.seed);
    std::vector<std::unique_ptr<KroTest::ChildProcess>> clients;
    for (int i = 0; i < m_options.clients; ++i)
    {
      const std::string name = "client" + std::to_string(i + 1);
      std::vector<std::string> arguments = {"--client", "--name", name, "--seconds", std::to_string(roundSeconds),
                                            "--seed", std::to_string(m_options.seed * 100 + i),
                                            "--refusing-percent", std::to_string(m_options.refusingPercent),
                                            "-ORBendPoint", "giop:tcp:127.0.0.1:", "-ORBclientCallTimeOutPeriod", "30000"};
      if (m_options.restartSeconds > 0)  // the factory is new after each restart: read from its file
        arguments.insert(arguments.end(), {"--ior-file", m_iorFile, "--loss-bound-ms",
                                           std::to_string(m_options.lossBoundMs)});
      else
        arguments.insert(arguments.end(), {"--ior", m_ior});
      clients.push_back(std::make_unique<KroTest::ChildProcess>(m_options.self, arguments));
    }

    // The last clients are killed, each at a random time in the middle of the round.
    const int killed = std::min(kKilledPerRound, m_options.clients);
    std::uniform_int_distribution<int> killAt(roundSeconds * 250, roundSeconds * 750);
    std::vector<int> killTimes;
    for (int i = 0; i < killed; ++i)
      killTimes.push_back(killAt(random));
    std::sort(killTimes.begin(), killTimes.end());
    // The server's restarts in the same round, at fixed times.
    std::vector<int> restartTimes;
    for (int at = m_options.restartSeconds * 1000; m_options.restartSeconds > 0 && at < roundSeconds * 1000;
         at += m_options.restartSeconds * 1000)
      restartTimes.push_back(at);
    const auto start = std::chrono::steady_clock::now();
    std::size_t nextKill = 0, nextRestart = 0;
    while (nextKill < killTimes.size() || nextRestart < restartTimes.size())
    {
      const bool restart = nextKill == killTimes.size() ||
                           (nextRestart < restartTimes.size() && restartTimes[nextRestart] < killTimes[nextKill]);
      const int at = restart ? restartTimes[nextRestart++] : killTimes[nextKill];
      const auto left = std::chrono::duration_cast<milliseconds>(start + milliseconds(at) -
                                                                 std::chrono::steady_clock::now());
      if (restart)
      {
        // Waits for the restart time, or for the server's own end (a finding).
        if (m_server->WaitForExit(std::max(milliseconds(0), left)))
          m_findings.Violation("server-down", "server", "the server ended by itself in round " +
                                                          std::to_string(round) + "\n" + m_server->Describe());
        RestartServer(at / 1000.0);
        continue;
      }
      const int i = static_cast<int>(nextKill++);
      KroTest::ChildProcess& victim = *clients[m_options.clients - killed + i];
      // Waits for the kill time, or for the victim's early end (itself a finding).
      if (std::optional<KroTest::ExitStatus> early = victim.WaitForExit(std::max(milliseconds(0), left)))
      {
        m_findings.Violation("client-ended-early", "client" + std::to_string(m_options.clients - killed + i + 1),
                             early->Describe() + "\n" + Tail(victim.Stdout().Text()) + Tail(victim.Stderr().Text()));
        continue;
      }
      victim.Kill();
      std::printf("soak: killed client%d after %.1f s\n", m_options.clients - killed + i + 1, at / 1000.0);
      std::fflush(stdout);
    }

    for (int i = 0; i < m_options.clients - killed; ++i)
    {
      KroTest::ChildProcess& client = *clients[i];
      const std::string name = "client" + std::to_string(i + 1);
      std::optional<KroTest::ExitStatus> status = client.WaitForExit(seconds(roundSeconds) + kClientEndWait);
      const std::string output = client.Stdout().Text();
      m_findings.AddCounts(output);
      std::istringstream lines(output);
      std::string line;
      while (std::getline(lines, line))
        if (line.compare(0, 6, "STATS ") == 0)
          for (int s = 0; s < kStats; ++s)
          {
            const std::string key = std::string(" ") + kStatNames[s] + "=";
            std::size_t at = line.find(key);
            if (at != std::string::npos)
              m_totals[s] += std::atol(line.c_str() + at + key.size());
          }
      if (!status)
      {
        m_findings.Violation("client-hung", name, "still running " + std::to_string(kClientEndWait.count()) +
                                                    " s after its time\n" + Tail(output));
        client.Kill();
      }
      else if (!status->exited || status->code != 0)
      {
        std::printf("soak: %s ended with %s:\n%s%s\n", name.c_str(), status->Describe().c_str(), Tail(output).c_str(),
                    Tail(client.Stderr().Text()).c_str());
        if (!status->exited || status->code != 1)  // 1: its violations, counted above
          m_findings.Violation("client-failed", name, status->Describe());
      }
    }

    if (m_server->HasExited())
      m_findings.Violation("server-down", "server", "the server ended during round " + std::to_string(round) + "\n" +
                                                      m_server->Describe());
    else
      std::printf("soak: round %d done: server VmRSS %s\n", round, VmRss(m_server->Pid()).c_str());
    std::fflush(stdout);
  }

  std::vector<std::string> SoakCoordinator::ServerArguments()
  {
    const std::string pool = std::to_string(kPoolThreads);
    std::vector<std::string> arguments = {"--max-threads", pool, "--threads", "8", "--step-ms", kStepMs,
                                          "--callback-timeout", "5", "--idle-seconds", "3600"};
    // A server that lets its pool shrink whenever the queue empties grows it
    // back one thread a second: the pool is kept whole where it can be.
    KroTest::ChildProcess help(m_options.server, {"--help"});
    if (help.WaitForExit(seconds(20)) && help.Stdout().Text().find("--min-threads") != std::string::npos)
    {
      arguments.push_back("--min-threads");
      arguments.push_back(pool);
    }
    else
      std::printf("soak: %s has no --min-threads: its pool may shrink between operations\n",
                  m_options.server.c_str());
    return arguments;
  }

  bool SoakCoordinator::StartServer()
  {
    std::vector<std::string> arguments = {"--ior-file", m_iorFile, "-ORBendPoint", m_endpoint};
    arguments.insert(arguments.end(), m_serverArguments.begin(), m_serverArguments.end());
    m_ior.clear();
    m_server = std::make_unique<KroTest::ChildProcess>(m_options.server, arguments);
    if (KroTest::WaitForFile(m_iorFile, seconds(30), m_server.get()))
    {
      const std::string text = KroTest::ReadFileText(m_iorFile);
      m_ior = text.substr(0, text.find_first_of("\r\n"));
    }
    if (m_ior.empty())
      m_findings.Violation("server-start", "server", "no IOR within 30 s\n" + m_server->Describe());
    return !m_ior.empty();
  }

  void SoakCoordinator::RestartServer(double afterSeconds)
  {
    m_server->Kill();
    CheckServerOutput(*m_server);
    // The killed server's file stays behind: its clients must not take it for the new one's.
    std::remove(m_iorFile.c_str());
    const auto begun = std::chrono::steady_clock::now();
    if (!StartServer())
      return;
    ++m_restarts;
    std::printf("soak: server killed after %.1f s and started again on %s in %.1f s (pid %d)\n", afterSeconds,
                m_endpoint.c_str(),
                std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count(),
                static_cast<int>(m_server->Pid()));
    std::fflush(stdout);
  }

  int SoakCoordinator::Run()
  {
    const auto start = std::chrono::steady_clock::now();
    m_serverArguments = ServerArguments();
    if (m_options.restartSeconds > 0)
      m_endpoint += std::to_string(KroTest::FreeLoopbackPort());
    std::string shown;
    for (const std::string& argument : m_serverArguments)
      shown += " " + argument;
    if (!StartServer())
    {
      m_findings.PrintCounts();
      return 1;
    }
    std::printf("soak: server %s -ORBendPoint %s%s\nsoak: server pid %d, VmRSS %s at start\n",
                m_options.server.c_str(), m_endpoint.c_str(), shown.c_str(), static_cast<int>(m_server->Pid()),
                VmRss(m_server->Pid()).c_str());
    if (m_options.restartSeconds > 0)
      std::printf("soak: the server is killed and started again every %d s; loss bound %d ms\n",
                  m_options.restartSeconds, m_options.lossBoundMs);
    for (int round = 1; round <= kRounds && !m_server->HasExited(); ++round)
      RunRound(round);

    if (!m_server->HasExited())
    {
      m_server->Signal(SIGTERM);
      std::optional<KroTest::ExitStatus> status = m_server->WaitForExit(seconds(30));
      if (!status)
        m_findings.Violation("server-stop", "server", "still running 30 s after SIGTERM");
      else if (!status->exited || status->code != 0)
        m_findings.Violation("server-stop", "server", "ended with " + status->Describe() + "\n" +
                                                        Tail(m_server->Stderr().Text()));
    }
    CheckServerOutput(*m_server);
    if (m_options.restartSeconds > 0)
      std::printf("soak: %d restarts of the server\n", m_restarts);

    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("soak: %.0f s;", elapsed);
    for (int s = 0; s < kStats; ++s)
      std::printf(" %s %ld", kStatNames[s], m_totals[s]);
    std::printf(" (surviving clients)\n");
    m_findings.PrintCounts();
    if (m_findings.Total() == 0)
      std::printf("soak: passed, no violation\n");
    else
      std::printf("soak: FAILED, %d violations (counts above)\n", m_findings.Total());
    std::fflush(stdout);
    return m_findings.Total() == 0 ? 0 : 1;
  }
}
