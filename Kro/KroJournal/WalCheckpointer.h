// WalCheckpointer: a journal's checkpoints, on a thread of its own. It first
// flushes the log to the disk without the journal's lock (the long wait: a
// log of several MB), then runs the checkpoint, which then has little left
// to flush, under that lock. So request threads that commit do not wait for
// the disk, except for that short remainder.
// Ownership: the journal owns it and destroys it before its connection.
// Threads: Request from any (a commit's WAL hook); m_lock is a leaf.
#ifndef KROJOURNAL_WALCHECKPOINTER_H
#define KROJOURNAL_WALCHECKPOINTER_H

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace KroJournal
{
  class WalCheckpointer
  {
  public:
    // walPath: the journal's log (opened when first needed, read only, and
    // kept open: closing a descriptor of a file would drop the process's
    // locks on it, and SQLite holds none on the log). checkpoint: takes the
    // journal's lock and checkpoints.
    WalCheckpointer(std::string walPath, std::function<void()> checkpoint);
    // Stops the thread (a checkpoint under way ends first).
    ~WalCheckpointer();
    WalCheckpointer(const WalCheckpointer&) = delete;
    WalCheckpointer& operator=(const WalCheckpointer&) = delete;

    // A checkpoint is due; returns at once.
    void Request();
    // Checkpoints done (for tests and measurements).
    long long Done() const;

  private:
    void Run();

    const std::string m_walPath;
    const std::function<void()> m_checkpoint;
    int m_walFd = -1;  // used by the thread only; the log, -1 until it could be opened
    mutable std::mutex m_lock;  // a leaf
    std::condition_variable m_wake;  // with m_lock: requested or stopping
    bool m_requested = false;  // guarded by m_lock
    bool m_stopping = false;   // guarded by m_lock
    long long m_done = 0;      // guarded by m_lock
    std::thread m_thread;      // last: starts once the rest is set
  };
}

#endif
