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

#include <map>

namespace Krovane
{
  class ServerObjectTable
    : public std::map<PortableServer::ObjectId, Krovane::ISyncServer_var, Krovane::ObjectIdComparer>
  {
  public:
    // The process's table. The POA is taken only when the table is created;
    // later callers pass nil.
    static ServerObjectTable* Instance(PortableServer::POA_ptr poa);

    // 1 when added, 0 when its id is already present. The table keeps its
    // own reference. POA errors (a reference it did not make) reach the caller.
    int AddObject(Krovane::ISyncServer_ptr object);
    // 1 when removed, 0 when absent.
    int RemoveObject(Krovane::ISyncServer_ptr object);
    // The number of objects, and the sum of their NumOperations().
    void NumObjectsAndActiveOperations(int& numObjects, int& numOperations);
    // Deactivates every object and empties the table.
    void CleanUp();

    virtual ~ServerObjectTable();

  private:
    ServerObjectTable();
    ServerObjectTable(const ServerObjectTable&) = delete;
    ServerObjectTable& operator=(const ServerObjectTable&) = delete;

    // The id of object in m_poa; unlocked.
    PortableServer::ObjectId* IdOf(Krovane::ISyncServer_ptr object);

    ACE_Thread_Mutex m_lock;          // guards the map
    PortableServer::POA_var m_poa;    // the POA of the server objects
  };
}

#endif
