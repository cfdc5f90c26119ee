#include "BareFactoryServant.h"

#include "BareJobsServant.h"

namespace KroBench
{
  BareFactoryServant::BareFactoryServant(PortableServer::POA_ptr poa, BareWorkerPool& pool)
    : m_poa(PortableServer::POA::_duplicate(poa)), m_pool(pool)
  {
  }

  BareBench::Jobs_ptr BareFactoryServant::CreateJobs()
  {
    PortableServer::ServantBase_var servant = new BareJobsServant(m_pool);
    PortableServer::ObjectId_var id = m_poa->activate_object(servant.in());
    CORBA::Object_var object = m_poa->id_to_reference(id.in());
    return BareBench::Jobs::_narrow(object.in());
  }
}
