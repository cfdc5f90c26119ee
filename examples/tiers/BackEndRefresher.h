// BackEndRefresher: keeps the front end's registry in step with the
// directory. A thread of its own re-reads the back ends every interval (and
// at once when asked with RefreshSoon, after a back end failed); a router
// that found no free back end re-reads on its own thread with RefreshNow.
// One re-read at a time; a caller that waited while another one ran takes
// that one's result instead of asking the naming service again. A back end
// that is no longer listed but still answers stays in the registry.
//
// Ownership: main owns one beside the registry, outside the ORB's life, and
// never destroys it (routers on detached pool threads may still call it);
// it re-reads only between Start and Stop (see Running), while the
// directory exists. Threads: any thread but for Start and Stop (main's).
// Lock order: m_refreshLock, then the library's access lock (in the
// registry); m_wakeLock is taken alone.
#ifndef KRO_EXAMPLES_TIERS_BACKENDREFRESHER_H
#define KRO_EXAMPLES_TIERS_BACKENDREFRESHER_H

#include "BackEndRegistry.h"
#include "TierDirectory.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace KroTiers
{
  class BackEndRefresher
  {
  public:
    BackEndRefresher(BackEndRegistry& registry, std::chrono::milliseconds interval);
    BackEndRefresher(const BackEndRefresher&) = delete;
    BackEndRefresher& operator=(const BackEndRefresher&) = delete;

    // Re-reads now on the calling thread; returns how many back ends the
    // registry lists (0 when stopped or the naming service fails).
    std::size_t RefreshNow();
    // Asks the thread for a re-read now; does not wait.
    void RefreshSoon();

    // Re-reads from directory from construction (the first re-read on the
    // caller's thread) to destruction (which joins the thread).
    class Running
    {
    public:
      Running(BackEndRefresher& refresher, TierDirectory& directory);
      ~Running();
      Running(const Running&) = delete;
      Running& operator=(const Running&) = delete;

    private:
      BackEndRefresher& m_refresher;
    };

  private:
    // The thread's body: a re-read every interval, or sooner when asked.
    void Run();

    BackEndRegistry& m_registry;              // kept in step; main's
    const std::chrono::milliseconds m_interval;  // between two re-reads of the thread

    std::mutex m_refreshLock;                 // held across a re-read
    TierDirectory* m_directory = nullptr;     // guarded by m_refreshLock; null when not running
    std::uint64_t m_reads = 0;                // guarded by m_refreshLock; re-reads done
    std::size_t m_listed = 0;                 // guarded by m_refreshLock; back ends listed after the last
    bool m_failing = false;                   // guarded by m_refreshLock; the last re-read failed (logged)

    std::mutex m_wakeLock;                    // taken alone
    std::condition_variable m_wake;           // signalled by RefreshSoon and Stop
    bool m_soon = false;                      // guarded by m_wakeLock; a re-read is asked for
    bool m_stopping = false;                  // guarded by m_wakeLock; the thread must end
    std::thread m_thread;                     // main's thread only: started by Running, joined by its end
  };
}

#endif
