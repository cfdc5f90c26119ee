#include "KroClient/AsyncClient.h"

#include "KroClient/ServerWatch.h"

#include "OrbLayer/CallbackNumbers.h"
#include "OrbLayer/ServerIncarnation.h"

namespace KroClient
{
  AsyncClient::AsyncClient(PortableServer::POA_ptr poa, std::chrono::milliseconds lossBound)
    : m_poa(PortableServer::POA::_duplicate(poa)),
      m_calls(std::make_shared<BackgroundCalls>()),
      m_watch(lossBound.count() > 0 ? std::make_shared<ServerWatch>(lossBound) : nullptr)
  {
    // Handlers put numbered callbacks back in order (CallbackSequencer).
    KroOrb::CallbackNumbers::Install();
    // Replies say which start of their server sent them (ServerWatch).
    KroOrb::ServerIncarnation::Listen();
  }

  AsyncClient::~AsyncClient()
  {
    if (m_watch)
      m_watch->Stop();
    m_calls->Stop();
  }

  std::uint64_t AsyncClient::WatchRequests() const { return m_watch ? m_watch->Requests() : 0; }

  std::shared_ptr<OperationCore> AsyncClient::NewCore(Krovane::IAsyncServer_ptr server, Callbacks callbacks)
  {
    auto core = std::make_shared<OperationCore>(server, std::move(callbacks), m_calls, m_watch);
    core->Activate(m_poa.in());
    return core;
  }

  Operation AsyncClient::Reattach(Krovane::IAsyncServer_ptr server, CORBA::Long id, Callbacks callbacks)
  {
    std::shared_ptr<OperationCore> core = NewCore(server, std::move(callbacks));
    Operation operation(core);
    {
      const KroOrb::CallbackNumbers::Announcing ordered;  // this handler restores order
      KroOrb::ServerIncarnation::ClearLastReply();
      server->RegisterNewHandler(id, core->Handler());
    }
    core->Start(id, KroOrb::ServerIncarnation::OfLastReply());
    // The server attaches nothing to an operation that has ended: its state
    // is all there is. One that ends from now on reports to the new handler.
    const Krovane::OperationState state = server->GetOperationState(id);
    if (state == Krovane::Finished || state == Krovane::Cancelled)
    {
      // Ended as the handler was attached, maybe: see OperationCore::AttachAgain.
      server->RegisterNewHandler(id, core->Handler());
      core->EndAsServerSays(OperationRecord::Check::Finish);
    }
    return operation;
  }
}
