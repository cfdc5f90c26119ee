#include "KroServer/OperationHandles.h"

#include "KroServer/SynchronousOperation.h"

#include <ace/Guard_T.h>
#include <ace/Thread_Mutex.h>

#include <unordered_map>

namespace Krovane
{
  namespace
  {
    struct HandleTable
    {
      ACE_Thread_Mutex lock;                                           // guards the rest
      unsigned int next = 1;                                           // the next handle to try
      std::unordered_map<unsigned int, SynchronousOperation*> records;  // handle -> record
    };

    HandleTable& Table()
    {
      static HandleTable* table = new HandleTable;  // lives to process end
      return *table;
    }
  }

  unsigned int OperationHandles::HandleOf(SynchronousOperation* operation)
  {
    if (!operation)
      return 0;
    const unsigned int known = operation->m_callHandle.load();
    if (known != 0)
      return known;

    HandleTable& table = Table();
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, table.lock, 0);
    if (operation->m_callHandle.load() != 0)
      return operation->m_callHandle.load();
    while (table.next == 0 || table.records.count(table.next) != 0)
      ++table.next;
    const unsigned int handle = table.next++;
    table.records[handle] = operation;
    operation->m_callHandle.store(handle);
    return handle;
  }

  SynchronousOperation* OperationHandles::OperationOf(unsigned int handle)
  {
    if (handle == 0)
      return nullptr;
    HandleTable& table = Table();
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, table.lock, nullptr);
    auto entry = table.records.find(handle);
    return entry == table.records.end() ? nullptr : entry->second;
  }

  void OperationHandles::Forget(SynchronousOperation* operation)
  {
    HandleTable& table = Table();
    ACE_GUARD(ACE_Thread_Mutex, guard, table.lock);
    const unsigned int handle = operation->m_callHandle.exchange(0);
    if (handle != 0)
      table.records.erase(handle);
  }
}
