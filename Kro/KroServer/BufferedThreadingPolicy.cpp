#include "KroServer/BufferedThreadingPolicy.h"

#include <ace/Guard_T.h>

namespace Krovane
{
  BufferedThreadingPolicy::BufferedThreadingPolicy() {}

  BufferedThreadingPolicy::BufferedThreadingPolicy(const BufferedThreadingPolicy& other)
    : ThreadingPolicy(other)
  {
  }

  BufferedThreadingPolicy::~BufferedThreadingPolicy() {}

  void BufferedThreadingPolicy::Submit(Dispatchable* work)
  {
    if (!work)
      return;
    ACE_GUARD(ACE_Thread_Mutex, guard, m_queueLock);
    if (m_queue.IsEmpty() && CanDispatchNow())
      DispatchInNewThread(work);
    else
      m_queue.Enqueue(work);
  }

  void BufferedThreadingPolicy::Remove(Dispatchable* work)
  {
    if (!work)
      return;
    ACE_GUARD(ACE_Thread_Mutex, guard, m_queueLock);
    m_queue.Extract(work);
  }

  ThreadingPolicy* BufferedThreadingPolicy::Copy() { return nullptr; }
}
