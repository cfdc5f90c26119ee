#include "DepServerLab.h"

#include "KroDazadared/KroSystem.h"
#include "KroServer/ServerFactoryImpl.h"
#include "KroServer/ThreadPoolThreadingPolicy.h"
#include "unit/PoolTestItems.h"

#include <ace/Guard_T.h>
#include <ace/Thread.h>

namespace KroTest
{
  namespace
  {
    PortableServer::POA_var s_root;          // the root POA
    PortableServer::POA_var s_routers;       // the routers' POA
    PortableServer::ServantBase_var s_table; // the factory that fixed the table's POA

    ::testing::Environment* const s_environment =
      ::testing::AddGlobalTestEnvironment(new DepServerEnvironment);
  }

  void DepServerEnvironment::SetUp()
  {
    static char program[] = "DepServerTest";
    char* argv[] = {program, nullptr};
    int argc = 1;
    Krovane::KroSystem::Instance(1)->InitOrb(argc, argv);
    s_root = Krovane::KroSystem::Instance(1)->GetRootPOA();
    PortableServer::POAManager_var manager = s_root->the_POAManager();
    CORBA::PolicyList policies;
    policies.length(0);
    s_routers = s_root->create_POA("Routers", manager.in(), policies);
    // The first factory of the process gives the object table its POA.
    s_table = new Krovane::ServerFactoryImpl(s_routers.in());
  }

  void DepServerEnvironment::TearDown()
  {
    s_table = nullptr;
    s_routers = PortableServer::POA::_nil();
    s_root = PortableServer::POA::_nil();
    Krovane::KroSystem::Instance(1)->Destroy();
  }

  PortableServer::POA_ptr DepServerEnvironment::RouterPOA() { return s_routers.in(); }
  PortableServer::POA_ptr DepServerEnvironment::RootPOA() { return s_root.in(); }

  void Raise(Failure failure)
  {
    switch (failure)
    {
      case Failure::None: return;
      case Failure::CommFailure: throw CORBA::COMM_FAILURE(0, CORBA::COMPLETED_NO);
      case Failure::Transient: throw CORBA::TRANSIENT(0, CORBA::COMPLETED_NO);
      case Failure::StillActive: throw Krovane::OperationsStillActive();
    }
  }

  void RecordingHandler::Status(const char* text)
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_statuses.push_back(text);
  }

  void RecordingHandler::Finished(const CORBA::Any&)
  {
    std::lock_guard<std::mutex> guard(m_lock);
    ++m_finished;
    m_changed.notify_all();
  }

  bool RecordingHandler::WaitForFinished(int times, Seconds timeout)
  {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_changed.wait_for(guard, timeout, [&] { return m_finished >= times; });
  }

  int RecordingHandler::FinishedCount()
  {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_finished;
  }

  std::vector<std::string> RecordingHandler::Statuses()
  {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_statuses;
  }

  void RecordingHandler::Error(Krovane::IAsyncExceptionHolder_ptr holder)
  {
    std::string raised = "?";
    try
    {
      holder->raise();
    }
    catch (const Krovane::SysException& ex)
    {
      raised = ex.reason.in();
    }
    catch (const CORBA::Exception&)
    {
    }
    std::lock_guard<std::mutex> guard(m_lock);
    m_errors.push_back(raised);
  }

  std::vector<std::string> RecordingHandler::Errors()
  {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_errors;
  }

  void TestDependent::Remove()
  {
    {
      std::lock_guard<std::mutex> guard(m_lock);
      ++m_removes;
    }
    Raise(m_removeFailure);
  }

  void TestDependent::CancelOperation(CORBA::Long operationId)
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_cancelled.push_back(operationId);
  }

  int TestDependent::Removes()
  {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_removes;
  }

  std::vector<int> TestDependent::Cancelled()
  {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_cancelled;
  }

  TestFactory::~TestFactory()
  {
    for (const PortableServer::ObjectId_var& id : m_ids)
    {
      try
      {
        s_root->deactivate_object(id.in());
      }
      catch (const CORBA::Exception&)
      {
        // the ORB is gone already
      }
    }
  }

  Krovane::ISyncServer_ptr TestFactory::CreateObject(const Krovane::UserToken& token)
  {
    std::lock_guard<std::mutex> guard(m_lock);
    ++m_calls;
    m_lastToken.assign(reinterpret_cast<const char*>(token.get_buffer()), token.length());
    Failure failure = Failure::None;
    if (!m_script.empty())
    {
      failure = m_script.front();
      m_script.pop_front();
    }
    Raise(failure);

    TestDependent* dependent = new TestDependent(m_removeFailure);
    m_last = dependent;
    m_ids.push_back(s_root->activate_object(dependent));
    CORBA::Object_var object = s_root->id_to_reference(m_ids.back().in());
    return Krovane::ISyncServer::_narrow(object.in());
  }

  void TestFactory::Script(std::deque<Failure> failures)
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_script = std::move(failures);
  }

  void TestFactory::FailRemove(Failure failure)
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_removeFailure = failure;
  }

  int TestFactory::Calls()
  {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_calls;
  }

  std::string TestFactory::LastToken()
  {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_lastToken;
  }

  TestDependent* TestFactory::LastDependent()
  {
    std::lock_guard<std::mutex> guard(m_lock);
    return dynamic_cast<TestDependent*>(m_last.in());
  }

  bool TestFactory::IsLastDependent(CORBA::Object_ptr object)
  {
    if (CORBA::is_nil(object))
      return false;
    PortableServer::ServantBase_var servant = s_root->reference_to_servant(object);
    return servant.in() == LastDependent();
  }

  TestRouter::TestRouter(Krovane::DependentServerList* list, int maxThreads)
    : Krovane::AsynchronousDepServerRouter(DepServerEnvironment::RouterPOA(), Krovane::IAsyncServer::_nil(),
                                           maxThreads, 0, list, nullptr)
  {
    Krovane::UserToken token;
    token.length(5);
    std::copy_n("alice", 5, token.get_buffer());
    SetUserToken(token);
  }

  void TestRouter::ExecuteOperation(const std::string&, std::vector<Halvern_Utilities::Variant>*)
  {
    Krovane::IAsyncServer_var server = GetServer();
    Krovane::DependentServerEntry* entry = GetDepServerEntry();
    std::unique_lock<std::mutex> guard(m_gateLock);
    m_ranOn.push_back(entry ? entry->GetServerName() : "");
    if (m_losses > 0)
    {
      --m_losses;
      throw DependentServerLost{"lost on " + m_ranOn.back()};
    }
    ++m_executions;
    m_sawServer = !CORBA::is_nil(server.in());
    m_workThread = static_cast<unsigned long>(ACE_Thread::self());
    m_changed.notify_all();
    m_changed.wait_for(guard, Seconds(20), [this] { return !m_held; });
  }

  int TestRouter::Submit(CORBA::Object_ptr handler, Krovane::Restartable restartable)
  {
    Krovane::IAsyncHandler_var reference = Krovane::IAsyncHandler::_narrow(handler);
    return SubmitAsynchronousOperation("work", Krovane::IAsyncServer::_nil(), reference.in(), nullptr, restartable);
  }

  void TestRouter::LoseDependent(int works)
  {
    std::lock_guard<std::mutex> guard(m_gateLock);
    m_losses = works;
  }

  std::vector<std::string> TestRouter::RanOn()
  {
    std::lock_guard<std::mutex> guard(m_gateLock);
    return m_ranOn;
  }

  void TestRouter::Hold()
  {
    std::lock_guard<std::mutex> guard(m_gateLock);
    m_held = true;
  }

  void TestRouter::Release()
  {
    std::lock_guard<std::mutex> guard(m_gateLock);
    m_held = false;
    m_changed.notify_all();
  }

  bool TestRouter::WaitUntilWorking(int executions, Seconds timeout)
  {
    std::unique_lock<std::mutex> guard(m_gateLock);
    return m_changed.wait_for(guard, timeout, [&] { return m_executions >= executions; });
  }

  int TestRouter::Executions()
  {
    std::lock_guard<std::mutex> guard(m_gateLock);
    return m_executions;
  }

  bool TestRouter::SawServer()
  {
    std::lock_guard<std::mutex> guard(m_gateLock);
    return m_sawServer;
  }

  unsigned long TestRouter::WorkThread()
  {
    std::lock_guard<std::mutex> guard(m_gateLock);
    return m_workThread;
  }

  bool TestRouter::IsActive(int operationId)
  {
    ACE_GUARD_RETURN(ACE_Recursive_Thread_Mutex, guard, m_asyncLock, false);
    return FindActive(operationId) != nullptr;
  }

  bool TestRouter::IsFinished(int operationId)
  {
    ACE_GUARD_RETURN(ACE_Recursive_Thread_Mutex, guard, m_asyncLock, false);
    return FindFinished(operationId) != nullptr;
  }

  EntryState StateOf(Krovane::DependentServerEntry& entry)
  {
    ACE_Guard<ACE_Thread_Mutex> guard(*Krovane::AsynchronousDepServerRouter::GetAccessLock());
    Krovane::IAsyncHandler_var handler = entry.GetHandler();
    return EntryState{entry.isAvailable(), entry.GetOpId(), entry.GetThreadId(), !CORBA::is_nil(handler.in())};
  }

  Krovane::DependentServerEntry* NewEntry(const std::string& name, CORBA::Object_ptr factory, bool available)
  {
    Krovane::IServerFactory_var reference = Krovane::IServerFactory::_narrow(factory);
    auto* entry = new Krovane::DependentServerEntry;
    entry->SetServerName(name);
    entry->SetFactory(reference.in());
    entry->SetAvailable(available);
    return entry;
  }

  void ResetRegistry()
  {
    ACE_Guard<ACE_Thread_Mutex> guard(*Krovane::AsynchronousDepServerRouter::GetAccessLock());
    Krovane::AsynchronousDepServerRouter::s_pDSList = nullptr;
  }

  bool WaitUntilPoolIdle(Seconds timeout)
  {
    // The pool tells nobody when it falls idle: its counts are looked at
    // until they say so (a thread counts as idle once it is back asking
    // for work, after everything of its last item is done).
    const Krovane::ThreadPoolThreadingPolicy& pool = *Krovane::AsynchronousRouter::s_pThreadPoolThreadingPolicy;
    return PoolTest::WaitUntil([&pool] {
      const Krovane::PoolSnapshot snapshot = pool.Snapshot();
      return snapshot.waiting == 0 && snapshot.idle == snapshot.threads;
    }, timeout);
  }
}
