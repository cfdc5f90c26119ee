#include "OrbLayer/ServerRequestInfo.h"
#include "OrbLayer/InterceptorRegistry.h"
#include "OrbLayer/OrbInternals.h"

namespace PortableInterceptor
{
  namespace
  {
    PortableServer::Current_ptr Current()
    {
      PortableServer::Current_ptr current = KroOrb::InterceptorRegistry::Instance().PoaCurrent();
      if (CORBA::is_nil(current))
        throw CORBA::BAD_INV_ORDER(0, CORBA::COMPLETED_NO);
      return current;
    }
  }

  ServerRequestInfo::ServerRequestInfo(const char* operation, omniServant* servant)
    : m_operation(operation ? operation : ""), m_servant(servant), m_exception(nullptr)
  {
  }

  char* ServerRequestInfo::operation() const { return CORBA::string_dup(m_operation); }

  PortableServer::POA_ptr ServerRequestInfo::target_poa() const { return Current()->get_POA(); }

  PortableServer::ObjectId* ServerRequestInfo::object_id() const { return Current()->get_object_id(); }

  CORBA::Object_ptr ServerRequestInfo::target() const { return Current()->get_reference(); }

  PortableServer::Servant ServerRequestInfo::servant() const { return Current()->get_servant(); }

  omniServant* ServerRequestInfo::orb_servant() const { return KroOrb::OrbInternals::UpcallServant(m_servant); }

  bool ServerRequestInfo::servant_active(PortableServer::Servant servant) const
  {
    if (!servant)
      return false;
    if (KroOrb::OrbInternals::Checked())
      return KroOrb::OrbInternals::HasActivation(servant);
    try
    {
      const PortableServer::POA_var poa = target_poa();
      const PortableServer::ObjectId_var id = object_id();
      const PortableServer::ServantBase_var active = poa->id_to_servant(id.in());
      return active.in() == servant;
    }
    catch (const PortableServer::POA::ObjectNotActive&)
    {
      return false;
    }
  }

  PortableServer::Servant ServerRequestInfo::upcall_servant() const
  {
    return dynamic_cast<PortableServer::ServantBase*>(m_servant);
  }
}
