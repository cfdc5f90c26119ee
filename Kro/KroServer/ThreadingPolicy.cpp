#include "KroServer/ThreadingPolicy.h"

namespace Krovane
{
  ThreadingPolicy::ThreadingPolicy() {}

  ThreadingPolicy::ThreadingPolicy(const ThreadingPolicy&) : ACE_Task<ACE_MT_SYNCH>() {}

  ThreadingPolicy::~ThreadingPolicy() {}

  void ThreadingPolicy::DispatchInNewThread(Dispatchable*) {}
}
