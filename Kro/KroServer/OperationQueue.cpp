#include "KroServer/OperationQueue.h"

#include <ace/Log_Msg.h>

#include <memory>

namespace Krovane
{
  OperationQueue::OperationQueue() {}

  OperationQueue::~OperationQueue()
  {
    for (OperationQueueEntry* entry : *this)
      delete entry;
  }

  void OperationQueue::Enqueue(Dispatchable* work)
  {
    if (!work)
      return;
    std::unique_ptr<OperationQueueEntry> entry(new OperationQueueEntry(work));
    push_back(entry.get());
    entry.release();
  }

  void OperationQueue::EnqueueFront(Dispatchable* work)
  {
    if (!work)
      return;
    std::unique_ptr<OperationQueueEntry> entry(new OperationQueueEntry(work));
    push_front(entry.get());
    entry.release();
  }

  int OperationQueue::IsEmpty() { return empty() ? 1 : 0; }

  Dispatchable* OperationQueue::Dequeue(std::chrono::steady_clock::time_point* enqueuedAt)
  {
    if (empty())
      return nullptr;
    std::unique_ptr<OperationQueueEntry> entry(front());
    pop_front();
    if (enqueuedAt)
      *enqueuedAt = entry->m_enqueuedAt;
    return entry->m_item;
  }

  Dispatchable* OperationQueue::Extract(Dispatchable* work)
  {
    if (!work)
      return nullptr;
    for (iterator it = begin(); it != end(); ++it)
    {
      if ((*it)->m_item == work)
      {
        delete *it;
        erase(it);
        return work;
      }
    }
    return nullptr;
  }

  void OperationQueue::ReportPositions()
  {
    int32_t position = 1;
    for (OperationQueueEntry* entry : *this)
    {
      if (entry->m_position != position)
      {
        entry->m_position = position;
        // A report ends in a client's callback; one that fails must neither
        // keep the items behind it from being told nor reach the pool thread
        // that reports, which holds a dequeued item of its own.
        try
        {
          entry->Report();
        }
        catch (...)
        {
          ACE_DEBUG((LM_WARNING, ACE_TEXT("(%P|%t) ********OperationQueue::ReportPositions Unknown exception reporting a queue position.\n")));
        }
      }
      ++position;
    }
  }

  void OperationQueue::CollectChangedPlaces(std::vector<QueuePlace>& changed)
  {
    changed.clear();
    int32_t position = 1;
    for (OperationQueueEntry* entry : *this)
    {
      if (entry->m_position != position)
      {
        entry->m_position = position;
        changed.push_back(QueuePlace{entry->m_item, position});
      }
      ++position;
    }
  }
}
