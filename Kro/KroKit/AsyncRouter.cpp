#include "KroKit/AsyncRouter.h"

#include "KroServer/AsyncOperationExceptionHolderImpl.h"
#include "KroServer/AsynchronousHandler.h"

#include <utility>

namespace KroKit
{
  namespace
  {
    const std::vector<Halvern_Utilities::Variant> kNoParameters;
  }

  OperationContext::OperationContext(Krovane::AsynchronousRouter& router,
                                     const Krovane::AsynchronousOperation& operation, const std::string& name)
    : m_router(router),
      m_operation(operation),
      m_id(operation.GetId()),
      m_name(name),
      m_parameters(operation.GetParameters() ? operation.GetParameters() : &kNoParameters),
      m_relay(operation.Relay())
  {
  }

  const Halvern_Utilities::Variant& OperationContext::Parameter(std::size_t index)
  {
    if (index >= m_parameters->size())
      Fail(m_name + " has no parameter " + std::to_string(index));
    return (*m_parameters)[index];
  }

  void OperationContext::Fail(const std::string& reason)
  {
    // The holder goes to the client, whose raise() then throws the typed
    // exception; the router retires it if the client never does.
    Krovane::IAsyncExceptionHolder_var holder =
      m_router.CreateKroExceptionHolder(new Krovane::AsyncOperationExceptionHolderImpl(reason));
    m_operation.RecordFailure(reason);
    m_relay.Error(holder.in());
    throw Krovane::AsyncOperationException(reason.c_str());
  }

  AsyncRouter::AsyncRouter(PortableServer::POA_ptr poa, Krovane::IAsyncServer_ptr served, int callbackTimeout,
                           int maxThreads)
    : Krovane::AsynchronousRouter(poa, served, maxThreads, 0), m_callbackTimeout(callbackTimeout)
  {
  }

  Krovane::AsynchronousHandler* AsyncRouter::MakeRelay(Krovane::IAsyncHandler_ptr handler)
  {
    return new Krovane::AsynchronousHandler(handler);
  }

  void AsyncRouter::Submitted(Krovane::AsynchronousHandler&, int) {}

  Krovane::AsynchronousHandler* AsyncRouter::BoundedRelay(Krovane::IAsyncHandler_ptr handler)
  {
    Krovane::AsynchronousHandler* relay = MakeRelay(handler);
    PortableServer::ServantBase_var ownership = relay;  // released should the bound fail
    if (m_callbackTimeout > 0)
      relay->setTimeout(m_callbackTimeout);
    ownership._retn();
    return relay;
  }

  Krovane::AsynchronousHandler* AsyncRouter::MakeRestoredRelay()
  {
    return BoundedRelay(Krovane::IAsyncHandler::_nil());
  }

  CORBA::Long AsyncRouter::Submit(const std::string& name, Krovane::IAsyncHandler_ptr handler,
                                  std::vector<Halvern_Utilities::Variant> parameters,
                                  Krovane::Restartable restartable)
  {
    // The operation talks to the relay, never to the client directly: the
    // relay bounds each callback, survives a client that goes away and can
    // be given a new handler (RegisterNewHandler). The operation calls it
    // directly; it is activated in the router's POA only if someone asks for
    // its reference, and retired with its operation.
    Krovane::AsynchronousHandler* relay = BoundedRelay(handler);
    const PortableServer::ServantBase_var ownership = relay;  // ours until the operation holds it
    relay->ActivateOnDemandIn(m_poa.in());
    const int id = SubmitAsynchronousOperation(name, *relay, std::move(parameters), restartable);
    if (id < 0)
      throw CORBA::NO_MEMORY();
    Submitted(*relay, id);
    return id;
  }

  void AsyncRouter::ExecuteOperation(const std::string& name, std::vector<Halvern_Utilities::Variant>*)
  {
    // The pool makes the operation its thread's current one while it runs.
    const Krovane::AsynchronousOperation* operation = Krovane::AsynchronousOperation::Current();
    if (!operation)
      throw Krovane::AsyncOperationException("no current operation");
    OperationContext context(*this, *operation, name);
    Execute(context);
  }
}
