// AsynchronousDepServerRouter: a router whose operations are carried out
// with the help of a dependent server. For each operation it claims a free
// entry of the process's registry of dependent servers, creates a server
// object for its user on that entry's factory, attaches it as m_server (see
// GetServer) and runs the application's ExecuteOperation, which drives the
// dependent server. When the operation ends the entry is freed and the
// dependent object removed. It runs one operation at a time: a second
// submission is refused with Unavailable while one is active, and also
// while a dispatch that CancelAllOperations took off the active list still
// runs (it still uses the entry and the dependent server). Cancellation and
// removal are passed on to the dependent server. A new handler re-points
// this router's relay only: the dependent server's callbacks reach the
// client through that relay, and its operation ids are not this router's.
//
// Ownership: the registry (s_pDSList) and its entries belong to the
// application; the first router given a list fixes the registry for the
// process. Threads: requests on ORB threads; DispatchOperation and Cleanup
// on a pool thread. m_server and the claimed entry are guarded by
// m_dependentLock: request threads work on their own duplicate. Locks: the
// access lock only around claiming and freeing entries, alone.
#ifndef KROSERVER_ASYNCHRONOUSDEPSERVERROUTER_H
#define KROSERVER_ASYNCHRONOUSDEPSERVERROUTER_H

#include "KroServer/AsynchronousRouter.h"
#include "KroServer/DependentServerEntry.h"
#include "KroServer/DependentServerList.h"

#include <ace/Thread_Mutex.h>

#include <atomic>
#include <string>

namespace Krovane
{
  class AsynchronousDepServerRouter : public AsynchronousRouter
  {
  public:
    // Raised by ExecuteOperation when the dependent server was lost during
    // the work (it died, or stopped answering). A restartable operation
    // then runs again from its start on another free dependent server, its
    // client told Status "retrying on <name>", at most the retries set;
    // otherwise the client gets an Error holder saying what, and the
    // operation ends.
    struct DependentServerLost
    {
      std::string what;  // for the client: "back end B1 is gone"
    };

    // The process's registry of dependent servers; null until a router is
    // given a list.
    static DependentServerList* s_pDSList;
    // The lock around claiming and freeing entries; created once, kept.
    static ACE_Thread_Mutex* GetAccessLock();

    // server: the initial m_server; the two integers as for AsynchronousRouter;
    // list: offered as the registry; entry: the initially claimed entry (normally null).
    AsynchronousDepServerRouter(PortableServer::POA_ptr poa, IAsyncServer_ptr server, int maxThreads,
                                int stackSize, DependentServerList* list, DependentServerEntry* entry);
    virtual ~AsynchronousDepServerRouter();

    // This router's own user (m_server is the remote dependent server).
    virtual const Halvern_Utilities::UserPacket& GetUserPacket() const;
    // As AsynchronousRouter's, one operation at a time: Unavailable while one is active.
    virtual int SubmitAsynchronousOperation(const std::string& name, IAsyncServer_ptr server,
                                            IAsyncHandler_ptr handler,
                                            std::vector<Halvern_Utilities::Variant>* params);
    // The same, marked restartable or not (the four-argument form: not).
    int SubmitAsynchronousOperation(const std::string& name, IAsyncServer_ptr server, IAsyncHandler_ptr handler,
                                    std::vector<Halvern_Utilities::Variant>* params, Restartable restartable);
    // How many times a restartable operation runs again after losing its
    // dependent server (default 1; negative counts as 0). Any thread.
    void SetRetries(int retries);

    // On the pool thread: claims a dependent server, runs ExecuteOperation, cleans up.
    virtual void DispatchOperation(const std::string& name, int operationId, IAsyncHandler_ptr handler,
                                   std::vector<Halvern_Utilities::Variant>* params);
    // A new reference to the dependent server object (nil when none); the caller releases it.
    virtual IAsyncServer_ptr GetServer();
    virtual void SetServer(IAsyncServer_ptr server);
    virtual DependentServerList* GetDepServerList();
    // The entry claimed by the running operation, or null.
    virtual DependentServerEntry* GetDepServerEntry();
    // Frees the claimed entry and removes the dependent server object.
    virtual void Cleanup();

    // IAsyncServer / ISyncServer
    virtual void CancelOperation(CORBA::Long operationId);
    virtual void CancelAllOperations();
    virtual void Remove();

  protected:
    DependentServerEntry* m_pDepServerEntry;  // the claimed entry, or null; not owned

  private:
    // Claims the registry's first free entry for the operation, but none of
    // those in failed (they failed this operation already); null when none.
    DependentServerEntry* ClaimEntry(IAsyncHandler_ptr handler, int operationId, unsigned long threadId,
                                     const std::vector<DependentServerEntry*>& failed = {});
    // Whether the work of the last operation submitted may still run (and
    // use the entry and the dependent server); m_asyncLock held.
    bool DispatchStillRuns() const;
    // Tells the client (Error, a SysException holder) that the dependent
    // server could not be reached, so that the operation's end is not taken
    // for success. Its own failures are printed.
    void ReportUnreachable(IAsyncHandler_ptr handler, const std::string& serverName,
                           const CORBA::SystemException& failure);
    // Tells the client (Error, a SysException holder saying what) that the
    // dependent server was lost and the operation will not run again.
    void ReportLost(IAsyncHandler_ptr handler, const std::string& what);
    // The retries the operation of the calling pool thread may have: 0
    // unless it is restartable.
    int RetriesOfCurrentOperation() const;
    // Claims another free entry, none of failed (the claimed one is added
    // to it); when there is one, frees the failed one (its object removed where it still can be),
    // makes the new one the claimed entry and tells the client Status
    // "retrying on <name>". Null (nothing changed) when none is free.
    DependentServerEntry* FailOver(IAsyncHandler_ptr handler, int operationId,
                                   std::vector<DependentServerEntry*>& failed);
    // Creates the dependent server object, retrying once on COMM_FAILURE.
    ISyncServer_ptr CreateDependentObject(IServerFactory_ptr factory, const UserToken& token);

    mutable ACE_Thread_Mutex m_dependentLock;  // guards m_server and m_pDepServerEntry
    AsynchronousOperation* m_lastOperation = nullptr;  // guarded by m_asyncLock; owned by the lists
    std::atomic<int> m_retries{1};  // see SetRetries
  };
}

#endif
