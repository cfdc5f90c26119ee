// FinishedOperations: the ended operations of one server object, kept for
// GetOperationState and RegisterNewHandler, found by id in constant time.
//
// At most a bound of them is kept (SetKeptPerObject; 1000 unless set): past
// it the oldest is deleted, once its pool thread has let go of it (an
// operation cancelled while it runs is kept until its dispatch has ended).
// A query for an id no longer kept is answered as for an unknown id.
//
// Ownership: owns the operations added, deleting those it forgets and the
// rest with itself. Threads: no locking; the server object's m_asyncLock
// guards every call.
#ifndef KROSERVER_FINISHEDOPERATIONS_H
#define KROSERVER_FINISHEDOPERATIONS_H

#include <cstddef>
#include <deque>
#include <unordered_map>

namespace Krovane
{
  class AsynchronousOperation;

  class FinishedOperations
  {
  public:
    // Ended operations kept per object (n > 0). For objects made from now on.
    static void SetKeptPerObject(std::size_t n);
    static std::size_t KeptPerObject();

    FinishedOperations();
    ~FinishedOperations();
    FinishedOperations(const FinishedOperations&) = delete;
    FinishedOperations& operator=(const FinishedOperations&) = delete;

    // Takes operation over (once; a second add of the same one does nothing)
    // and forgets the oldest beyond the bound.
    void Add(AsynchronousOperation* operation);
    // The kept operation with that id, else null.
    AsynchronousOperation* Find(int id) const;
    // Whether operation is kept here.
    bool Holds(const AsynchronousOperation* operation) const;
    std::size_t Size() const { return m_byId.size(); }
    // Gives every operation up to the caller (for a deletion that also
    // covers the active ones), leaving this empty.
    template <typename Take>
    void Release(const Take& take)
    {
      for (auto& kept : m_byId)
        take(kept.second);
      m_byId.clear();
      m_order.clear();
    }

  private:
    // Deletes the oldest while more than the bound are kept and the oldest
    // is no longer in a pool thread's hands.
    void ForgetOldest();

    const std::size_t m_bound;                                // kept at most (beyond: see ForgetOldest)
    std::unordered_map<int, AsynchronousOperation*> m_byId;  // owned
    std::deque<int> m_order;                                 // ids of m_byId, oldest first
  };
}

#endif
