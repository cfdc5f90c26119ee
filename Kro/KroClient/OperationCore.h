// OperationCore: one operation on the client's side: its handler (active
// while the core is open), the sequencer that delivers the handler's
// callbacks, the record they update, and the server asked to confirm how it
// ended. Operation is the application's handle on it.
//
// Ownership: shared; the handle holds it, the servant and background calls
// only weakly, so it goes with the handle. Threads: see the members.
#ifndef KROCLIENT_OPERATIONCORE_H
#define KROCLIENT_OPERATIONCORE_H

#include "KroClient/ActiveHandler.h"
#include "KroClient/BackgroundCalls.h"
#include "KroClient/CallbackSequencer.h"
#include "KroClient/HandlerServant.h"
#include "KroClient/OperationRecord.h"

#include <atomic>
#include <memory>

namespace KroClient
{
  class OperationCore : public CallbackSink, public std::enable_shared_from_this<OperationCore>
  {
  public:
    // A core for an operation of server, its callbacks held until Start.
    // Activate must follow before the handler is handed out.
    OperationCore(Krovane::IAsyncServer_ptr server, Callbacks callbacks, std::shared_ptr<BackgroundCalls> calls);
    ~OperationCore() override;

    // Activates the handler in poa.
    void Activate(PortableServer::POA_ptr poa);
    // The handler's reference (not a new one); valid until Close.
    Krovane::IAsyncHandler_ptr Handler() const;
    // The operation's id is id: callbacks that were held are delivered now,
    // in this thread. Called once, by the thread that submitted.
    void Start(CORBA::Long id);
    // Deactivates the handler and drops later callbacks; waits a while for
    // a callback still running in another thread. Once, by the handle's thread.
    void Close();

    // CallbackSink (ORB threads).
    void Post(CallbackEvent event) override;

    CORBA::Long Id() const;
    Krovane::IAsyncServer_ptr Server() const;  // not a new reference
    const OperationRecord& Record() const;
    const CallbackSequencer& Sequencer() const;

    // Asks the server for the state (the calling thread makes the call) and
    // ends the operation as it says, for check.
    void EndAsServerSays(OperationRecord::Check check);

  private:
    // Queues EndAsServerSays on the background thread (from a delivery).
    void CheckWithServer(OperationRecord::Check check);

    const Krovane::IAsyncServer_var m_server;          // set at construction
    const std::shared_ptr<BackgroundCalls> m_calls;    // set at construction
    std::atomic<CORBA::Long> m_id{0};                  // set by Start
    OperationRecord m_record;                          // guards itself
    CallbackSequencer m_sequencer;                     // guards itself
    std::unique_ptr<ActiveHandler> m_handler;          // set by Activate, reset by Close; the handle's thread
  };
}

#endif
