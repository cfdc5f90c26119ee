#include "KroServer/RequestThreads.h"

#include <ace/Guard_T.h>
#include <ace/Thread_Mutex.h>

#include <atomic>
#include <unordered_map>

namespace Krovane
{
  namespace
  {
    // The threads that have served a request and not ended yet, each with
    // its count of requests in progress. A thread counts its own requests
    // without a lock (the interceptor does so on every request); only a
    // thread's first request and its end take the lock.
    struct ServingThreads
    {
      ACE_Thread_Mutex lock;                                              // guards counts
      std::unordered_map<unsigned long, const std::atomic<int>*> counts;  // guarded by lock
    };

    ServingThreads& Serving()
    {
      static ServingThreads* threads = new ServingThreads;  // lives to process end: ORB threads outlive statics
      return *threads;
    }

    // The calling thread's count, listed from its first request until the
    // thread ends (then it is taken out under the lock before it goes, so
    // that IsServing never reads a count that is gone).
    class ThreadRequests
    {
    public:
      ~ThreadRequests()
      {
        if (!m_listed)
          return;
        ServingThreads& threads = Serving();
        ACE_GUARD(ACE_Thread_Mutex, guard, threads.lock);
        auto entry = threads.counts.find(m_threadId);
        if (entry != threads.counts.end() && entry->second == &m_count)
          threads.counts.erase(entry);
      }

      std::atomic<int>& Count(unsigned long threadId)
      {
        if (!m_listed)
        {
          ServingThreads& threads = Serving();
          ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, threads.lock, m_count);
          threads.counts[threadId] = &m_count;
          m_threadId = threadId;
          m_listed = true;
        }
        return m_count;
      }

    private:
      std::atomic<int> m_count{0};  // requests the thread serves now
      bool m_listed = false;        // the thread's own; whether m_count is in the list
      unsigned long m_threadId = 0;  // the thread's own; its id in the list
    };

    thread_local ThreadRequests threadRequests;
  }

  void RequestThreads::Enter(unsigned long threadId)
  {
    threadRequests.Count(threadId).fetch_add(1, std::memory_order_release);
  }

  void RequestThreads::Leave(unsigned long threadId)
  {
    std::atomic<int>& count = threadRequests.Count(threadId);
    if (count.load(std::memory_order_relaxed) > 0)
      count.fetch_sub(1, std::memory_order_release);
  }

  bool RequestThreads::IsServing(unsigned long threadId)
  {
    ServingThreads& threads = Serving();
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, threads.lock, false);
    auto entry = threads.counts.find(threadId);
    return entry != threads.counts.end() && entry->second->load(std::memory_order_acquire) > 0;
  }
}
