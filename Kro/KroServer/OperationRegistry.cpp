#include "KroServer/OperationRegistry.h"

#include "KroServer/OpnType.h"
#include "KroServer/SynchronousOperation.h"

namespace Krovane
{
  namespace
  {
    // The operation the calling thread runs, or null.
    Operation* CurrentOperation()
    {
      OpnType* current = threadLocalOperation.ts_object();  // never creates the thread's record
      return current ? current->m_operation : nullptr;
    }
  }

  std::atomic<bool> OperationRegistry::s_enabled(false);

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
    OperationWatcher::Install(this);
    s_enabled.store(true, std::memory_order_relaxed);
  }

  std::shared_ptr<OperationRecord> OperationRegistry::Track(const void* objectKey, const std::string& user,
                                                            int id, const std::string& name)
  {
    if (!Enabled())
      return nullptr;
    std::lock_guard<std::mutex> guard(m_lock);
    const std::uint64_t sequence = m_nextSequence++;
    auto record = std::make_shared<OperationRecord>(sequence, objectKey, NumberOf(objectKey), user, id, name);
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
