#include "WorkRequests.h"

#include "KroServer/AsynchronousHandler.h"
#include "KroServer/AsynchronousOperation.h"
#include "KroServer/OpnType.h"

#include <algorithm>

namespace KroTiers
{
  namespace
  {
    void Deactivate(PortableServer::POA_ptr poa, const PortableServer::ObjectId& id)
    {
      try
      {
        poa->deactivate_object(id);
      }
      catch (const CORBA::Exception&)
      {
        // not active any more (the operation's end retired it)
      }
    }
  }

  WorkRequests::Request& WorkRequests::Add(PortableServer::POA_ptr poa, int steps,
                                           Krovane::IAsyncHandler_ptr client)
  {
    std::unique_ptr<Request> request(new Request);
    request->parameters.push_back(Halvern_Utilities::Variant(steps));
    PortableServer::ServantBase_var relay = new Krovane::AsynchronousHandler(client);
    request->relayId = poa->activate_object(relay.in());
    CORBA::Object_var reference = poa->id_to_reference(request->relayId.in());
    request->relay = Krovane::IAsyncHandler::_narrow(reference.in());

    std::lock_guard<std::mutex> guard(m_lock);
    m_requests.push_back(std::move(request));
    return *m_requests.back();
  }

  void WorkRequests::Forget(PortableServer::POA_ptr poa, Request& request)
  {
    Deactivate(poa, request.relayId.in());
    std::lock_guard<std::mutex> guard(m_lock);
    m_requests.remove_if([&](const std::unique_ptr<Request>& kept) { return kept.get() == &request; });
  }

  void WorkRequests::RetireAll(PortableServer::POA_ptr poa)
  {
    std::list<std::unique_ptr<Request>> requests;
    {
      std::lock_guard<std::mutex> guard(m_lock);
      requests.swap(m_requests);
    }
    for (const std::unique_ptr<Request>& request : requests)
      Deactivate(poa, request->relayId.in());
  }

  int WorkRequests::Steps(const std::vector<Halvern_Utilities::Variant>* parameters)
  {
    if (!parameters || parameters->empty())
      return 0;
    return static_cast<int>(parameters->front().AsInteger());
  }

  Krovane::IAsyncHandler_ptr CurrentOperationHandler()
  {
    auto* operation = dynamic_cast<Krovane::AsynchronousOperation*>(Krovane::threadLocalOperation->m_operation);
    return operation ? operation->GetHandler() : Krovane::IAsyncHandler::_nil();
  }
}
