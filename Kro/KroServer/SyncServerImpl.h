// SyncServerImpl: the base servant of every server object, the object a
// client receives from a factory.
//
// It knows the user it works for, keeps (when asked to) the list of the
// requests running in it, cancels them, describes the machine and removes
// itself on request. Reference counted: the POA and whoever created it hold
// references; it is deleted with the last one.
//
// Threads: ORB request threads call everything concurrently; the list is
// guarded by m_lock. The user packet is set by the factory before the object
// is published and by UpdateUserToken.
#ifndef KROSERVER_SYNCSERVERIMPL_H
#define KROSERVER_SYNCSERVERIMPL_H

#include "KroServer/OperationList.h"
#include "Krovane.hh"

#include "Dazadared/UserPacket.h"

#include <ace/Thread_Mutex.h>

#include <atomic>
#include <string>

namespace Krovane
{
  class Operation;

  class SyncServerImpl : public virtual POA_Krovane::ISyncServer,
                         public virtual PortableServer::RefCountServantBase
  {
  public:
    // poa: the POA the object lives in (its default POA). A nonzero
    // trackOperations makes it keep the list of its running requests.
    SyncServerImpl(PortableServer::POA_ptr poa, int trackOperations);
    // Deletes every record still in the list.
    virtual ~SyncServerImpl();

    // Appends operation to the list (not owned; null ignored).
    virtual void AddOperation(Operation* operation);
    // Takes every entry of operation out of the list; does not delete it.
    virtual void RemoveOperation(Operation* operation);
    // The number of listed operations; 0 without a list.
    virtual int NumOperations();
    // The user the object works for.
    virtual const Halvern_Utilities::UserPacket& GetUserPacket() const;

    // ISyncServer
    virtual char* GetMachineInfo();
    virtual void Remove();
    virtual void CancelAllOperations();
    virtual void UpdateUserToken(const Krovane::UserToken& token);

    // A new reference to the POA given at construction.
    virtual PortableServer::POA_ptr _default_POA();

    // The servant's reference count (1 at construction; deleted at 0). Kept
    // here rather than inside the ORB, so that the last release, which may
    // come from a pool thread, is ordered before the deletion in a way that
    // thread checkers can see.
    virtual void _add_ref();
    virtual void _remove_ref();
    virtual CORBA::ULong _refcount_value();

    void SetUserPacket(const Halvern_Utilities::UserPacket& packet);
    // Stores the token's octets (UserTokenOctets: all of them, nothing added) as the user's token, once
    // the process's UserVerifier (if any) accepts it for the caller of this
    // request; CORBA::NO_PERMISSION when it refuses.
    void SetUserToken(const Krovane::UserToken& token);
    // The user the object works for, as UserVerifier::UserOf names it.
    std::string UserName() const;
    // The user's token, the octets it was given, with a 0 octet after them
    // in the buffer (outside the length; an empty token has no buffer);
    // the caller owns it.
    Krovane::UserToken* GetUserToken();

    // For the work of an operation, at points where it can stop: raises
    // OperationCancelled when the thread's current operation was cancelled.
    void ServiceCancellation();

    // Notes that the object is in use now (a request came, an operation
    // runs). Any thread.
    void MarkUsed();
    // Milliseconds since the object was built or last marked used.
    long long IdleMilliseconds() const;
    // Asynchronous operations of this object waiting in the pool's queue;
    // 0 here.
    virtual int NumQueuedOperations();
    // Asynchronous operations of this object waiting or running; 0 here.
    virtual int NumAsynchronousOperations();
    // The server is stopping: cancels this object's waiting and running
    // operations, telling each client so; how many it cancelled. 0 here.
    virtual int CancelForStop();

  protected:
    // The next operation id: 1, 2, 3, ... Unlocked: callers hold their own lock.
    int MakeNewOperationID();

    // A new reference to this object, as Interface; the caller releases it.
    template <typename Interface>
    typename Interface::_ptr_type OwnReference()
    {
      CORBA::Object_var self = m_poa->servant_to_reference(this);
      return Interface::_narrow(self.in());
    }
    // Raises OperationsStillActive while a request other than the caller's
    // own runs in this object.
    void RefuseWhileRequestsRun();
    // Takes this object out of the process's object table.
    void LeaveTable();

    ACE_Thread_Mutex m_lock;                // guards m_operations
    OperationList* m_operations;            // running requests, or null when not kept
    int m_nextOperationId;                  // the next id to hand out
    Halvern_Utilities::UserPacket m_userPacket;  // the user the object works for
    PortableServer::POA_var m_poa;          // the object's POA

  private:
    std::atomic<CORBA::ULong> m_refCount;   // references to the servant
    std::atomic<long long> m_lastUsed;      // steady-clock milliseconds of the last use
  };
}

#endif
