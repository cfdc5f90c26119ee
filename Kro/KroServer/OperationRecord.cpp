#include "KroServer/OperationRecord.h"

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
  }

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
}
