// AsyncClient: makes the client's operations: a handler active for each,
// submitted through the application's own request, or attached to an
// operation already running (after the client restarted, say).
//
//   KroClient::AsyncClient client(orb.Poa());
//   KroClient::Callbacks shown;
//   shown.progress = [](double done) { ... };
//   KroClient::Operation op = client.Submit(worker.in(), [&](Krovane::IAsyncHandler_ptr handler)
//                                           { return worker->Count(10, 100, handler); }, shown);
//
// No operation waits on a server that is gone: once a server has neither
// called back nor answered for the loss bound (default 10 s; 0 turns the
// watch off), its pending operations end Failed with Krovane::Unavailable
// ("server unreachable: TRANSIENT_ConnectFailed ..."); see ServerWatch.
//
// Ownership: it must outlive its operations' callbacks (the end of an
// operation is confirmed with the server on its background thread; after it
// has gone, operations end as their last callback says and the watch has
// stopped). Threads: any thread may use it.
//
// Its requests that hand a handler over say that the client restores the
// order of numbered callbacks (CallbackNumbers), so that a server may send
// several of one operation at once.
#ifndef KROCLIENT_ASYNCCLIENT_H
#define KROCLIENT_ASYNCCLIENT_H

#include "KroClient/Operation.h"
#include "KroClient/OperationCore.h"
#include "OrbLayer/CallbackNumbers.h"
#include "OrbLayer/ServerIncarnation.h"

#include <chrono>
#include <cstdint>
#include <memory>

namespace KroClient
{
  class AsyncClient
  {
  public:
    static constexpr std::chrono::milliseconds kDefaultLossBound{10000};

    // poa: where the handlers are activated (its manager active), e.g.
    // ClientOrb::Poa(). lossBound: how long a pending operation waits on a
    // server that is gone or silent; zero: for ever (no watch).
    explicit AsyncClient(PortableServer::POA_ptr poa, std::chrono::milliseconds lossBound = kDefaultLossBound);
    // Stops the background thread and the watch.
    ~AsyncClient();

    AsyncClient(const AsyncClient&) = delete;
    AsyncClient& operator=(const AsyncClient&) = delete;

    // A new operation of server: submit(handler) makes the request and
    // returns its id. Callbacks that arrive before it returns are delivered
    // once it has, in this thread. Throws what submit throws (the handler
    // is then gone).
    template <typename Request>
    Operation Submit(Krovane::IAsyncServer_ptr server, Request&& submit, Callbacks callbacks = {})
    {
      std::shared_ptr<OperationCore> core = NewCore(server, std::move(callbacks));
      Operation operation(core);
      CORBA::Long id = 0;
      {
        const KroOrb::CallbackNumbers::Announcing ordered;  // the handler restores order
        KroOrb::ServerIncarnation::ClearLastReply();
        id = submit(core->Handler());
      }
      // Which start of the server took the handler: the watch attaches it
      // again when another start answers.
      core->Start(id, KroOrb::ServerIncarnation::OfLastReply());
      return operation;
    }

    // The running operation id of server, its later callbacks to a new
    // handler (RegisterNewHandler). An operation that has already ended
    // ends at once, as the server's state says. Throws
    // Krovane::InvalidOperationId for an id the server does not know.
    Operation Reattach(Krovane::IAsyncServer_ptr server, CORBA::Long id, Callbacks callbacks = {});

    // How many requests the watch has made to servers (0 when it is off).
    std::uint64_t WatchRequests() const;

  private:
    std::shared_ptr<OperationCore> NewCore(Krovane::IAsyncServer_ptr server, Callbacks callbacks);

    const PortableServer::POA_var m_poa;            // where handlers are activated
    const std::shared_ptr<BackgroundCalls> m_calls;  // shared with the operations
    const std::shared_ptr<ServerWatch> m_watch;      // shared with the operations; null when off
  };
}

#endif
