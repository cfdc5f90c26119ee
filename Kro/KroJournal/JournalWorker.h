// JournalWorker: a journal's own thread, for what no request should wait
// for. Checkpoints: it first flushes the log to the disk without the
// journal's lock (the long wait: a log of several MB), then runs the
// checkpoint, which then has little left to flush, under that lock. And
// once a period, or sooner when hurried, it runs the journal's tick (the
// record log applied; reports that wait are written within a second even
// when nothing else happens).
// Ownership: the journal owns it and destroys it before its connection.
// Threads: Request from any (a commit's WAL hook); m_lock is a leaf, not
// held while the callbacks run.
#ifndef KROJOURNAL_JOURNALWORKER_H
#define KROJOURNAL_JOURNALWORKER_H

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace KroJournal
{
  class JournalWorker
  {
  public:
    // walPath: the journal's log (opened when first needed, read only, and
    // kept open: closing a descriptor of a file drops the process's locks
    // on it, and SQLite holds none on the log). checkpoint: takes the
    // journal's lock and checkpoints. tick: run every period.
    JournalWorker(std::string walPath, std::function<void()> checkpoint, std::function<void()> tick,
                  std::chrono::milliseconds period);
    // Stops the thread (a callback under way ends first).
    ~JournalWorker();
    JournalWorker(const JournalWorker&) = delete;
    JournalWorker& operator=(const JournalWorker&) = delete;

    // A checkpoint is due; returns at once.
    void Request();
    // The tick is due now, not at the end of its period; returns at once.
    void Hurry();

  private:
    void Run();
    // Sets flag (m_requested or m_hurried) under m_lock and wakes the thread,
    // unless it was set already.
    void Raise(bool& flag);

    const std::string m_walPath;
    const std::function<void()> m_checkpoint;
    const std::function<void()> m_tick;
    const std::chrono::milliseconds m_period;
    int m_walFd = -1;  // used by the thread only; the log, -1 until it could be opened
    std::mutex m_lock;  // a leaf
    std::condition_variable m_wake;  // with m_lock: requested or stopping
    bool m_requested = false;  // guarded by m_lock
    bool m_hurried = false;    // guarded by m_lock
    bool m_stopping = false;   // guarded by m_lock
    std::thread m_thread;      // last: starts once the rest is set
  };
}

#endif
