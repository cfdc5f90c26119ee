#include "KroServer/SyncServerImpl.h"

#include "KroServer/Operation.h"
#include "KroServer/OpnType.h"
#include "KroServer/ServerObjectTable.h"
#include "KroServer/SynchronousOperation.h"
#include "KroServer/UserTokenOctets.h"
#include "KroServer/UserVerifier.h"

#include "Dazadared/MachineInfo.h"

#include <ace/Guard_T.h>

#include <chrono>
#include <string>

namespace Krovane
{
  namespace
  {
    // The machine description, filled by the first call that learns one.
    struct MachineInfoCache
    {
      ACE_Thread_Mutex lock;  // guards text
      std::string text;       // empty until filled
    };

    long long SteadyMilliseconds()
    {
      return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch()).count();
    }

    MachineInfoCache& Cache()
    {
      static MachineInfoCache* cache = new MachineInfoCache;  // lives to process end
      return *cache;
    }
  }

  SyncServerImpl::SyncServerImpl(PortableServer::POA_ptr poa, int trackOperations)
    : m_operations(trackOperations ? new OperationList : nullptr),
      m_nextOperationId(1),
      m_poa(PortableServer::POA::_duplicate(poa)),
      m_refCount(1),
      m_lastUsed(SteadyMilliseconds())
  {
  }

  SyncServerImpl::~SyncServerImpl()
  {
    if (m_operations)
    {
      ACE_GUARD(ACE_Thread_Mutex, guard, m_lock);
      for (Operation* operation : *m_operations)
        delete operation;
      m_operations->clear();
      delete m_operations;
      m_operations = nullptr;
    }
  }

  void SyncServerImpl::AddOperation(Operation* operation)
  {
    if (!m_operations || !operation)
      return;
    ACE_GUARD(ACE_Thread_Mutex, guard, m_lock);
    m_operations->push_back(operation);
  }

  void SyncServerImpl::RemoveOperation(Operation* operation)
  {
    if (!m_operations || !operation)
      return;
    ACE_GUARD(ACE_Thread_Mutex, guard, m_lock);
    m_operations->remove(operation);
  }

  int SyncServerImpl::NumOperations()
  {
    if (!m_operations)
      return 0;
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, m_lock, 0);
    return static_cast<int>(m_operations->size());
  }

  const Halvern_Utilities::UserPacket& SyncServerImpl::GetUserPacket() const
  {
    return m_userPacket;
  }

  void SyncServerImpl::SetUserPacket(const Halvern_Utilities::UserPacket& packet)
  {
    m_userPacket = packet;
  }

  void SyncServerImpl::SetUserToken(const Krovane::UserToken& token)
  {
    UserVerifier::Check(token);
    m_userPacket.SetToken(UserTokenOctets::Text(token));
  }

  std::string SyncServerImpl::UserName() const
  {
    return UserVerifier::UserOf(GetUserPacket().GetToken());
  }

  void SyncServerImpl::MarkUsed()
  {
    m_lastUsed.store(SteadyMilliseconds(), std::memory_order_relaxed);
  }

  long long SyncServerImpl::IdleMilliseconds() const
  {
    return SteadyMilliseconds() - m_lastUsed.load(std::memory_order_relaxed);
  }

  int SyncServerImpl::NumQueuedOperations()
  {
    return 0;
  }

  int SyncServerImpl::NumAsynchronousOperations()
  {
    return 0;
  }

  int SyncServerImpl::CancelForStop()
  {
    return 0;
  }

  Krovane::UserToken* SyncServerImpl::GetUserToken()
  {
    // A 0 octet after the token, outside its length: callers may read the buffer as a C string.
    const std::string text = GetUserPacket().GetToken();
    const CORBA::ULong length = static_cast<CORBA::ULong>(text.size());
    Krovane::UserToken* token = new Krovane::UserToken(length + 1);
    token->length(length + 1);
    UserTokenOctets::CopyTo(text, token->get_buffer());
    (*token)[length] = 0;
    token->length(length);
    return token;
  }

  void SyncServerImpl::UpdateUserToken(const Krovane::UserToken& token)
  {
    SetUserToken(token);
  }

  void SyncServerImpl::ServiceCancellation()
  {
    SynchronousOperation* current = threadLocalOperation->m_operation;
    if (current && current->GetState() == Cancelled)
      throw OperationCancelled();
  }

  int SyncServerImpl::MakeNewOperationID()
  {
    return m_nextOperationId++;
  }

  void SyncServerImpl::CancelAllOperations()
  {
    if (!m_operations)
      return;
    ACE_GUARD(ACE_Thread_Mutex, guard, m_lock);
    for (Operation* operation : *m_operations)
      operation->Cancel();
    m_operations->clear();
  }

  char* SyncServerImpl::GetMachineInfo()
  {
    MachineInfoCache& cache = Cache();
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, cache.lock, CORBA::string_dup(""));
    if (cache.text.empty())
      cache.text = Halvern_Utilities::GetMachineInfo();
    return CORBA::string_dup(cache.text.c_str());
  }

  void SyncServerImpl::Remove()
  {
    RefuseWhileRequestsRun();
    LeaveTable();
  }

  void SyncServerImpl::RefuseWhileRequestsRun()
  {
    if (!m_operations)
      return;
    ACE_GUARD(ACE_Thread_Mutex, guard, m_lock);
    if (m_operations->size() > 1)
      throw OperationsStillActive();
  }

  void SyncServerImpl::LeaveTable()
  {
    ServerObjectTable* table = ServerObjectTable::Instance(PortableServer::POA::_nil());
    Krovane::ISyncServer_var self = OwnReference<Krovane::ISyncServer>();
    table->RemoveObject(self.in());
  }

  void SyncServerImpl::_add_ref()
  {
    m_refCount.fetch_add(1, std::memory_order_relaxed);
  }

  void SyncServerImpl::_remove_ref()
  {
    if (m_refCount.fetch_sub(1, std::memory_order_acq_rel) == 1)
      delete this;
  }

  CORBA::ULong SyncServerImpl::_refcount_value()
  {
    return m_refCount.load();
  }

  PortableServer::POA_ptr SyncServerImpl::_default_POA()
  {
    return PortableServer::POA::_duplicate(m_poa.in());
  }
}
