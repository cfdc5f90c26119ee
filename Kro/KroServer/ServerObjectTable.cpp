#include "KroServer/ServerObjectTable.h"

#include "KroServer/SyncServerImpl.h"
#include "KroServer/UserLimits.h"
#include "OrbLayer/PrintException.h"

#include <ace/Guard_T.h>
#include <ace/Log_Msg.h>

#include <atomic>
#include <functional>
#include <vector>

namespace Krovane
{
  namespace
  {
    std::atomic<ServerObjectTable*> s_table(nullptr);

    ACE_Thread_Mutex& CreationLock()
    {
      static ACE_Thread_Mutex* lock = new ACE_Thread_Mutex;  // never destroyed
      return *lock;
    }
  }

  ServerObjectTable::ServerObjectTable() {}

  ServerObjectTable::~ServerObjectTable()
  {
    CleanUp();
  }

  ServerObjectTable* ServerObjectTable::Existing()
  {
    return s_table.load(std::memory_order_acquire);
  }

  ServerObjectTable* ServerObjectTable::Instance(PortableServer::POA_ptr poa)
  {
    ServerObjectTable* table = s_table.load(std::memory_order_acquire);
    if (table)
      return table;
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, CreationLock(), nullptr);
    table = s_table.load(std::memory_order_relaxed);
    if (!table)
    {
      table = new ServerObjectTable;
      if (!CORBA::is_nil(poa))
        table->m_poa = PortableServer::POA::_duplicate(poa);
      s_table.store(table, std::memory_order_release);
    }
    return table;
  }

  PortableServer::ObjectId* ServerObjectTable::IdOf(Krovane::ISyncServer_ptr object)
  {
    if (CORBA::is_nil(m_poa.in()))
      throw CORBA::BAD_INV_ORDER(0, CORBA::COMPLETED_NO);  // no factory has made the table
    return m_poa->reference_to_id(object);
  }

  int ServerObjectTable::AddObject(Krovane::ISyncServer_ptr object)
  {
    PortableServer::ObjectId_var id = IdOf(object);
    const int maxObjects = UserLimits::MaxObjectsPerUser();
    std::string user;
    try
    {
      PortableServer::ServantBase_var holder;
      if (SyncServerImpl* server = ServerOf(object, holder))
        user = server->UserName();
    }
    catch (const CORBA::Exception&)
    {
      // an object of another POA: counted for nobody
    }
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, m_lock, 0);
    if (find(id.in()) != end())
      return 0;
    auto held = m_objectsOf.find(user);
    if (maxObjects > 0 && held != m_objectsOf.end() && held->second >= maxObjects)
    {
      ACE_DEBUG((LM_NOTICE, ACE_TEXT("(%P|%t) ServerObjectTable: user \"%C\" has %d server objects, the limit; "
                                    "another refused\n"), user.c_str(), maxObjects));
      throw CORBA::NO_RESOURCES(0, CORBA::COMPLETED_NO);
    }
    insert(value_type(id.in(), Krovane::ISyncServer::_duplicate(object)));
    CountUser(id.in(), user, +1);
    ACE_DEBUG((LM_INFO, ACE_TEXT("(%P|%t) ServerObjectTable::AddObject() Added Object\n")));
    return 1;
  }

  int ServerObjectTable::RemoveObject(Krovane::ISyncServer_ptr object)
  {
    PortableServer::ObjectId_var id = IdOf(object);
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, m_lock, 0);
    iterator entry = find(id.in());
    if (entry == end())
      return 0;
    ACE_DEBUG((LM_INFO, ACE_TEXT("(%P|%t) ServerObjectTable::RemoveObject() removed object\n")));
    erase(entry);
    CountUser(id.in(), std::string(), -1);
    return 1;
  }

  void ServerObjectTable::CountUser(const PortableServer::ObjectId& id, const std::string& user, int by)
  {
    if (by > 0)
    {
      m_userOf[id] = user;
      ++m_objectsOf[user];
      return;
    }
    auto known = m_userOf.find(id);
    if (known == m_userOf.end())
      return;
    auto held = m_objectsOf.find(known->second);
    if (held != m_objectsOf.end() && --held->second <= 0)
      m_objectsOf.erase(held);
    m_userOf.erase(known);
  }

  void ServerObjectTable::NumObjectsAndActiveOperations(int& numObjects, int& numOperations)
  {
    numObjects = 0;
    numOperations = 0;
    ACE_GUARD(ACE_Thread_Mutex, guard, m_lock);
    try
    {
      for (iterator entry = begin(); entry != end(); ++entry)
      {
        Krovane::ISyncServer_var object = Krovane::ISyncServer::_duplicate(entry->second.in());
        PortableServer::ServantBase_var servant = m_poa->reference_to_servant(object.in());
        // Any servant may stand in the table; only server objects have operations.
        if (SyncServerImpl* server = dynamic_cast<SyncServerImpl*>(servant.in()))
          numOperations += server->NumOperations();
        ++numObjects;
      }
    }
    catch (const CORBA::Exception& ex)
    {
      KroOrb::PrintException(ex, "Problem in ServerObjectTable::NumObjectsAndActiveOperations()\n");
    }
  }

  SyncServerImpl* ServerObjectTable::ServerOf(CORBA::Object_ptr reference, PortableServer::ServantBase_var& holder)
  {
    holder = m_poa->reference_to_servant(reference);
    return dynamic_cast<SyncServerImpl*>(holder.in());
  }

  int ServerObjectTable::SumOverObjectsOf(const std::string& user,
                                          const std::function<int(SyncServerImpl&)>& measure)
  {
    int sum = 0;
    for (iterator entry = begin(); entry != end(); ++entry)
    {
      try
      {
        PortableServer::ServantBase_var holder;
        SyncServerImpl* server = ServerOf(entry->second.in(), holder);
        if (server && server->UserName() == user)
          sum += measure(*server);
      }
      catch (const CORBA::Exception&)
      {
        // deactivated while still in the table: it no longer counts
      }
    }
    return sum;
  }

  int ServerObjectTable::QueuedOperationsOf(const std::string& user)
  {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, m_lock, 0);
    return SumOverObjectsOf(user, [](SyncServerImpl& server) { return server.NumQueuedOperations(); });
  }

  int ServerObjectTable::ReclaimIdleObjects(long long idleMilliseconds)
  {
    // Chosen under the table lock, removed without it: an object's Remove
    // takes it out of the table itself.
    struct Candidate
    {
      PortableServer::ObjectId id;
      PortableServer::ServantBase_var holder;  // keeps the servant while it is removed
      SyncServerImpl* server;
    };
    std::vector<Candidate> idle;
    {
      ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, m_lock, 0);
      for (iterator entry = begin(); entry != end(); ++entry)
      {
        try
        {
          Candidate candidate{entry->first, PortableServer::ServantBase_var(), nullptr};
          candidate.server = ServerOf(entry->second.in(), candidate.holder);
          if (!candidate.server)
            continue;
          if (candidate.server->NumOperations() > 0)
            candidate.server->MarkUsed();
          else if (candidate.server->IdleMilliseconds() >= idleMilliseconds)
            idle.push_back(std::move(candidate));
        }
        catch (const CORBA::Exception&)
        {
          // deactivated while still in the table: its Remove takes it out
        }
      }
    }

    int reclaimed = 0;
    for (Candidate& candidate : idle)
    {
      SyncServerImpl* server = candidate.server;
      // A request may have come since it was chosen.
      if (server->NumOperations() > 0 || server->IdleMilliseconds() < idleMilliseconds)
        continue;
      const std::string user = server->UserName();
      const long long idleSeconds = server->IdleMilliseconds() / 1000;
      try
      {
        server->Remove();
        m_poa->deactivate_object(candidate.id);
      }
      catch (const Krovane::OperationsStillActive&)
      {
        continue;  // in use again
      }
      catch (const PortableServer::POA::ObjectNotActive&)
      {
        // removed by its client meanwhile
      }
      catch (const CORBA::Exception& ex)
      {
        KroOrb::PrintException(ex, "ServerObjectTable::ReclaimIdleObjects\n");
        continue;
      }
      ACE_DEBUG((LM_INFO, ACE_TEXT("(%P|%t) ServerObjectTable: reclaimed a server object of user \"%C\", "
                                    "idle for %d s\n"), user.c_str(), static_cast<int>(idleSeconds)));
      ++reclaimed;
    }
    return reclaimed;
  }

  void ServerObjectTable::ForEachServer(const std::function<void(SyncServerImpl&)>& visit)
  {
    struct Held
    {
      PortableServer::ServantBase_var holder;  // keeps the servant while it is visited
      SyncServerImpl* server;
    };
    std::vector<Held> servers;
    {
      ACE_GUARD(ACE_Thread_Mutex, guard, m_lock);
      for (iterator entry = begin(); entry != end(); ++entry)
      {
        try
        {
          Held held{PortableServer::ServantBase_var(), nullptr};
          held.server = ServerOf(entry->second.in(), held.holder);
          if (held.server)
            servers.push_back(std::move(held));
        }
        catch (const CORBA::Exception&)
        {
          // deactivated while still in the table: nothing to visit
        }
      }
    }
    for (Held& held : servers)
      visit(*held.server);
  }

  void ServerObjectTable::CleanUp()
  {
    ACE_GUARD(ACE_Thread_Mutex, guard, m_lock);
    for (iterator entry = begin(); entry != end(); ++entry)
    {
      PortableServer::ObjectId id(entry->first);
      m_poa->deactivate_object(id);
    }
    clear();
    m_userOf.clear();
    m_objectsOf.clear();
  }

  void ServerObjectTable::LetGo()
  {
    // Released after the lock: the last reference takes the POA, and with
    // it the thread of its servant activator, down.
    std::map<PortableServer::ObjectId, Krovane::ISyncServer_var, Krovane::ObjectIdComparer> objects;
    PortableServer::POA_var poa;
    {
      ACE_GUARD(ACE_Thread_Mutex, guard, m_lock);
      swap(objects);
      m_userOf.clear();
      m_objectsOf.clear();
      poa = m_poa._retn();
    }
  }
}
