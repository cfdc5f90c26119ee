// ThreadPoolThreadingPolicy: a bounded pool of detached worker threads that
// take operations from the queue one at a time and run them.
//
// The pool grows by one thread per Submit, and only when no thread is
// looking for work; each new thread is followed by a pause (one second
// unless setStartPause says otherwise) that throttles growth. Threads that
// find nothing to do while the pool is above its minimum end one after
// another; the threads at the minimum wait for work until the process ends.
// While an item waits it is told its place in line (see PlaceReports): each
// change under the queue's lock, or the latest place from the reporter's
// thread outside it. The queue wait and run time of each item go to
// ServerMetrics.
// One user's operations (Operation::Owner) hold at most a bound of the
// threads while another user's could use one (setMaxThreadsPerUser): a
// thread takes the front-most item of a user under the bound; an item of a
// user at the bound only while another thread stays free or can be started,
// so the last free thread is kept for other users.
//
// Ownership: the pool never owns a work item; the submitter keeps each one
// alive until it has run or has been removed. The pool owns its condition
// and its place reporter.
// A pool thread uses the pool until it ends, so a pool must outlive its
// threads; threads are started through ACE's thread manager and are detached.
//
// Threads: Submit, Remove, the setters and getters may be called from any
// thread; GetOperation, decrementPoolSize and svc run only on pool threads;
// in the kLatest mode, items' ReportQueuePosition runs on the reporter's thread.
// Lock order: m_queueLock before m_poolLock, and before the reporter's lock.
#ifndef KROSERVER_THREADPOOLTHREADINGPOLICY_H
#define KROSERVER_THREADPOOLTHREADINGPOLICY_H

#include "KroServer/BufferedThreadingPolicy.h"
#include "KroServer/OperationQueueReporter.h"
#include "KroServer/WakeUpCount.h"

#include <ace/Thread_Mutex.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace Krovane
{
  class SynchronousOperation;

  // What operators see of a pool at one moment (each field read once; the
  // queue length may be a few items apart from the thread counts).
  struct PoolSnapshot
  {
    int threads = 0;  // started and not yet ended
    int idle = 0;     // looking for or waiting for work
    int min = 0;      // kept when idle
    int max = 0;      // most the pool may hold
    int waiting = 0;  // items in the queue
  };

  class ThreadPoolThreadingPolicy : public BufferedThreadingPolicy
  {
  public:
    // min is kept within 1..30, max raised to min when smaller. No thread is started.
    ThreadPoolThreadingPolicy(int min = 1, int max = 5);
    // Takes over min and max; counters, stack size, locks and condition are new.
    ThreadPoolThreadingPolicy(const ThreadPoolThreadingPolicy& other);
    virtual ~ThreadPoolThreadingPolicy();

    // A new pool with the defaults (1, 5), owned by the caller.
    virtual ThreadingPolicy* Copy() override;

    // The fewest threads kept when idle: 1 and the change when n > 0, else 0.
    int setMin(int n);
    // The most threads: 1 and the change when min <= n <= 100, else 0.
    int setMax(int n);
    // Stack size of new threads in bytes: 1 when 128000 <= n <= 20000000;
    // below that 128000 is stored, above it n is stored, and 0 is returned.
    int setStackSize(int n);

    // The pause after each new thread, in milliseconds (1000 unless set;
    // 0: none): 1 and the change when milliseconds >= 0, else 0.
    int setStartPause(int milliseconds);

    // Threads one user's operations may hold while other users' operations
    // wait: n > 0, or 0 for the fair default, half of the maximum (at least 1).
    void setMaxThreadsPerUser(int n);
    // The bound in force now (the default worked out from the maximum).
    int GetMaxThreadsPerUser() const;

    // The settings and counters, each read under m_poolLock.
    int GetStartPause() const;
    int GetMin() const;
    int GetMax() const;
    int GetStackSize() const;
    // Threads started and not yet ended.
    int GetPoolSize() const;
    // Threads looking for or waiting for work.
    int GetIdle() const;
    // Threads, settings and queue length for operators; one short lock,
    // never the queue's, so it does not wait for queue traffic.
    PoolSnapshot Snapshot() const;

    // How waiting items learn their places in line. Places are worked out
    // each time a pool thread takes an item (or looks for one).
    enum class PlaceReports
    {
      kEveryChange,  // every change, told under the queue's lock by the pool thread
      kLatest        // the latest place, told outside the lock by the reporter's thread;
                     // a place superseded before it was sent is dropped, and none is
                     // sent once the item has left the queue or its operation Queued
    };
    // 1 when set; 0 once work has been submitted (the mode is fixed from then on).
    int setPlaceReports(PlaceReports mode);
    PlaceReports GetPlaceReports();
    // kLatest only: a round of place reports starts at most once per pace
    // (0, the default: no pause between reports). Under a long queue that
    // moves fast each waiting item then hears its latest place about once
    // per pace, not once per move; an item that starts before its turn is
    // not told.
    void setPlaceReportPace(std::chrono::milliseconds pace);

    // Queues an Operation ("CancelAllOperations" in front, others at the
    // back), starts a thread when none is idle and the pool is below its
    // maximum, and wakes one waiting thread. Other Dispatchables are never run.
    virtual void Submit(Dispatchable* work) override;
    // Takes work out of the queue; when it was there, wakes one waiting
    // thread so that the items left are told their new places.
    virtual void Remove(Dispatchable* work) override;
    // Remove that tells whether work was waiting: 1 when it was taken out of
    // the queue (it will not run, and is no longer told its place: a place
    // being told is waited for), 0 when it was not there (it may already be
    // on its way to a thread).
    int Withdraw(Dispatchable* work);

    // Does nothing: threads are started by Submit.
    virtual int open(void* args = 0) override;
    // Called by ACE as each pool thread ends; logs it.
    virtual int close(u_long flags = 0) override;
    // The body of every pool thread.
    virtual int svc() override;

    // The next item for the calling pool thread, or null (then ask again);
    // keepRunning becomes 0 when the thread is surplus and is to end. No
    // place is being told to the item when it is returned.
    Dispatchable* GetOperation(int& keepRunning);
    // Bookkeeping of an ending pool thread, once it is marked as leaving;
    // wakes one waiting thread.
    void decrementPoolSize();

  protected:
    // 1 unless the server is stopping (ServerStop): then waiting items stay
    // in the queue until they are withdrawn.
    virtual int CanDispatchNow() override;

  private:
    // Counts a thread against the user of the item it took until the scope
    // ends (the item may be gone by then: the user is kept by name).
    class HeldByUser
    {
    public:
      HeldByUser(ThreadPoolThreadingPolicy& pool, std::string user) : m_pool(pool), m_user(std::move(user)) {}
      ~HeldByUser();
      HeldByUser(const HeldByUser&) = delete;
      HeldByUser& operator=(const HeldByUser&) = delete;

    private:
      ThreadPoolThreadingPolicy& m_pool;
      const std::string m_user;  // empty: counted for nobody
    };

    // GetOperation, giving also the time the item left the queue (its wait
    // is recorded) and the user it is counted for (counted already).
    Dispatchable* TakeNext(int& keepRunning, std::chrono::steady_clock::time_point& startedAt,
                           std::string& user);
    // Takes the next item, preferring users under their bound of threads
    // (one over it only when spare), and counts it for its user (returned in
    // user); null when none may run now. m_queueLock held.
    Dispatchable* DequeueFairly(int perUserBound, bool spare, std::chrono::steady_clock::time_point* enqueuedAt,
                                std::string& user);
    // Works out the places of the waiting items and tells them or posts them
    // to the reporter (see PlaceReports), after left was taken out of the
    // queue (null: none was); m_queueLock held.
    void UpdatePlaces(Dispatchable* left);
    // The queue length for Snapshot; m_queueLock held.
    void NoteQueueLength();
    // The per-user bound in force; m_poolLock held.
    int PerUserBound() const;
    // Starts one thread; m_poolLock held. Returns whether it did.
    bool StartThread();
    // Lets one waiting thread go (or the next one about to wait).
    void WakeOne();
    // Waits until a wake-up is given after the one numbered seen.
    void WaitForWakeUp(std::uint32_t seen);
    // Notes that the calling thread is about to end (after a failed item).
    void MarkLeaving();
    // Whether an operation's cancellation stopped the calling thread (ACE's
    // cancel flag is set, and cannot be cleared: the thread must end).
    static bool WasStopped();
    // Notes that the calling, stopped thread ends, and starts a fresh one
    // when work waits or the pool would fall below its minimum.
    void LeaveForAFreshThread();

    // The calling thread's current operation for the scope of one dispatch.
    class CurrentOperation
    {
    public:
      explicit CurrentOperation(SynchronousOperation* operation);
      ~CurrentOperation();
      CurrentOperation(const CurrentOperation&) = delete;
      CurrentOperation& operator=(const CurrentOperation&) = delete;
    };

    mutable ACE_Thread_Mutex m_poolLock;  // taken after m_queueLock, never before
    int m_idle;       // guarded by m_poolLock; threads inside GetOperation
    int m_poolSize;   // guarded by m_poolLock; threads started and not yet ended
    int m_max;        // guarded by m_poolLock; most threads the pool may hold
    int m_min;        // guarded by m_poolLock; threads kept when idle
    int m_stackSize;  // guarded by m_poolLock; stack size of new threads; 0: the default
    int m_leaving;    // guarded by m_poolLock; threads that have decided to end and not yet ended
    int m_startPauseMs;  // guarded by m_poolLock; pause after starting a thread
    int m_perUserBound;  // guarded by m_poolLock; threads per user while others wait; 0: half of m_max
    // guarded by m_queueLock; threads running each user's items (users at 0 are erased)
    std::unordered_map<std::string, int> m_heldByUser;
    static const int kDefaultStartPauseMs = 1000;
    PlaceReports m_placeReports;  // guarded by m_queueLock
    bool m_submitted;             // guarded by m_queueLock; fixes m_placeReports
    std::vector<QueuePlace> m_changedPlaces;  // guarded by m_queueLock; reused by UpdatePlaces
    // Tells places in the kLatest mode (its thread starts with the first
    // post); an item out of the queue is awaited there in either mode,
    // which costs an uncontended lock when nothing was posted.
    std::unique_ptr<OperationQueueReporter> m_reporter;
    std::atomic<int> m_waiting;  // written under m_queueLock; the queue length for Snapshot
    // Idle threads wait on it; a thread notes the count as it looks at the
    // queue, so that a wake-up given between that look and the wait is not lost.
    WakeUpCount m_wakeUps;

    // Set until the first pool thread of the process is started.
    static std::atomic<bool> s_noThreadStarted;
  };
}

#endif
