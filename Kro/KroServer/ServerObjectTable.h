// ServerObjectTable: the process's live server objects, by object id.
//
// One per process, created by the first factory (which gives it its POA)
// and kept until the process ends. Thread-safe: m_lock guards the map and is
// taken before any server object's own locks.
#ifndef KROSERVER_SERVEROBJECTTABLE_H
#define KROSERVER_SERVEROBJECTTABLE_H

#include "KroServer/ObjectIdComparer.h"
#include "Krovane.hh"

#include <ace/Thread_Mutex.h>

#include <functional>
#include <map>
#include <string>
#include <unordered_map>

namespace Krovane
{
  class SyncServerImpl;

  class ServerObjectTable
    : public std::map<PortableServer::ObjectId, Krovane::ISyncServer_var, Krovane::ObjectIdComparer>
  {
  public:
    // The process's table. The POA is taken only when the table is created;
    // later callers pass nil.
    static ServerObjectTable* Instance(PortableServer::POA_ptr poa);
    // The process's table, or null while no factory has created it (for
    // readers that must not create it without its POA).
    static ServerObjectTable* Existing();

    // 1 when added, 0 when its id is already present. The table keeps its
    // own reference. POA errors (a reference it did not make) reach the caller.
    // CORBA::NO_RESOURCES (logged) when the object's user already has
    // UserLimits::MaxObjectsPerUser() objects here (counted per user as
    // objects come and go: the user an object had when it was added).
    int AddObject(Krovane::ISyncServer_ptr object);
    // 1 when removed, 0 when absent.
    int RemoveObject(Krovane::ISyncServer_ptr object);
    // The number of objects, and the sum of their NumOperations().
    void NumObjectsAndActiveOperations(int& numObjects, int& numOperations);
    // Calls visit for each server object of the table, outside the table's
    // lock (so visit may call out or take the objects' locks); each object
    // is held while it is visited. Objects that leave meanwhile may still be visited.
    void ForEachServer(const std::function<void(SyncServerImpl&)>& visit);
    // Deactivates every object and empties the table.
    void CleanUp();
    // Once the ORB has shut down (its POAs destroyed): drops every object's
    // reference and the POA's, so that the POA itself can go before the ORB
    // is destroyed. The table is empty afterwards and takes no objects.
    void LetGo();

    // The asynchronous operations waiting in the queue for the objects of
    // user (SyncServerImpl::NumQueuedOperations), summed; walks the table.
    int QueuedOperationsOf(const std::string& user);
    // Takes out of the table and deactivates (through the object's own
    // Remove, then the POA) every object with neither a request nor an
    // operation for idleMilliseconds: its client has gone. Logs each one;
    // returns how many went. An object in use is marked used, so that its
    // idle time counts from the end of its last operation.
    int ReclaimIdleObjects(long long idleMilliseconds);

    virtual ~ServerObjectTable();

  private:
    ServerObjectTable();
    ServerObjectTable(const ServerObjectTable&) = delete;
    ServerObjectTable& operator=(const ServerObjectTable&) = delete;

    // measure summed over the objects of user in the table (an object no
    // longer active counts nothing); m_lock held.
    int SumOverObjectsOf(const std::string& user, const std::function<int(SyncServerImpl&)>& measure);
    // The server object behind reference, held by holder; null for other servants.
    SyncServerImpl* ServerOf(CORBA::Object_ptr reference, PortableServer::ServantBase_var& holder);

    // The id of object in m_poa; unlocked.
    PortableServer::ObjectId* IdOf(Krovane::ISyncServer_ptr object);

    // Counts obj's user, known when it was added, one up (by +1) or down (-1); m_lock held.
    void CountUser(const PortableServer::ObjectId& id, const std::string& user, int by);

    ACE_Thread_Mutex m_lock;          // guards the map and the two below; taken before any server object's locks
    std::map<PortableServer::ObjectId, std::string, Krovane::ObjectIdComparer> m_userOf;  // guarded by m_lock
    std::unordered_map<std::string, int> m_objectsOf;  // guarded by m_lock; users with objects here
    PortableServer::POA_var m_poa;    // the POA of the server objects
  };
}

#endif
