#include "WorkRequests.h"

#include "KroKit/ActiveServant.h"

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
    KroKit::ActiveRelay<Krovane::AsynchronousHandler> relay(poa, new Krovane::AsynchronousHandler(client));
    request->relay = Krovane::IAsyncHandler::_duplicate(relay.Reference());
    request->relayId = new PortableServer::ObjectId(relay.Id());

    std::lock_guard<std::mutex> guard(m_lock);
    m_requests.push_back(std::move(request));
    relay.Keep();  // from here on Forget or RetireAll deactivates it
    return *m_requests.back();
  }

  WorkRequests::Pending::Pending(WorkRequests& requests, PortableServer::POA_ptr poa, int steps,
                                 Krovane::IAsyncHandler_ptr client)
    : m_requests(requests), m_poa(PortableServer::POA::_duplicate(poa)), m_request(&requests.Add(poa, steps, client))
  {
  }

  WorkRequests::Pending::~Pending()
  {
    if (!m_kept)
      m_requests.Forget(m_poa.in(), *m_request);
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
