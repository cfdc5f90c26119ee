// OperationRecord: what operators see of one operation, written by the
// operation as its state, progress and status change, and read by any
// thread (View). OperationView is a copy of it.
//
// Ownership and threads: shared between the operation and its watcher
// (OperationWatcher); every member is atomic or guarded, so writers and
// readers need no other lock. Depends on nothing above the records.
#ifndef KROSERVER_OPERATIONRECORD_H
#define KROSERVER_OPERATIONRECORD_H

#include "Krovane.hh"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace Krovane
{
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

}

#endif
