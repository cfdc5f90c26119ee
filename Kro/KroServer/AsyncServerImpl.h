// AsyncServerImpl: the servant base of server objects that offer
// IAsyncServer: everything a SyncServerImpl does, plus the bookkeeping of
// asynchronous operations (active: waiting or running, in a list;
// finished: ended, found by id, the latest FinishedOperations::KeptPerObject
// of them queryable until the object goes), the three IAsyncServer
// operations, and two services for application code (a time-out on a
// handler relay, and a reference for an exception holder).
//
// Ownership: the object owns both lists and every operation in them, and the
// activations of the exception holders it made (retired when it is removed).
// Threads: requests arrive on ORB threads; pool threads clean operations
// up. m_asyncLock guards both lists, admits a second acquisition by its
// holder, and is never held together with SyncServerImpl's m_lock.
#ifndef KROSERVER_ASYNCSERVERIMPL_H
#define KROSERVER_ASYNCSERVERIMPL_H

#include "KroServer/AsynchronousOperationList.h"
#include "KroServer/FinishedOperations.h"
#include "KroServer/SyncServerImpl.h"

#include <ace/Recursive_Thread_Mutex.h>
#include <ace/Thread_Mutex.h>

#include <atomic>
#include <cstddef>
#include <deque>
#include <string>
#include <vector>

namespace Krovane
{
  class AsyncExceptionHolderImpl;
  class AsynchronousOperation;
  class OperationJournal;

  class AsyncServerImpl : public virtual POA_Krovane::IAsyncServer, public SyncServerImpl
  {
  public:
    AsyncServerImpl(PortableServer::POA_ptr poa, int trackOperations);
    // Deletes every operation of both lists.
    virtual ~AsyncServerImpl();

    // Listed requests plus active asynchronous operations.
    virtual int NumOperations();
    // Active asynchronous operations (waiting or running).
    virtual int NumAsynchronousOperations();
    // Sets a time-out of timeout seconds on the relay behind handler (a relay
    // active in this object's POA). False for timeout <= 0, a nil handler, or
    // a handler that is no relay.
    virtual bool RegisterWrappedAsynchronousHandlerTimeout(IAsyncHandler_ptr handler, int timeout);

    // IAsyncServer
    virtual void CancelOperation(CORBA::Long operationId);
    virtual OperationState GetOperationState(CORBA::Long operationId);
    virtual void RegisterNewHandler(CORBA::Long operationId, IAsyncHandler_ptr handler);
    // ISyncServer
    virtual void CancelAllOperations();
    // As SyncServerImpl's; the journal keeps the new user.
    virtual void UpdateUserToken(const Krovane::UserToken& token);
    // As SyncServerImpl's; the exception holders this object made go too.
    virtual void Remove();

    // Moves operation from the active list to the finished list (once).
    void cleanupAsynchronousOperationLists(AsynchronousOperation* operation);
    // Activates holder in this object's POA under an unguessable id
    // (UnguessableObjectIds) and returns its reference (the caller owns it;
    // nil, logged, if it cannot be narrowed). Takes over the
    // caller's reference to holder: the caller must not use it afterwards.
    // At most SetExceptionHoldersKept of them stay active per object, the
    // oldest retired first.
    IAsyncExceptionHolder_ptr CreateKroExceptionHolder(AsyncExceptionHolderImpl* holder);
    // Exception holders kept active per object (n > 0; 100 unless set).
    static void SetExceptionHoldersKept(std::size_t n);

    // Records this object's operations in journal under key (its id there)
    // from now on; before the object takes requests. Null: no journal.
    void AttachJournal(OperationJournal* journal, const std::string& key);
    // The journal and this object's key in it (null and empty without one).
    OperationJournal* Journal() const { return m_journal; }
    const std::string& JournalKey() const { return m_journalKey; }

  protected:
    // Moves an operation to the finished list when the scope ends, on every
    // path: an operation cancelled from a request must leave the active list
    // whatever its client does.
    class FinishedOnExit
    {
    public:
      FinishedOnExit(AsyncServerImpl& server, AsynchronousOperation* operation)
        : m_server(server), m_operation(operation) {}
      ~FinishedOnExit() { m_server.cleanupAsynchronousOperationLists(m_operation); }
      FinishedOnExit(const FinishedOnExit&) = delete;
      FinishedOnExit& operator=(const FinishedOnExit&) = delete;

    private:
      AsyncServerImpl& m_server;           // owns the lists
      AsynchronousOperation* m_operation;  // the operation moved
    };

    // Cancels operation (see AsynchronousOperation::CancelWaitingOrRunning);
    // a failure is printed, never passed on, so that one operation's fault
    // cannot stop the cancellation of the others. True when it was waiting.
    static bool CancelQuietly(AsynchronousOperation* operation);
    // Deactivates the exception holders made by CreateKroExceptionHolder
    // that are still active (a client that never raised them).
    void RetireExceptionHolders();
    // Deactivates one holder; one already gone is no failure.
    static void RetireHolder(PortableServer::POA_ptr poa, const PortableServer::ObjectId& id);

    // The first active operation with that id, else null; m_asyncLock held.
    AsynchronousOperation* FindActive(int operationId);
    // The finished operation with that id (if still kept), else null; m_asyncLock held.
    AsynchronousOperation* FindFinished(int operationId);
    // An active or kept finished operation with that id, else null; m_asyncLock held.
    AsynchronousOperation* FindOperation(int operationId);
    // The InvalidOperationId for an id neither active nor kept.
    static InvalidOperationId UnknownOperation(int operationId);
    // Appends operation to the finished list unless it stands there, its
    // end committed to the journal first; m_asyncLock held.
    void AddFinished(AsynchronousOperation* operation);
    // Sends handler the end the journal kept for operation id (Results or
    // Error, then Finished); false when it kept none. No lock held.
    bool SendKeptEnd(CORBA::Long operationId, IAsyncHandler_ptr handler);

    // Taken before the pool's queue lock, an operation's and a relay's lock.
    ACE_Recursive_Thread_Mutex m_asyncLock;
    AsynchronousOperationList* m_activeOperations;    // guarded by m_asyncLock; submitted, not ended
    FinishedOperations* m_finishedOperations;  // guarded by m_asyncLock; ended, finished or cancelled

    // Set by AttachJournal before the object takes requests, constant after.
    OperationJournal* m_journal = nullptr;  // not owned; null: operations kept in memory only
    std::string m_journalKey;               // this object's key in m_journal

  private:
    ACE_Thread_Mutex m_holderLock;  // taken alone
    std::deque<PortableServer::ObjectId> m_holders;  // guarded by m_holderLock; ids of the holders made, oldest first
    static std::atomic<std::size_t> s_holdersKept;   // bound on m_holders
  };
}

#endif
