#include "KroServer/RequestThreads.h"

#include <ace/Guard_T.h>
#include <ace/Thread_Mutex.h>

#include <unordered_map>

namespace Krovane
{
  namespace
  {
    struct ServingThreads
    {
      ACE_Thread_Mutex lock;                               // guards requests
      std::unordered_map<unsigned long, int> requests;     // guarded by lock; thread -> requests it serves
    };

    ServingThreads& Serving()
    {
      static ServingThreads* threads = new ServingThreads;  // lives to process end: ORB threads outlive statics
      return *threads;
    }
  }

  void RequestThreads::Enter(unsigned long threadId)
  {
    ServingThreads& threads = Serving();
    ACE_GUARD(ACE_Thread_Mutex, guard, threads.lock);
    ++threads.requests[threadId];
  }

  void RequestThreads::Leave(unsigned long threadId)
  {
    ServingThreads& threads = Serving();
    ACE_GUARD(ACE_Thread_Mutex, guard, threads.lock);
    auto entry = threads.requests.find(threadId);
    if (entry != threads.requests.end() && --entry->second <= 0)
      threads.requests.erase(entry);
  }

  bool RequestThreads::IsServing(unsigned long threadId)
  {
    ServingThreads& threads = Serving();
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, threads.lock, false);
    return threads.requests.count(threadId) != 0;
  }
}
