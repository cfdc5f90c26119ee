#include "KroServer/Dispatchable.h"

namespace Krovane
{
  Dispatchable::Dispatchable() : m_threadId(0) {}
  Dispatchable::~Dispatchable() {}
  void Dispatchable::Dispatch() {}
  void Dispatchable::ReportQueuePosition(int) {}

  int Dispatchable::operator==(const Dispatchable& other) const
  {
    return (this == &other || m_threadId.load() == other.m_threadId.load()) ? 1 : 0;
  }

  unsigned long Dispatchable::GetThreadId() const { return m_threadId; }
  void Dispatchable::SetThreadId(unsigned long threadId) { m_threadId = threadId; }
}
