// JournalSoak: the journal soak's parent process. It runs the smallest
// example server on a journal and a fixed port of 127.0.0.1, starts several
// client processes (this program with --journal-client, see
// JournalSoakClient) that keep counts pending on it through the client
// library, and meanwhile ends the server at random moments, mostly with
// SIGKILL, now and then with SIGTERM (an orderly stop), and starts it again
// at once on the same endpoint and journal. At the end it adds up what the
// clients found (no count lost, each with its true result, no id given
// twice, no wait past the bound), checks every server's output for a
// sanitizer report, and prints one summary line.
//
// Threads: Run() on the main thread, which owns every child process.
#ifndef KRO_TESTS_SOAK_JOURNALSOAK_H
#define KRO_TESTS_SOAK_JOURNALSOAK_H

#include "SoakFindings.h"

#include "support/ProcessHarness.h"

#include <memory>
#include <string>

namespace KroSoak
{
  struct JournalSoakOptions
  {
    int seconds = 25;           // how long the clients submit
    int clients = 3;            // client processes
    unsigned seed = 1;          // of every random choice
    std::string self;           // this program, to start the clients
    std::string server;         // the smallest example server
    int lossBoundMs = 10000;    // the clients' bound on a silent server
  };

  class JournalSoak
  {
  public:
    explicit JournalSoak(const JournalSoakOptions& options);
    // The soak; the process's exit code (0: no violation).
    int Run();

  private:
    // Starts the server on the journal and port; false (a violation) when
    // it writes no IOR.
    bool StartServer();
    // Ends the server (SIGTERM when orderly, else SIGKILL) and checks its output.
    void EndServer(bool orderly);

    JournalSoakOptions m_options;
    SoakFindings m_findings;
    KroTest::TemporaryDirectory m_directory;  // the journal and the IOR file
    const std::string m_iorFile = m_directory.File("server.ior");
    const std::string m_journal = m_directory.File("journal.db");
    std::string m_endpoint;                            // giop:tcp:127.0.0.1:PORT, fixed
    std::unique_ptr<KroTest::ChildProcess> m_server;   // the current server
  };
}

#endif
