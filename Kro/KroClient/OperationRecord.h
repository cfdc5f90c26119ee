// OperationRecord: what the client knows of one operation (its latest place
// in line, status, progress, results, failure and how it ended), kept from
// the callbacks in the order they are delivered; the application's
// callbacks, called from there; and waiting for all of it, with a deadline.
//
// The end: Error then Finished ends it Failed. A plain Finished, or a Status
// that reads like a withdrawal from the server's queue (which sends no
// Finished), is checked with the server's state first (CheckWithServer),
// which comes back as an Ended event: an operation cancelled while it ran
// also sends Finished, and a status text alone proves nothing.
//
// Threads: Apply is called one event at a time (CallbackSequencer); the
// readers and waiters from any thread. m_lock is never held while an
// application callback runs, so callbacks may read the record.
#ifndef KROCLIENT_OPERATIONRECORD_H
#define KROCLIENT_OPERATIONRECORD_H

#include "KroClient/CallbackEvent.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>

namespace KroClient
{
  class OperationRecord
  {
  public:
    // Why the server's state is needed before the operation can end.
    enum class Check { Withdrawal, Finish };
    using CheckWithServer = std::function<void(Check)>;

    OperationRecord(Callbacks callbacks, CheckWithServer checkWithServer);

    OperationRecord(const OperationRecord&) = delete;
    OperationRecord& operator=(const OperationRecord&) = delete;

    // One delivered event; nothing once the operation has ended.
    void Apply(const CallbackEvent& event);

    // Waits until the operation has ended, at most until deadline; Pending if it has not.
    Outcome WaitForEnd(Deadline deadline) const;
    // Waits until at least done of the work is done or the operation has
    // ended, at most until deadline. Whether done was reached.
    bool WaitForProgress(double done, Deadline deadline) const;

    Outcome Now() const;
    CORBA::Long Place() const;      // 0 until a Queued
    std::string Status() const;     // the latest Status text
    double Progress() const;        // 0 to 1
    CORBA::Any Results() const;     // the latest Results; empty until then
    // The failure reported through Error, nil when none; a new reference.
    Krovane::IAsyncExceptionHolder_ptr Failure() const;

  private:
    // Calls the application's ended callback, then records outcome and
    // wakes the waiters; once.
    void End(Outcome outcome);
    bool Ended() const;  // takes m_lock

    const Callbacks m_callbacks;               // the application's
    const CheckWithServer m_checkWithServer;   // see the class comment
    mutable std::mutex m_lock;                 // a leaf: nothing else is taken under it
    mutable std::condition_variable m_changed; // notified on every change
    CORBA::Long m_place = 0;                   // guarded by m_lock
    std::string m_status;                      // guarded by m_lock
    double m_progress = 0;                     // guarded by m_lock
    CORBA::Any m_results;                      // guarded by m_lock
    Krovane::IAsyncExceptionHolder_var m_failure;  // guarded by m_lock; nil when none
    Outcome m_outcome = Outcome::Pending;      // guarded by m_lock
  };
}

#endif
