#include "KroServer/OperationRegistry.h"

#include "KroServer/OpnType.h"
#include "KroServer/SyncServerImpl.h"
#include "KroServer/SynchronousOperation.h"

#include <chrono>

namespace Krovane
{
  namespace
  {
    std::int64_t NowMs()
    {
      return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
    }

    bool IsEnd(OperationState state) { return state == Finished || state == Cancelled; }

    // The operation the calling thread runs, or null.
    Operation* CurrentOperation()
    {
      OpnType* current = threadLocalOperation.ts_object();  // never creates the thread's record
      return current ? current->m_operation : nullptr;
    }
  }

  std::atomic<bool> OperationRegistry::s_enabled(false);

  OperationRecord::OperationRecord(std::uint64_t sequence, const void* objectKey, int object,
                                   std::string user, int id, std::string name)
    : m_sequence(sequence),
      m_objectKey(objectKey),
      m_object(object),
      m_user(std::move(user)),
      m_id(id),
      m_name(std::move(name)),
      m_submittedMs(NowMs()),
      m_state(Queued),
      m_progress(0),
      m_startedMs(0),
      m_endedMs(0),
      m_ended(false)
  {
  }

  void OperationRecord::NoteState(OperationState state)
  {
    m_state.store(state, std::memory_order_relaxed);
    if (state == Running)
      m_startedMs.store(NowMs(), std::memory_order_relaxed);
    else if (IsEnd(state))
    {
      std::int64_t never = 0;
      m_endedMs.compare_exchange_strong(never, NowMs(), std::memory_order_relaxed);
    }
  }

  void OperationRecord::NoteProgress(double progress)
  {
    m_progress.store(progress, std::memory_order_relaxed);
  }

  void OperationRecord::NoteStatus(const char* text)
  {
    std::lock_guard<std::mutex> guard(m_statusLock);
    m_status.assign(text ? text : "");
  }

  void OperationRecord::NoteFailed()
  {
    m_failed.store(true, std::memory_order_relaxed);
  }

  OperationView OperationRecord::View() const
  {
    OperationView view;
    view.object = m_object;
    view.user = m_user;
    view.id = m_id;
    view.name = m_name;
    view.state = m_state.load(std::memory_order_relaxed);
    view.progress = m_progress.load(std::memory_order_relaxed);
    {
      std::lock_guard<std::mutex> guard(m_statusLock);
      view.status = m_status;
    }
    view.submittedMs = m_submittedMs;
    view.startedMs = m_startedMs.load(std::memory_order_relaxed);
    view.endedMs = m_endedMs.load(std::memory_order_relaxed);
    view.failed = Failed();
    return view;
  }

  OperationRegistry& OperationRegistry::Instance()
  {
    static OperationRegistry registry;  // never destroyed before the operations it tracks
    return registry;
  }

  void OperationRegistry::Enable(std::size_t finishedKept)
  {
    {
      std::lock_guard<std::mutex> guard(m_lock);
      m_finishedKept = finishedKept > 0 ? finishedKept : 1;
    }
    s_enabled.store(true, std::memory_order_relaxed);
  }

  std::shared_ptr<OperationRecord> OperationRegistry::Track(SyncServerImpl* object, int id,
                                                            const std::string& name)
  {
    if (!Enabled())
      return nullptr;
    std::string user = object ? object->UserName() : std::string();
    std::lock_guard<std::mutex> guard(m_lock);
    const std::uint64_t sequence = m_nextSequence++;
    auto record = std::make_shared<OperationRecord>(sequence, object, NumberOf(object), std::move(user),
                                                    id, name);
    m_live.emplace(sequence, record);
    return record;
  }

  void OperationRegistry::Ended(const std::shared_ptr<OperationRecord>& record)
  {
    if (!record || !record->MarkEnded())
      return;
    const OperationState state = record->State();
    std::lock_guard<std::mutex> guard(m_lock);
    m_live.erase(record->m_sequence);
    if (state == Finished && record->Failed())
      ++m_failedTotal;
    else if (state >= 0 && state < 4)
      ++m_endedTotal[state];
    m_finished.push_back(record);
    while (m_finished.size() > m_finishedKept)
    {
      ReleaseNumber(m_finished.front()->m_objectKey);
      m_finished.pop_front();
    }
  }

  int OperationRegistry::NumberOf(const void* object)
  {
    ObjectNumber& entry = m_numbers[object];
    if (entry.records++ == 0)
      entry.number = m_nextNumber++;
    return entry.number;
  }

  void OperationRegistry::ReleaseNumber(const void* object)
  {
    auto found = m_numbers.find(object);
    if (found != m_numbers.end() && --found->second.records == 0)
      m_numbers.erase(found);
  }

  void OperationRegistry::NoteProgressOfCurrent(double progress)
  {
    if (!Enabled())
      return;
    if (Operation* operation = CurrentOperation())
      operation->NoteProgress(progress);
  }

  void OperationRegistry::NoteStatusOfCurrent(const char* text)
  {
    if (!Enabled())
      return;
    if (Operation* operation = CurrentOperation())
      operation->NoteStatus(text);
  }

  void OperationRegistry::NoteFailureOfCurrent()
  {
    if (!Enabled())
      return;
    if (Operation* operation = CurrentOperation())
      operation->NoteFailed();
  }

  OperationRegistry::Views OperationRegistry::Read() const
  {
    // The records are copied under the lock, their views made after it, so
    // that a scrape holds up tracking only for the copy.
    std::vector<std::shared_ptr<OperationRecord>> live;
    std::vector<std::shared_ptr<OperationRecord>> finished;
    Views views;
    {
      std::lock_guard<std::mutex> guard(m_lock);
      live.reserve(m_live.size());
      for (const auto& entry : m_live)
        live.push_back(entry.second);
      finished.assign(m_finished.begin(), m_finished.end());
      for (int i = 0; i < 4; ++i)
        views.endedTotal[i] = m_endedTotal[i];
      views.failedTotal = m_failedTotal;
    }
    int waiting = 0;
    views.live.reserve(live.size());
    for (const auto& record : live)
    {
      views.live.push_back(record->View());
      if (views.live.back().state == Queued)
        views.live.back().place = ++waiting;
    }
    views.finished.reserve(finished.size());
    for (const auto& record : finished)
      views.finished.push_back(record->View());
    return views;
  }
}
