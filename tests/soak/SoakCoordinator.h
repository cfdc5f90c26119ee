// SoakCoordinator: the soak's parent process. It starts the asynchronous
// example server on 127.0.0.1 and runs two identical rounds against it: in
// each, several client processes (this program with --client) work for the
// round's time, two of them are killed (SIGKILL) mid-round, and the rest
// must end without a violation. After each round it checks that the server
// is still up and prints its resident size (VmRSS); at the end it stops the
// server and checks that it ended cleanly, without a sanitizer report.
// The server runs a small pool kept at its full size (--min-threads, when
// the server offers it) and short steps, so that the clients' operations
// keep it busy: some wait while others run.
//
// With restarts, the server listens on a fixed port of 127.0.0.1 (free at
// the start) and is killed (SIGKILL) and started again on it every
// restartSeconds; its clients must end every operation within the loss
// bound (see SoakClient) and go on with new calculators. Each server's
// output is checked for a sanitizer report before it goes.
//
// Threads: Run() on the main thread, which owns every child process.
#ifndef KRO_TESTS_SOAK_SOAKCOORDINATOR_H
#define KRO_TESTS_SOAK_SOAKCOORDINATOR_H

#include "SoakFindings.h"

#include "support/ProcessHarness.h"

#include <memory>
#include <random>
#include <string>
#include <vector>

namespace KroSoak
{
  struct SoakOptions
  {
    int seconds = 120;            // the whole soak, both rounds
    int clients = 5;              // client processes per round, two of them killed
    unsigned seed = 1;            // of every random choice (the same in both rounds)
    int refusingPercent = 25;     // handlers that refuse Status
    std::string self;             // this program, to start the clients
    std::string server;           // the asynchronous example server to soak
    int restartSeconds = 0;       // 0: the server stays up; else killed and started again this often
    int lossBoundMs = 10000;      // with restarts: the longest a client's operation may wait on a lost server
  };

  class SoakCoordinator
  {
  public:
    explicit SoakCoordinator(const SoakOptions& options);
    // The soak; the process's exit code (0: no violation).
    int Run();

  private:
    void RunRound(int round);
    // Starts the server (on m_port, when fixed) and waits for its IOR;
    // false (a violation) when none comes.
    bool StartServer();
    // SIGKILL, and a new server on the same port.
    void RestartServer(double afterSeconds);
    // Checks the server's output for a sanitizer report.
    void CheckServerOutput(KroTest::ChildProcess& server);
    // The server's options: a small pool kept grown, short steps.
    std::vector<std::string> ServerArguments();

    SoakOptions m_options;
    SoakFindings m_findings;
    long m_totals[12] = {};       // the clients' STATS, added up
    KroTest::TemporaryDirectory m_directory;  // holds the IOR file
    const std::string m_iorFile = m_directory.File("server.ior");
    std::string m_endpoint = "giop:tcp:127.0.0.1:";  // with a fixed port when restarting
    std::vector<std::string> m_serverArguments;      // ServerArguments(), once
    std::unique_ptr<KroTest::ChildProcess> m_server; // the current server
    std::string m_ior;                               // its factory's IOR
    int m_restarts = 0;                              // restarts done
  };
}

#endif
