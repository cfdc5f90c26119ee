#include "OrbLayer/LocalRefCountedObject.h"

namespace KroOrb
{
  LocalRefCountedObject::LocalRefCountedObject() : m_refCount(1) {}
  LocalRefCountedObject::~LocalRefCountedObject() {}

  void LocalRefCountedObject::_add_ref() { m_refCount.fetch_add(1); }

  void LocalRefCountedObject::_remove_ref()
  {
    if (m_refCount.fetch_sub(1) == 1)
      delete this;
  }

  unsigned long LocalRefCountedObject::_refcount_value() const { return m_refCount.load(); }
}
