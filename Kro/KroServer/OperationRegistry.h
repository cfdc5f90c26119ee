// OperationRegistry: the process's record of its asynchronous operations,
// live and recently ended, for operators (read by the status endpoint).
//
// Off until something switches it on (Enable): until then tracking costs one
// relaxed load per operation and per callback. Once on, each operation gets
// an OperationRecord at its construction, which its state changes,
// progress and status texts write into (a few atomics; the status
// text under the record's own small lock); the registry's lock is taken
// only when an operation starts being tracked and when it ends. Ended
// records move to a ring of the most recent ones, of a fixed size.
//
// Ownership: records are shared between the operation and the registry; an
// operation deleted before it ended (its object went first) leaves the live
// set then, kept as it was last seen. Thread-safe; the
// registry lives to the process's end.
#ifndef KROSERVER_OPERATIONREGISTRY_H
#define KROSERVER_OPERATIONREGISTRY_H

#include "Krovane.hh"

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace Krovane
{
  class Operation;
  class SyncServerImpl;

  // A copy of one operation's record, for readers. Times are milliseconds
  // since the epoch, 0 when not reached yet.
  struct OperationView
  {
    int object = 0;          // the server object's number in this process (see OperationRegistry)
    std::string user;        // the user the object works for (UserVerifier::UserOf), never the token
    int id = 0;              // the operation's id within its object
    std::string name;        // the operation's name
    OperationState state = Queued;
    int place = 0;           // place in line while queued (1 = next), counted when read; else 0
    double progress = 0;     // last progress reported, 0..1
    std::string status;      // last status text reported
    std::int64_t submittedMs = 0;
    std::int64_t startedMs = 0;
    std::int64_t endedMs = 0;
    bool failed = false;     // it told its client Error: a Finished operation then failed
  };

  class OperationRecord
  {
  public:
    OperationRecord(std::uint64_t sequence, const void* objectKey, int object, std::string user, int id,
                    std::string name);

    void NoteState(OperationState state);  // times the start and the end
    void NoteProgress(double progress);
    void NoteStatus(const char* text);
    void NoteFailed();
    bool Failed() const { return m_failed.load(std::memory_order_relaxed); }
    OperationView View() const;
    OperationState State() const { return m_state.load(std::memory_order_relaxed); }
    // True the first time it is called: the record is to leave the live set.
    bool MarkEnded() { return !m_ended.exchange(true); }

    const std::uint64_t m_sequence;  // the registry's order of submission
    const void* const m_objectKey;   // the server object's address: a key, never followed
    const int m_object;        // see OperationView
    const std::string m_user;  // see OperationView
    const int m_id;            // see OperationView
    const std::string m_name;  // see OperationView

  private:
    const std::int64_t m_submittedMs;          // at construction
    std::atomic<OperationState> m_state;       // last state noted
    std::atomic<double> m_progress;            // last progress noted
    std::atomic<std::int64_t> m_startedMs;     // 0 until Running is noted
    std::atomic<std::int64_t> m_endedMs;       // 0 until Finished or Cancelled is noted
    std::atomic<bool> m_ended;                 // see MarkEnded
    std::atomic<bool> m_failed{false};         // set once Error is told
    mutable std::mutex m_statusLock;           // taken alone, for a copy of the text
    std::string m_status;                      // guarded by m_statusLock
  };

  class OperationRegistry
  {
  public:
    static OperationRegistry& Instance();

    // Switches tracking on for operations constructed from now on, keeping
    // the last finishedKept ended ones (at least 1). Later calls change only
    // the count kept.
    void Enable(std::size_t finishedKept = 200);
    static bool Enabled() { return s_enabled.load(std::memory_order_relaxed); }

    // A record for operation id of object, as the object's user; null while
    // the registry is off. Called by the operation's constructor.
    std::shared_ptr<OperationRecord> Track(SyncServerImpl* object, int id, const std::string& name);
    // The record leaves the live set for the ring of ended ones (once).
    void Ended(const std::shared_ptr<OperationRecord>& record);

    // Notes for the operation the calling thread runs (a pool thread inside
    // its dispatch); nothing elsewhere or while the registry is off. Called
    // by relays, which do not know their operation.
    static void NoteProgressOfCurrent(double progress);
    static void NoteStatusOfCurrent(const char* text);
    static void NoteFailureOfCurrent();

    // Places in line are counted among the live operations still queued, in
    // the order of submission, as the pool takes them.
    struct Views
    {
      std::vector<OperationView> live;      // in the order of submission
      std::vector<OperationView> finished;  // oldest first
      std::uint64_t endedTotal[4] = {};     // ended since Enable, by OperationState, failed ones aside
      std::uint64_t failedTotal = 0;        // Finished since Enable after telling Error
    };
    Views Read() const;

  private:
    OperationRegistry() = default;
    // The number of object, given at its first tracked operation and kept
    // while any record of it is kept (counted here); m_lock held.
    int NumberOf(const void* object);
    // Forgets one record of object; m_lock held.
    void ReleaseNumber(const void* object);

    static std::atomic<bool> s_enabled;  // set once by Enable

    struct ObjectNumber
    {
      int number = 0;   // shown to operators
      int records = 0;  // records of the object kept
    };

    mutable std::mutex m_lock;                                      // taken alone
    std::map<std::uint64_t, std::shared_ptr<OperationRecord>> m_live;  // guarded by m_lock; by sequence
    std::deque<std::shared_ptr<OperationRecord>> m_finished;        // guarded by m_lock; oldest first
    std::size_t m_finishedKept = 200;                               // guarded by m_lock
    std::uint64_t m_nextSequence = 0;                               // guarded by m_lock
    std::uint64_t m_endedTotal[4] = {};                             // guarded by m_lock
    std::uint64_t m_failedTotal = 0;                                // guarded by m_lock
    std::map<const void*, ObjectNumber> m_numbers;                  // guarded by m_lock; by address
    int m_nextNumber = 1;                                           // guarded by m_lock
  };
}

#endif
