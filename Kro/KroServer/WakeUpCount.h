// WakeUpCount: wake-ups given to threads that wait for work, counted, so
// that a thread that looked at the work before a wake-up was given does not
// wait for it (the thread notes Seen() while it looks, then Wait(seen)).
//
// A thread waits on the count itself (a futex on Linux): a wake-up is one
// system call when a thread sleeps and none when none does, and the woken
// thread takes no lock on its way out. A condition variable costs three
// calls per wake-up (its mutex is taken again, contended, after the wait),
// and the woken thread switches back once more when it finds that mutex held.
//
// Ownership: a value; it must outlive every thread that waits on it.
// Threads: every member may be called from any thread at once.
#ifndef KROSERVER_WAKEUPCOUNT_H
#define KROSERVER_WAKEUPCOUNT_H

#include <atomic>
#include <cstdint>

namespace Krovane
{
  class WakeUpCount
  {
  public:
    WakeUpCount() = default;
    WakeUpCount(const WakeUpCount&) = delete;
    WakeUpCount& operator=(const WakeUpCount&) = delete;

    // The wake-ups given so far.
    std::uint32_t Seen() const;
    // Gives one wake-up: one waiting thread, if any, returns from Wait.
    void WakeOne();
    // Returns once a wake-up has been given after the one numbered seen (at
    // once when one has).
    void Wait(std::uint32_t seen);

  private:
    std::atomic<std::uint32_t> m_given{0};  // the futex word: wake-ups given so far
    std::atomic<int> m_sleepers{0};         // threads inside Wait
  };
}

#endif
