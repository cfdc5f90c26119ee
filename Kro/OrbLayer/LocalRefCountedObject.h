// LocalRefCountedObject: the base of local CORBA objects (interceptors, ORB
// initializers) whose life follows their reference count: 1 at creation,
// _add_ref adds one, _remove_ref takes one and deletes the object at 0.
// (omniORB's own CORBA::LocalObject counts nothing.) Any thread.
#ifndef KRO_ORBLAYER_LOCALREFCOUNTEDOBJECT_H
#define KRO_ORBLAYER_LOCALREFCOUNTEDOBJECT_H

#include <omniORB4/CORBA.h>

#include <atomic>

namespace KroOrb
{
  class LocalRefCountedObject : public virtual CORBA::LocalObject
  {
  public:
    void _add_ref() override;
    void _remove_ref() override;
    // The current count, for diagnostics and tests.
    unsigned long _refcount_value() const;

  protected:
    LocalRefCountedObject();
    ~LocalRefCountedObject() override;

  private:
    std::atomic<unsigned long> m_refCount;  // references held
  };
}

#endif
