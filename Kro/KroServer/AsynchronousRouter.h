// AsynchronousRouter: the server object through which asynchronous work is
// requested. It serves one other server object (m_server, a servant of the
// same POA): it works as that object's user, passes cancellation and
// removal on to it, and turns each request into an AsynchronousOperation
// with a fresh id, kept in its active list and run on the process's one
// thread pool. The application derives from it and implements
// ExecuteOperation, the work, which runs on a pool thread.
//
// Life: a router lives while the POA or anyone else holds it, and also while
// any of its operations waits in the pool or runs: each holds the router's
// servant from its submission until it has left the pool for good.
//
// Threads: requests on ORB threads; ExecuteOperation on pool threads. Lock
// order: m_asyncLock before the pool's queue lock; never m_lock and
// m_asyncLock together.
#ifndef KROSERVER_ASYNCHRONOUSROUTER_H
#define KROSERVER_ASYNCHRONOUSROUTER_H

#include "KroServer/AsyncServerImpl.h"
#include "KroServer/Restartable.h"

#include "Dazadared/Variant.h"

#include <string>
#include <vector>

namespace Krovane
{
  class AsynchronousHandler;
  class ThreadPoolThreadingPolicy;

  class AsynchronousRouter : public AsyncServerImpl
  {
  public:
    // The process's thread pool, (1, 5) until the first router configures it.
    static ThreadPoolThreadingPolicy* s_pThreadPoolThreadingPolicy;

    // Sizes the pool in one place, before the first router: minThreads (0:
    // keep), maxThreads, stackSize in bytes (0: keep) and the pause after
    // each new thread in milliseconds (-1: keep). Routers made later leave
    // the pool as it is. False, with the values accepted so far kept, when
    // the pool refuses one.
    static bool ConfigurePool(int minThreads, int maxThreads, int stackSize, int startPauseMs);

    // poa: the POA of the router and of server; server: the object served
    // (own reference; nil: the router serves no other object and works as
    // its own user). Unless ConfigurePool was called, the first router of
    // the process sets the pool's maximum to maxThreads (a refused value
    // keeps 5) and, when stackSize > 0, the pool threads' stack size.
    AsynchronousRouter(PortableServer::POA_ptr poa, IAsyncServer_ptr server, int maxThreads,
                       int stackSize);
    virtual ~AsynchronousRouter();

    // The served object's user (this router's own when it serves no SyncServerImpl).
    virtual const Halvern_Utilities::UserPacket& GetUserPacket() const;
    // Renews the token of this router and of the served object, whose user
    // the work runs as and whose token's expiry each request checks.
    virtual void UpdateUserToken(const Krovane::UserToken& token);

    // The work of one operation, on a pool thread, as the served object's
    // user; may call ServiceCancellation() to stop when cancelled.
    virtual void ExecuteOperation(const std::string& name,
                                  std::vector<Halvern_Utilities::Variant>* parameters) = 0;
    // Queues a new operation and returns its id (1, 2, 3, ...), or -1 when
    // none could be created; Krovane::Unavailable once the server is stopping. handler: the client's callback object, normally
    // a relay (the operation takes its own reference); parameters: not
    // copied, kept alive by the caller until the operation has ended;
    // server: not used. CORBA::IMP_LIMIT (logged) when the user already
    // has UserLimits::MaxQueuedOperationsPerUser() operations waiting.
    virtual int SubmitAsynchronousOperation(const std::string& name, IAsyncServer_ptr server,
                                            IAsyncHandler_ptr handler,
                                            std::vector<Halvern_Utilities::Variant>* parameters);
    // The same, the operation owning parameters: they live as long as it
    // does and go with it.
    int SubmitAsynchronousOperation(const std::string& name, IAsyncHandler_ptr handler,
                                    std::vector<Halvern_Utilities::Variant> parameters,
                                    Restartable restartable = Restartable::No);
    // The same with the relay itself, told that it is (ActiveIn) or will be
    // (ActivateOnDemandIn) active in this router's POA: the operation calls
    // it directly, makes no reference to it unless asked for one
    // (GetHandler) and deactivates it by its id when it ends.
    int SubmitAsynchronousOperation(const std::string& name, AsynchronousHandler& relay,
                                    std::vector<Halvern_Utilities::Variant> parameters,
                                    Restartable restartable = Restartable::No);
    // Active operations still waiting in the queue.
    virtual int NumQueuedOperations();

    // The server is stopping: each waiting operation leaves the queue and
    // its client gets Status "server stopping", an Error whose holder raises
    // Unavailable ("server is stopping"), and Finished; each running one
    // gets the Status and the Error and is cancelled (its dispatch sends
    // Finished when the work stops). Returns how many it cancelled.
    virtual int CancelForStop();
    // Bringing the object back after a restart, from its journal, before it
    // takes requests: ids go on after highest; an ended operation is kept
    // for GetOperationState and RegisterNewHandler; a restartable one that
    // had not ended is queued again (in the order of these calls), its relay
    // waiting for a handler (RegisterNewHandler).
    void ContinueIdsAfter(int highest);
    // self: this object's reference (it may not be active yet).
    void RestoreEnded(IAsyncServer_ptr self, int id, const std::string& name, OperationState state);
    void Requeue(IAsyncServer_ptr self, int id, const std::string& name,
                 std::vector<Halvern_Utilities::Variant> parameters);

    // IAsyncServer / ISyncServer
    virtual void CancelOperation(CORBA::Long operationId);
    virtual void CancelAllOperations();
    virtual void Remove();

  protected:
    // Takes an operation out of the pool's queue at construction. One taken
    // out will never be dispatched: when the scope ends, however its
    // cancellation went, it lets go of its router (and, when asked, its relay
    // is retired), as its dispatch would have done. Use it under m_asyncLock
    // while serving a request (the request keeps the router alive).
    class Withdrawal
    {
    public:
      Withdrawal(AsynchronousOperation* operation, PortableServer::POA_ptr poa, bool retireHandler);
      ~Withdrawal();
      // Whether the operation was waiting in the queue.
      bool Withdrawn() const { return m_withdrawn; }

    private:
      AsynchronousOperation* m_operation;  // the operation cancelled
      PortableServer::POA_ptr m_poa;       // its relay's POA
      const bool m_retireHandler;          // deactivate its relay too
      const bool m_withdrawn;              // whether it left the queue here
    };

    // Keeps a servant alive for a scope: withdrawn operations let go of
    // their router while it serves a request, which must not be its last
    // reference.
    class KeepAlive
    {
    public:
      explicit KeepAlive(PortableServer::ServantBase* servant);
      ~KeepAlive();

    private:
      PortableServer::ServantBase* m_servant;  // held for the scope
    };

    // Cancels every active operation, each whatever befalls another, takes
    // the waiting ones out of the pool (retiring their relays when asked)
    // and moves them all to the finished list.
    void CancelEachActive(bool retireHandlers);
    // Refuses (OperationsStillActive) while another request or an
    // asynchronous operation is active: the first step of removing a router.
    void RefuseWhileBusy();
    // IMP_LIMIT (logged) when this object's user may queue no more operations.
    void RefuseBeyondQueueLimit();
    // Tells operation's client that the server stops it: Status, Error with
    // a StopNoticeHolder, and Finished when withFinished. A client's failure
    // is printed, never passed on.
    void TellStopping(AsynchronousOperation* operation, bool withFinished);
    // The relay of an operation queued again after a restart: detached until
    // a client attaches its handler; the kit's routers bound its callbacks.
    virtual AsynchronousHandler* MakeRestoredRelay();

    // This router's own reference, made on the first call and kept (not a
    // new one): every operation holds it, and making one per submission
    // cost more than the rest of queueing it. m_asyncLock held.
    IAsyncServer_ptr SelfReference();

    // The served object's servant, looked up once and held for the
    // router's life; null when it is no servant of this POA.
    PortableServer::Servant ServedServant() const;
    // The same as a server object (null when it is none): the cast is made
    // once, with the look-up, not on every use.
    SyncServerImpl* ServedServer() const;
    IAsyncServer_var m_server;  // the object served

  private:
    // Queues a new operation; owned: the parameters it takes over (null: it
    // uses parameters, not owned).
    // relay: given instead of handler (nil then), see above.
    int Submit(const std::string& name, IAsyncHandler_ptr handler, AsynchronousHandler* relay,
               std::vector<Halvern_Utilities::Variant>* parameters,
               std::vector<Halvern_Utilities::Variant>* owned, Restartable restartable);

    // Queues operation, made and recorded, on the pool.
    void Enqueue(AsynchronousOperation* operation);

    // Looks the served servant up when it has not been yet; m_servedLock held.
    void LookUpServed() const;

    IAsyncServer_var m_self;  // guarded by m_asyncLock; SelfReference's, nil until first asked for

    mutable ACE_Thread_Mutex m_servedLock;                  // guards m_servedServant and m_servedServer
    mutable PortableServer::ServantBase_var m_servedServant;  // m_server's servant, once looked up
    mutable SyncServerImpl* m_servedServer = nullptr;       // m_servedServant as a server object, or null
  };
}

#endif
