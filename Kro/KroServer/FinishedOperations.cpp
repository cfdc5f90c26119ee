#include "KroServer/FinishedOperations.h"

#include "KroServer/AsynchronousOperation.h"

#include <atomic>

namespace Krovane
{
  namespace
  {
    std::atomic<std::size_t> s_keptPerObject{1000};
  }

  void FinishedOperations::SetKeptPerObject(std::size_t n)
  {
    if (n > 0)
      s_keptPerObject.store(n);
  }

  std::size_t FinishedOperations::KeptPerObject() { return s_keptPerObject.load(); }

  FinishedOperations::FinishedOperations() : m_bound(s_keptPerObject.load()) {}

  FinishedOperations::~FinishedOperations()
  {
    for (auto& kept : m_byId)
      delete kept.second;
  }

  void FinishedOperations::Add(AsynchronousOperation* operation)
  {
    if (!m_byId.emplace(operation->GetId(), operation).second)
      return;
    m_order.push_back(operation->GetId());
    ForgetOldest();
  }

  AsynchronousOperation* FinishedOperations::Find(int id) const
  {
    auto kept = m_byId.find(id);
    return kept == m_byId.end() ? nullptr : kept->second;
  }

  bool FinishedOperations::Holds(const AsynchronousOperation* operation) const
  {
    return Find(operation->GetId()) == operation;
  }

  void FinishedOperations::ForgetOldest()
  {
    while (m_byId.size() > m_bound && !m_order.empty())
    {
      auto oldest = m_byId.find(m_order.front());
      // Still running or queued: its dispatch ends later; tried again then.
      if (oldest->second->HoldsRouter())
        return;
      delete oldest->second;
      m_byId.erase(oldest);
      m_order.pop_front();
    }
  }
}
