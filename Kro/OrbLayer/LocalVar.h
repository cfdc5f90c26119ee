// A holder for one reference to a reference-counted local object
// (interceptors, ORB initializers), released on destruction like a _var.
#ifndef KRO_ORBLAYER_LOCALVAR_H
#define KRO_ORBLAYER_LOCALVAR_H

namespace KroOrb
{
  template <typename T>
  class LocalVar
  {
  public:
    LocalVar() : m_ptr(nullptr) {}
    // Adopts the caller's reference, as assigning a _ptr to a _var does.
    LocalVar(T* adopted) : m_ptr(adopted) {}
    LocalVar(const LocalVar& other) : m_ptr(Duplicate(other.m_ptr)) {}
    ~LocalVar() { Release(); }

    LocalVar& operator=(T* adopted)
    {
      if (adopted != m_ptr) { Release(); m_ptr = adopted; }
      return *this;
    }
    LocalVar& operator=(const LocalVar& other)
    {
      if (this != &other) { T* copy = Duplicate(other.m_ptr); Release(); m_ptr = copy; }
      return *this;
    }

    T* in() const { return m_ptr; }
    T* operator->() const { return m_ptr; }
    bool is_nil() const { return m_ptr == nullptr; }
    // Gives the reference to the caller.
    T* _retn() { T* p = m_ptr; m_ptr = nullptr; return p; }

    // A new reference to p (nil stays nil).
    static T* Duplicate(T* p) { if (p) p->_add_ref(); return p; }

  private:
    void Release() { if (m_ptr) m_ptr->_remove_ref(); m_ptr = nullptr; }

    T* m_ptr;  // the held reference, or null
  };
}

#endif
