// InterceptorInitializer: an ORB initializer that installs one request
// interceptor while the ORB is initialised (in post_init, through Add).
// It keeps its own reference to the interceptor. Register it with
// PortableInterceptor::register_orb_initializer before the ORB starts.
#ifndef KRO_ORBLAYER_INTERCEPTORINITIALIZER_H
#define KRO_ORBLAYER_INTERCEPTORINITIALIZER_H

#include "OrbLayer/LocalRefCountedObject.h"
#include "OrbLayer/LocalVar.h"
#include "OrbLayer/ORBInitInfo.h"
#include "OrbLayer/ORBInitializer.h"

namespace KroOrb
{
  template <typename Interceptor, void (PortableInterceptor::ORBInitInfo::*Add)(Interceptor*)>
  class InterceptorInitializer : public virtual PortableInterceptor::ORBInitializer,
                                 public virtual LocalRefCountedObject
  {
  public:
    explicit InterceptorInitializer(Interceptor* interceptor)
      : m_interceptor(LocalVar<Interceptor>::Duplicate(interceptor))
    {
    }

    void pre_init(PortableInterceptor::ORBInitInfo*) override {}
    void post_init(PortableInterceptor::ORBInitInfo* info) override { (info->*Add)(m_interceptor.in()); }

  protected:
    ~InterceptorInitializer() override {}

  private:
    LocalVar<Interceptor> m_interceptor;  // the one to install
  };
}

#endif
