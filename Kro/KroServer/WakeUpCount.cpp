#include "KroServer/WakeUpCount.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace Krovane
{
  namespace
  {
    // The word's address stands for the sleeping threads; the kernel compares
    // the word with seen before it puts the caller to sleep.
    void Sleep(std::atomic<std::uint32_t>& word, std::uint32_t seen)
    {
      syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAIT_PRIVATE, seen, nullptr, nullptr, 0);
    }

    void WakeSleeper(std::atomic<std::uint32_t>& word)
    {
      syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
    }
  }

  static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t) &&
                  std::atomic<std::uint32_t>::is_always_lock_free,
                "the futex word must be a plain 32-bit word");

  std::uint32_t WakeUpCount::Seen() const { return m_given.load(std::memory_order_seq_cst); }

  void WakeUpCount::WakeOne()
  {
    m_given.fetch_add(1, std::memory_order_seq_cst);
    // Either a sleeper counted itself before this read, or it reads the new
    // count before it sleeps (both sequentially consistent): none is missed.
    if (m_sleepers.load(std::memory_order_seq_cst) > 0)
      WakeSleeper(m_given);
  }

  void WakeUpCount::Wait(std::uint32_t seen)
  {
    m_sleepers.fetch_add(1, std::memory_order_seq_cst);
    // A sleep ends with a wake-up, a signal, or at once when the count has
    // moved on; only the count says whether a wake-up was given.
    while (m_given.load(std::memory_order_seq_cst) == seen)
      Sleep(m_given, seen);
    m_sleepers.fetch_sub(1, std::memory_order_seq_cst);
  }
}
