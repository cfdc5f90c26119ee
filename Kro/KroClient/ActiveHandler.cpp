#include "KroClient/ActiveHandler.h"

namespace KroClient
{
  ActiveHandler::ActiveHandler(PortableServer::POA_ptr poa, PortableServer::ServantBase* servant)
    : m_poa(PortableServer::POA::_duplicate(poa)), m_servant(servant)
  {
    m_id = m_poa->activate_object(servant);
    try
    {
      CORBA::Object_var object = m_poa->id_to_reference(m_id.in());
      m_reference = Krovane::IAsyncHandler::_narrow(object.in());
    }
    catch (...)
    {
      m_poa->deactivate_object(m_id.in());
      throw;
    }
  }

  ActiveHandler::~ActiveHandler()
  {
    try
    {
      m_poa->deactivate_object(m_id.in());
    }
    catch (const CORBA::Exception&)
    {
      // The ORB has gone first (its destruction deactivated every handler):
      // nothing is left to do.
    }
  }

  Krovane::IAsyncHandler_ptr ActiveHandler::Reference() const { return m_reference.in(); }
}
