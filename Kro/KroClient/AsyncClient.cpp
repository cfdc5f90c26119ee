#include "KroClient/AsyncClient.h"

namespace KroClient
{
  AsyncClient::AsyncClient(PortableServer::POA_ptr poa)
    : m_poa(PortableServer::POA::_duplicate(poa)), m_calls(std::make_shared<BackgroundCalls>())
  {
  }

  AsyncClient::~AsyncClient() { m_calls->Stop(); }

  std::shared_ptr<OperationCore> AsyncClient::NewCore(Krovane::IAsyncServer_ptr server, Callbacks callbacks)
  {
    auto core = std::make_shared<OperationCore>(server, std::move(callbacks), m_calls);
    core->Activate(m_poa.in());
    return core;
  }

  Operation AsyncClient::Reattach(Krovane::IAsyncServer_ptr server, CORBA::Long id, Callbacks callbacks)
  {
    std::shared_ptr<OperationCore> core = NewCore(server, std::move(callbacks));
    Operation operation(core);
    server->RegisterNewHandler(id, core->Handler());
    core->Start(id);
    // The server attaches nothing to an operation that has ended: its state
    // is all there is. One that ends from now on reports to the new handler.
    const Krovane::OperationState state = server->GetOperationState(id);
    if (state == Krovane::Finished || state == Krovane::Cancelled)
      core->EndAsServerSays(OperationRecord::Check::Finish);
    return operation;
  }
}
