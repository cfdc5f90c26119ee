#include "KroServer/ServerObjectTable.h"

#include "KroServer/SyncServerImpl.h"
#include "OrbLayer/PrintException.h"

#include <ace/Guard_T.h>
#include <ace/Log_Msg.h>

#include <atomic>

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
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, m_lock, 0);
    if (find(id.in()) != end())
      return 0;
    insert(value_type(id.in(), Krovane::ISyncServer::_duplicate(object)));
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) ServerObjectTable::AddObject() Added Object\n")));
    return 1;
  }

  int ServerObjectTable::RemoveObject(Krovane::ISyncServer_ptr object)
  {
    PortableServer::ObjectId_var id = IdOf(object);
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, m_lock, 0);
    iterator entry = find(id.in());
    if (entry == end())
      return 0;
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) ServerObjectTable::RemoveObject() removed object\n")));
    erase(entry);
    return 1;
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

  void ServerObjectTable::CleanUp()
  {
    ACE_GUARD(ACE_Thread_Mutex, guard, m_lock);
    for (iterator entry = begin(); entry != end(); ++entry)
    {
      PortableServer::ObjectId id(entry->first);
      m_poa->deactivate_object(id);
    }
    clear();
  }
}
