#include "ForwardingHandler.h"

#include "KroServer/UnguessableObjectIds.h"
#include "OrbLayer/PrintException.h"

namespace KroTiers
{
  ForwardingHandler::ForwardingHandler(Krovane::IAsyncHandler_ptr client)
    : m_client(Krovane::IAsyncHandler::_duplicate(client))
  {
  }

  bool ForwardingHandler::WaitForFinished(std::chrono::milliseconds timeout)
  {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_finishedChanged.wait_for(guard, timeout, [this] { return m_finished; });
  }

  bool ForwardingHandler::ResultsForwarded()
  {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_resultsForwarded;
  }

  void ForwardingHandler::Queued(CORBA::Long) {}

  void ForwardingHandler::Status(const char* text)
  {
    if (!CORBA::is_nil(m_client.in()))
      m_client->Status(text);
  }

  void ForwardingHandler::Progress(CORBA::Double progress)
  {
    if (!CORBA::is_nil(m_client.in()))
      m_client->Progress(progress);
  }

  void ForwardingHandler::Results(const CORBA::Any& data)
  {
    if (CORBA::is_nil(m_client.in()))
      return;
    m_client->Results(data);
    std::lock_guard<std::mutex> guard(m_lock);
    m_resultsForwarded = true;
  }

  void ForwardingHandler::Finished(const CORBA::Any&)
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_finished = true;
    m_finishedChanged.notify_all();
  }

  void ForwardingHandler::Error(Krovane::IAsyncExceptionHolder_ptr holder)
  {
    // The holder stays in the back end: the client raises it there.
    if (!CORBA::is_nil(m_client.in()))
      m_client->Error(holder);
  }

  ActiveForwarder::ActiveForwarder(PortableServer::POA_ptr poa, Krovane::IAsyncHandler_ptr client)
    : m_poa(PortableServer::POA::_duplicate(poa)), m_servant(new ForwardingHandler(client)), m_ownership(m_servant)
  {
    m_id = Krovane::UnguessableObjectIds::Activate(m_poa.in(), m_servant);
    CORBA::Object_var object = m_poa->id_to_reference(m_id.in());
    m_reference = Krovane::IAsyncHandler::_narrow(object.in());
  }

  ActiveForwarder::~ActiveForwarder()
  {
    try
    {
      m_poa->deactivate_object(m_id.in());
    }
    catch (const CORBA::Exception& ex)
    {
      KroOrb::PrintException(ex, "ActiveForwarder: deactivating the forwarder");
    }
  }
}
