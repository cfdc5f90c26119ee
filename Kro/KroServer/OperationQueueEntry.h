// OperationQueueEntry: one standing of a work item in an OperationQueue,
// with the place in line it was last told.
//
// The entry does not own its item. It belongs to the queue that holds it and
// is used only under the lock of the policy that owns that queue.
#ifndef KROSERVER_OPERATIONQUEUEENTRY_H
#define KROSERVER_OPERATIONQUEUEENTRY_H

#include <chrono>
#include <cstdint>

namespace Krovane
{
  class Dispatchable;

  struct OperationQueueEntry
  {
    explicit OperationQueueEntry(Dispatchable* item)
      : m_item(item), m_position(-1), m_enqueuedAt(std::chrono::steady_clock::now())
    {
    }

    // Tells the item m_position (nothing when there is no item).
    void Report();

    Dispatchable* m_item;    // the waiting work item; not owned
    int32_t m_position;      // the place last told to the item; -1 until told
    std::chrono::steady_clock::time_point m_enqueuedAt;  // when the entry was made
  };
}

#endif
