// JournalSoakClient: one client process of the journal soak. It takes one
// worker of the smallest server (on a journal, fixed port) and, until its
// time is up, keeps a few counts of random length pending on it through the
// client library, while the soak kills and restarts the server under it.
// A submission that fails because the server is away (or stopping) is tried
// again later; only the ones whose id came back are checked, once each has
// ended:
//   - it ended Finished with its true count as Results, its end told once;
//     or, after an orderly stop, Failed with "server is stopping";
//   - no id came back twice from the worker;
//   - it ended within the wait bound of its submission.
// It prints "JSTATS ..." (what it did, its worst wait) and its findings'
// COUNT lines for the coordinator.
//
// Threads: Run() on the process's main thread; the client library's and
// the ORB's threads deliver the callbacks.
#ifndef KRO_TESTS_SOAK_JOURNALSOAKCLIENT_H
#define KRO_TESTS_SOAK_JOURNALSOAKCLIENT_H

#include "SoakFindings.h"

#include "KroClient/AsyncClient.h"

#include "Smallest.hh"

#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>

namespace KroSoak
{
  struct JournalClientOptions
  {
    std::string name = "client";  // for messages
    std::string iorFile;           // the factory's IOR, written again by each server start
    int seconds = 20;              // how long to keep submitting
    unsigned seed = 1;             // of the counts' lengths
    int lossBoundMs = 10000;       // the client library's bound on a silent server
  };

  class JournalSoakClient
  {
  public:
    JournalSoakClient(PortableServer::POA_ptr poa, CORBA::ORB_ptr orb, const JournalClientOptions& options);
    // The client's work; the process's exit code (0: no violation).
    int Run();

  private:
    using Clock = std::chrono::steady_clock;

    // What the library's ended callback saw of one count (its thread).
    struct Ends
    {
      std::atomic<int> times{0};            // ended callbacks
      std::atomic<Clock::rep> at{0};        // the first one's time
    };

    // One submission whose id came back.
    struct Count
    {
      CORBA::Long id = 0;
      CORBA::Long steps = 0;
      Clock::time_point submitted;
      std::shared_ptr<Ends> ends;
      std::unique_ptr<KroClient::Operation> operation;
    };

    // A worker from the factory in the IOR file, tried until deadline.
    void TakeWorker(Clock::time_point deadline);
    // Submits one count; false when the server refused or was away.
    bool Submit();
    // Waits for the oldest pending count until deadline (or its own
    // bound) and checks it once it has ended.
    void SettleOldest(Clock::time_point deadline);
    void Check(Count& count, KroClient::Outcome outcome);
    // Milliseconds from the client's start to when, for a report.
    long long SinceStart(Clock::time_point when) const;

    const Clock::time_point m_started = Clock::now();
    CORBA::ORB_var m_orb;
    JournalClientOptions m_options;
    KroClient::AsyncClient m_client;
    Smallest::IWorker_var m_worker;
    std::mt19937 m_random;
    SoakFindings m_findings;
    std::deque<Count> m_pending;   // submitted, not yet checked; oldest first
    std::deque<Count> m_settled;   // checked; kept to see a late second end
    std::set<CORBA::Long> m_ids;   // every id the worker gave
    long m_submitted = 0, m_refused = 0, m_finished = 0, m_stopped = 0;
    long m_notExist = 0;  // submissions refused OBJECT_NOT_EXIST while the server came or went
    std::optional<Clock::time_point> m_notExistSince;  // the first of the latest such refusals in a row
    std::chrono::milliseconds m_worstWait{0};
  };
}

#endif
