// BufferedThreadingPolicy: a threading policy with a queue of waiting work.
// Work starts at once only when nothing waits and the policy says it can
// start work now; otherwise it waits in line, so no item overtakes another.
//
// The policy owns its queue and the queue's entries, never the work items.
// Submit and Remove may be called from any thread; m_queueLock serialises
// them with every use of the queue by derived policies.
#ifndef KROSERVER_BUFFEREDTHREADINGPOLICY_H
#define KROSERVER_BUFFEREDTHREADINGPOLICY_H

#include "KroServer/OperationQueue.h"
#include "KroServer/ThreadingPolicy.h"

#include <ace/Thread_Mutex.h>

namespace Krovane
{
  class BufferedThreadingPolicy : public ThreadingPolicy
  {
  public:
    BufferedThreadingPolicy();
    // A new lock and an empty queue: waiting work of other is not copied.
    BufferedThreadingPolicy(const BufferedThreadingPolicy& other);
    virtual ~BufferedThreadingPolicy();

    // Under m_queueLock: DispatchInNewThread when nothing waits and
    // CanDispatchNow allows it, else queued at the back. Null is ignored.
    virtual void Submit(Dispatchable* work) override;
    // Under m_queueLock: takes the front-most entry of work out of the queue.
    // Null is ignored.
    virtual void Remove(Dispatchable* work) override;
    // Null: a buffered policy cannot make another of its kind.
    virtual ThreadingPolicy* Copy() override;

  protected:
    // Nonzero when a work item may start now; called with m_queueLock held.
    virtual int CanDispatchNow() = 0;

    ACE_Thread_Mutex m_queueLock;  // guards m_queue
    OperationQueue m_queue;        // the waiting work, next to run in front
  };
}

#endif
