// OperationQueue: the FIFO of work waiting in a buffered threading policy.
// The front is the next item to run; an item may stand in it more than once.
//
// The queue owns its entries and never the work items. It does no locking:
// every caller holds the lock of the policy that owns the queue.
#ifndef KROSERVER_OPERATIONQUEUE_H
#define KROSERVER_OPERATIONQUEUE_H

#include "KroServer/OperationQueueEntry.h"

#include <chrono>
#include <cstddef>
#include <list>
#include <vector>

namespace Krovane
{
  class Dispatchable;

  // A waiting item's new place in line (1 = next).
  struct QueuePlace
  {
    Dispatchable* item;
    int place;
  };

  class OperationQueue : public std::list<OperationQueueEntry*>
  {
  public:
    OperationQueue();
    // The entries are owned: a copy would free them twice.
    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;
    // Frees every entry; the work items are untouched.
    virtual ~OperationQueue();

    // Appends a new entry for work (a null work is ignored).
    void Enqueue(Dispatchable* work);
    // Puts a new entry for work at the front (a null work is ignored).
    void EnqueueFront(Dispatchable* work);
    // Nonzero when no entry waits.
    int IsEmpty();
    // Takes the front entry out and returns its item; null when empty.
    // enqueuedAt, when given, becomes the time the entry was queued.
    Dispatchable* Dequeue(std::chrono::steady_clock::time_point* enqueuedAt = nullptr);
    // Takes out the front-most of the first bound entries whose item takes
    // returns true for, else the front one when orFront, and returns its item;
    // null when none is taken.
    template <typename Predicate>
    Dispatchable* DequeueFirst(const Predicate& takes, std::size_t bound, bool orFront,
                               std::chrono::steady_clock::time_point* enqueuedAt = nullptr)
    {
      std::size_t looked = 0;
      for (iterator it = begin(); it != end() && looked < bound; ++it, ++looked)
        if (takes((*it)->m_item))
        {
          if (it != begin())
            splice(begin(), *this, it);
          return Dequeue(enqueuedAt);
        }
      return orFront ? Dequeue(enqueuedAt) : nullptr;
    }
    // Takes out the front-most entry of work and returns work; null when
    // work is null or not queued.
    Dispatchable* Extract(Dispatchable* work);
    // Tells each waiting item its place (1 = next) when it has changed since
    // it was last told. An item whose report fails is skipped; the others
    // are still told.
    void ReportPositions();
    // Notes each place that has changed since it was last noted, as
    // ReportPositions does, and hands the changes over in changed (cleared
    // first) instead of telling the items.
    void CollectChangedPlaces(std::vector<QueuePlace>& changed);
  };
}

#endif
