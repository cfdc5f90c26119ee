// Interceptor: the base of request interceptors; reference counted.
#ifndef KRO_ORBLAYER_INTERCEPTOR_H
#define KRO_ORBLAYER_INTERCEPTOR_H

#include "OrbLayer/LocalRefCountedObject.h"

namespace PortableInterceptor
{
  class Interceptor : public virtual KroOrb::LocalRefCountedObject
  {
  public:
    // The interceptor's name; the caller frees it (CORBA::string_free).
    virtual char* name() = 0;
    // Called when the ORB is destroyed.
    virtual void destroy() = 0;

  protected:
    ~Interceptor() override;
  };
}

#endif
