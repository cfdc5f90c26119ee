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

#include "KroServer/OperationRecord.h"
#include "KroServer/OperationWatcher.h"

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
  class OperationRegistry : public OperationWatcher
  {
  public:
    static OperationRegistry& Instance();

    // Switches tracking on for operations constructed from now on (the
    // registry becomes the operations' watcher), keeping the last
    // finishedKept ended ones (at least 1). Later calls change only the
    // count kept.
    void Enable(std::size_t finishedKept = 200);
    static bool Enabled() { return s_enabled.load(std::memory_order_relaxed); }

    // A record for operation id of the object at objectKey, working for
    // user; null while the registry is off. Called by the operation's constructor.
    std::shared_ptr<OperationRecord> Track(const void* objectKey, const std::string& user, int id,
                                           const std::string& name) override;
    // The record leaves the live set for the ring of ended ones (once).
    void Ended(const std::shared_ptr<OperationRecord>& record) override;

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
