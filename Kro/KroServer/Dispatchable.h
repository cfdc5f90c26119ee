// Dispatchable: the most general unit of work, what a threading policy runs.
#ifndef KROSERVER_DISPATCHABLE_H
#define KROSERVER_DISPATCHABLE_H

#include <atomic>

namespace Krovane
{
  class Dispatchable
  {
  public:
    Dispatchable();
    Dispatchable(const Dispatchable&) = delete;
    Dispatchable& operator=(const Dispatchable&) = delete;
    virtual ~Dispatchable();

    // The work; nothing here.
    virtual void Dispatch();
    // Told the item's place in a waiting queue (1 = next); nothing here.
    virtual void ReportQueuePosition(int position);
    // 1 when other is this object or runs on the same thread id (two items
    // never dispatched, both 0, compare equal); else 0.
    virtual int operator==(const Dispatchable& other) const;

    // The thread that runs the work; 0 until set. Set by the running thread
    // while cancellers may read it, hence atomic.
    unsigned long GetThreadId() const;
    void SetThreadId(unsigned long threadId);

  protected:
    std::atomic<unsigned long> m_threadId;  // the running thread's id, or 0
  };
}

#endif
