#include "KroServer/OperationQueueReporter.h"

#include "KroServer/Dispatchable.h"
#include "KroServer/Operation.h"

#include <ace/Log_Msg.h>

#include <system_error>

namespace Krovane
{
  OperationQueueReporter::OperationQueueReporter() : m_telling(nullptr), m_ending(false) {}

  OperationQueueReporter::~OperationQueueReporter()
  {
    {
      std::lock_guard<std::mutex> guard(m_lock);
      m_ending = true;
      m_posted.notify_all();
    }
    if (m_thread.joinable())
      m_thread.join();
  }

  void OperationQueueReporter::Post(const std::vector<QueuePlace>& places)
  {
    if (places.empty())
      return;
    std::lock_guard<std::mutex> guard(m_lock);
    for (const QueuePlace& place : places)
    {
      // An item already waiting for its turn keeps it, with the new place.
      if (m_latest.insert_or_assign(place.item, place.place).second)
        m_turns.push_back(place.item);
    }
    StartUnlessRunning();
    // Only a reporter that waits for places needs waking: one that is
    // telling or pacing comes back for them by itself (a wake-up per move of
    // the queue costs a context switch each).
    if (m_awaitingPosts)
      m_posted.notify_one();
  }

  void OperationQueueReporter::Drop(Dispatchable* item)
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_latest.erase(item);
  }

  void OperationQueueReporter::AwaitIdle(Dispatchable* item)
  {
    std::unique_lock<std::mutex> guard(m_lock);
    // Bounded by one report: the caller dropped the item, so it is not told again.
    m_told.wait(guard, [&] { return m_telling != item; });
  }

  void OperationQueueReporter::SetPace(std::chrono::milliseconds pace)
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_pace = pace < std::chrono::milliseconds(0) ? std::chrono::milliseconds(0) : pace;
  }

  void OperationQueueReporter::StartUnlessRunning()
  {
    if (m_thread.joinable())
      return;
    try
    {
      m_thread = std::thread([this] { Run(); });
    }
    catch (const std::system_error&)
    {
      ACE_ERROR((LM_ERROR, ACE_TEXT("(%P|%t) OperationQueueReporter: cannot start its thread; places wait for the next try\n")));
    }
  }

  void OperationQueueReporter::Run()
  {
    std::unique_lock<std::mutex> guard(m_lock);
    while (true)
    {
      m_awaitingPosts = true;
      m_posted.wait(guard, [this] { return m_ending || !m_turns.empty(); });
      m_awaitingPosts = false;
      if (m_ending)
        return;
      if (m_roundLeft == 0)
      {
        // A new round: not before the pace since the last one began. Places
        // posted meanwhile replace the unsent ones; the destructor cuts it short.
        if (m_pace.count() > 0)
        {
          const auto due = m_roundStart + m_pace;
          m_posted.wait_until(guard, due, [this, due] { return m_ending || std::chrono::steady_clock::now() >= due; });
          if (m_ending)
            return;
        }
        m_roundStart = std::chrono::steady_clock::now();
        m_roundLeft = m_turns.size();
      }
      --m_roundLeft;
      Dispatchable* item = m_turns.front();
      m_turns.pop_front();
      auto latest = m_latest.find(item);
      if (latest == m_latest.end())
        continue;  // dropped since it was posted
      const int place = latest->second;
      m_latest.erase(latest);
      m_telling = item;
      guard.unlock();
      Tell(item, place);
      guard.lock();
      m_telling = nullptr;
      m_told.notify_all();
    }
  }

  void OperationQueueReporter::Tell(Dispatchable* item, int place)
  {
    // A report ends in a client's callback: one that fails must not end
    // the reporter, which the other waiting items still need.
    try
    {
      // Cancelled while it waits (and not yet withdrawn): the client has
      // been told so, and a place after that would contradict it.
      if (Operation* operation = dynamic_cast<Operation*>(item))
        if (operation->GetState() != Queued)
          return;
      item->ReportQueuePosition(place);
    }
    catch (...)
    {
      ACE_DEBUG((LM_WARNING, ACE_TEXT("(%P|%t) ********OperationQueue::ReportPositions Unknown exception reporting a queue position.\n")));
    }
  }
}
