// ThreadingPolicy: the root of the threading policies, which decide how the
// units of work of the server objects are run (at once, later, on which
// thread).
//
// A policy is an ACE task so that it can own threads of its own and run them
// through the task's activate, svc and close hooks; the task's message queue
// is never used. The policy never owns the work it is given: the submitter
// keeps each item alive until it has run or has been removed. Which threads
// may call a policy is said by each concrete policy.
#ifndef KROSERVER_THREADINGPOLICY_H
#define KROSERVER_THREADINGPOLICY_H

#include <ace/Task.h>

namespace Krovane
{
  class Dispatchable;

  class ThreadingPolicy : public ACE_Task<ACE_MT_SYNCH>
  {
  public:
    ThreadingPolicy();
    // A fresh task: nothing of other is taken over.
    ThreadingPolicy(const ThreadingPolicy& other);
    ThreadingPolicy& operator=(const ThreadingPolicy&) = delete;
    virtual ~ThreadingPolicy();

    // Hands a unit of work to the policy; the caller keeps ownership.
    virtual void Submit(Dispatchable* work) = 0;
    // Withdraws work that has not started; no effect on other work.
    virtual void Remove(Dispatchable* work) = 0;
    // A new policy of the same kind with that kind's default settings, owned
    // by the caller; null when the kind cannot make one.
    virtual ThreadingPolicy* Copy() = 0;

  protected:
    // Starts work the moment it is submitted, for policies that can; nothing here.
    virtual void DispatchInNewThread(Dispatchable* work);
  };
}

#endif
