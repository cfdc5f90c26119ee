#include "KroServer/StoppedThreads.h"

#include <ace/Guard_T.h>
#include <ace/Thread_Mutex.h>

#include <atomic>
#include <unordered_set>

namespace Krovane
{
  namespace
  {
    struct Marks
    {
      ACE_Thread_Mutex lock;                      // guards threads
      std::unordered_set<unsigned long> threads;  // guarded by lock; asked to stop
      std::atomic<bool> any{false};               // some thread was ever marked: most processes never mark one
    };

    Marks& TheMarks()
    {
      static Marks* marks = new Marks;  // lives to process end: pool threads outlive statics
      return *marks;
    }
  }

  void StoppedThreads::Mark(unsigned long threadId)
  {
    Marks& marks = TheMarks();
    ACE_GUARD(ACE_Thread_Mutex, guard, marks.lock);
    marks.threads.insert(threadId);
    marks.any.store(true);
  }

  bool StoppedThreads::Take(unsigned long threadId)
  {
    Marks& marks = TheMarks();
    if (!marks.any.load())
      return false;
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, marks.lock, false);
    return marks.threads.erase(threadId) != 0;
  }
}
