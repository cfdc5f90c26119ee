#include "KroServer/ServerStop.h"

#include "Krovane.hh"
#include "KroServer/ServerObjectTable.h"
#include "KroServer/SyncServerImpl.h"

#include <ace/Log_Msg.h>

namespace Krovane
{
  namespace
  {
    // After the cancellation: how long the cancelled operations' dispatches
    // and their clients' raises may take before the ORB goes regardless.
    const std::chrono::milliseconds kCancelGrace(900);
  }

  const char* const ServerStop::kReason = "server is stopping";
  const char* const ServerStop::kStatus = "server stopping";

  ServerStop& ServerStop::Instance()
  {
    // Never destroyed: pool threads may note their ends while the process exits.
    static ServerStop* const instance = new ServerStop;
    return *instance;
  }

  void ServerStop::SetDrainTime(std::chrono::seconds drain)
  {
    m_drainSeconds.store(drain.count() > 0 ? static_cast<long>(drain.count()) : 0);
  }

  std::chrono::seconds ServerStop::DrainTime() const { return std::chrono::seconds(m_drainSeconds.load()); }

  bool ServerStop::Begin()
  {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_stopping.exchange(true))
      return false;
    m_begun = std::chrono::steady_clock::now();
    return true;
  }

  void ServerStop::RefuseIfStopping() const
  {
    if (m_stopping.load())
      throw Krovane::Unavailable(kReason);
  }

  ServerStop::Outcome ServerStop::Run()
  {
    Outcome outcome;
    if (m_ran.exchange(true))
      return outcome;
    Begin();
    std::chrono::steady_clock::time_point begun;
    {
      std::lock_guard<std::mutex> guard(m_lock);
      begun = m_begun;
    }
    const int active = CountActive();
    ServerObjectTable* table = ServerObjectTable::Existing();
    if (active > 0)
      ACE_DEBUG((LM_NOTICE, ACE_TEXT("(%P|%t) stopping: %d operations may run %d s more\n"), active,
                 static_cast<int>(DrainTime().count())));
    const int left = WaitForQuiet(begun + DrainTime());
    if (left > 0 && table)
      table->ForEachServer([&outcome](SyncServerImpl& server) { outcome.cancelled += server.CancelForStop(); });
    outcome.drained = active > outcome.cancelled ? active - outcome.cancelled : 0;
    const std::chrono::steady_clock::time_point graceEnd = std::chrono::steady_clock::now() + kCancelGrace;
    if (outcome.cancelled > 0)
    {
      WaitForQuiet(graceEnd);
      WaitForNotices(graceEnd);
    }
    outcome.took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begun);
    if (active > 0)
      ACE_DEBUG((LM_NOTICE, ACE_TEXT("(%P|%t) stopped: %d operations ended by themselves, %d cancelled, "
                                     "in %d ms\n"), outcome.drained, outcome.cancelled,
                 static_cast<int>(outcome.took.count())));
    return outcome;
  }

  int ServerStop::CountActive()
  {
    ServerObjectTable* table = ServerObjectTable::Existing();
    int active = 0;
    if (table)
      table->ForEachServer([&active](SyncServerImpl& server) { active += server.NumAsynchronousOperations(); });
    return active;
  }

  int ServerStop::WaitForQuiet(std::chrono::steady_clock::time_point deadline)
  {
    // Bounded: each pass waits for a change or the deadline.
    for (;;)
    {
      unsigned long seen = 0;
      {
        std::lock_guard<std::mutex> guard(m_lock);
        seen = m_generation;
      }
      const int active = CountActive();
      std::unique_lock<std::mutex> guard(m_lock);
      if (active == 0 && m_dispatches == 0)
        return 0;
      // An operation that ended between the count and this lock moved the generation on.
      if (!m_changed.wait_until(guard, deadline, [&] { return m_generation != seen; }))
        return active > 0 ? active : m_dispatches;
    }
  }

  void ServerStop::WaitForNotices(std::chrono::steady_clock::time_point deadline)
  {
    std::unique_lock<std::mutex> guard(m_lock);
    m_changed.wait_until(guard, deadline, [this] { return m_noticesUnraised <= 0; });
  }

  void ServerStop::Changed()
  {
    {
      std::lock_guard<std::mutex> guard(m_lock);
      ++m_generation;
    }
    m_changed.notify_all();
  }

  void ServerStop::NoteDispatchBegan()
  {
    std::lock_guard<std::mutex> guard(m_lock);
    ++m_dispatches;
  }

  void ServerStop::NoteDispatchEnded()
  {
    {
      std::lock_guard<std::mutex> guard(m_lock);
      --m_dispatches;
      ++m_generation;
    }
    m_changed.notify_all();
  }

  void ServerStop::NoteOperationEnded() { Changed(); }

  void ServerStop::NoteNoticeSent()
  {
    std::lock_guard<std::mutex> guard(m_lock);
    ++m_noticesUnraised;
  }

  void ServerStop::NoteNoticeRaised()
  {
    {
      std::lock_guard<std::mutex> guard(m_lock);
      --m_noticesUnraised;
    }
    m_changed.notify_all();
  }
}
