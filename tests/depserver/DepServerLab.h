// DepServerLab: dependent-server routers in one process. The ORB, a POA
// for the routers (the object table's) and scripted stand-ins: a factory
// whose CreateObject fails as told, dependent server objects that record
// what reaches them, a router whose work can be held, and a handler that
// records its callbacks. Calls between them are local calls of the ORB.
//
// Threads: the test's thread drives; pool threads run the work and the
// callbacks. Every wait is bounded.
#ifndef KRO_TESTS_DEPSERVER_DEPSERVERLAB_H
#define KRO_TESTS_DEPSERVER_DEPSERVERLAB_H

#include "KroServer/AsynchronousDepServerRouter.h"
#include "Krovane.hh"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace KroTest
{
  using Seconds = std::chrono::seconds;

  // The process ORB and the POA of the routers.
  class DepServerEnvironment : public ::testing::Environment
  {
  public:
    void SetUp() override;
    void TearDown() override;

    // The POA of the routers (the object table's); not a new reference.
    static PortableServer::POA_ptr RouterPOA();
    // The root POA: factories, dependents and handlers; not a new reference.
    static PortableServer::POA_ptr RootPOA();
  };

  // What a scripted call does.
  enum class Failure { None, CommFailure, Transient, StillActive };

  // Raises what failure says (nothing for None).
  void Raise(Failure failure);

  // A servant active in a POA for the life of this holder.
  template <typename Servant>
  class Active
  {
  public:
    // Takes the creator's reference to servant.
    Active(PortableServer::POA_ptr poa, Servant* servant)
      : m_poa(PortableServer::POA::_duplicate(poa)), m_servant(servant), m_owner(servant)
    {
      m_id = m_poa->activate_object(servant);
      m_object = m_poa->id_to_reference(m_id.in());
    }
    ~Active()
    {
      try
      {
        m_poa->deactivate_object(m_id.in());
      }
      catch (const CORBA::Exception&)
      {
        // deactivated already
      }
    }
    Active(const Active&) = delete;
    Active& operator=(const Active&) = delete;

    Servant* operator->() const { return m_servant; }
    Servant& operator*() const { return *m_servant; }
    CORBA::Object_ptr Object() const { return m_object.in(); }

  private:
    PortableServer::POA_var m_poa;             // where it is active
    Servant* m_servant;                        // owned through m_owner
    PortableServer::ServantBase_var m_owner;   // the creator's reference
    PortableServer::ObjectId_var m_id;         // its id
    CORBA::Object_var m_object;                // its reference
  };

  // A client's handler that records Status texts and Finished.
  class RecordingHandler : public virtual POA_Krovane::IAsyncHandler,
                           public virtual PortableServer::RefCountServantBase
  {
  public:
    void Queued(CORBA::Long) override {}
    void Status(const char* text) override;
    void Progress(CORBA::Double) override {}
    void Results(const CORBA::Any&) override {}
    void Finished(const CORBA::Any&) override;
    void Error(Krovane::IAsyncExceptionHolder_ptr holder) override;
    void SyncQueued(CORBA::Long) override {}
    void SyncStatus(const char* text) override { Status(text); }
    void SyncProgress(CORBA::Double) override {}
    void SyncResults(const CORBA::Any&) override {}
    void SyncFinished(const CORBA::Any& data) override { Finished(data); }
    void SyncError(Krovane::IAsyncExceptionHolder_ptr holder) override { Error(holder); }

    // Waits until Finished has come times times, at most timeout.
    bool WaitForFinished(int times = 1, Seconds timeout = Seconds(20));
    int FinishedCount();
    std::vector<std::string> Statuses();
    // The reasons of the SysException holders of Error, in order ("?" for another holder).
    std::vector<std::string> Errors();

  private:
    std::mutex m_lock;                   // guards the records
    std::condition_variable m_changed;   // signalled on each Finished
    std::vector<std::string> m_statuses; // Status texts, in order
    std::vector<std::string> m_errors;   // what each Error's holder raised
    int m_finished = 0;                  // Finished calls
  };

  // A dependent server object: records what reaches it; Remove fails as told.
  class TestDependent : public virtual POA_Krovane::IAsyncServer,
                        public virtual PortableServer::RefCountServantBase
  {
  public:
    explicit TestDependent(Failure removeFailure) : m_removeFailure(removeFailure) {}

    char* GetMachineInfo() override { return CORBA::string_dup("dependent"); }
    void Remove() override;
    void CancelAllOperations() override {}
    void UpdateUserToken(const Krovane::UserToken&) override {}
    void CancelOperation(CORBA::Long operationId) override;
    Krovane::OperationState GetOperationState(CORBA::Long) override { return Krovane::Running; }
    void RegisterNewHandler(CORBA::Long, Krovane::IAsyncHandler_ptr) override {}

    int Removes();
    std::vector<int> Cancelled();

  private:
    const Failure m_removeFailure;  // what Remove does
    std::mutex m_lock;              // guards the records
    int m_removes = 0;              // Remove calls
    std::vector<int> m_cancelled;   // ids of CancelOperation calls
  };

  // A dependent server's factory. Each CreateObject takes the next scripted
  // failure (None once the script is used up) and otherwise makes a
  // TestDependent in the root POA.
  class TestFactory : public virtual POA_Krovane::IServerFactory,
                      public virtual PortableServer::RefCountServantBase
  {
  public:
    ~TestFactory() override;
    Krovane::ISyncServer_ptr CreateObject(const Krovane::UserToken& token) override;

    // The failures of the next calls, in order.
    void Script(std::deque<Failure> failures);
    // How the Remove of the dependents made from now on fails.
    void FailRemove(Failure failure);
    int Calls();
    // The octets of the last token received.
    std::string LastToken();
    // The last dependent made (kept alive by the factory), or null.
    TestDependent* LastDependent();
    // Whether object is the last dependent made.
    bool IsLastDependent(CORBA::Object_ptr object);

  private:
    std::mutex m_lock;                       // guards everything below
    std::deque<Failure> m_script;            // failures of the next calls
    Failure m_removeFailure = Failure::None; // for new dependents
    int m_calls = 0;                         // CreateObject calls
    std::string m_lastToken;                 // octets of the last token
    std::vector<PortableServer::ObjectId_var> m_ids;  // the dependents made, active in the root POA
    PortableServer::ServantBase_var m_last;  // the last dependent
  };

  // A router whose work records that it ran and what it saw, and, when
  // held, waits until released (at most 20 s).
  class TestRouter : public Krovane::AsynchronousDepServerRouter
  {
  public:
    TestRouter(Krovane::DependentServerList* list, int maxThreads = 5);

    void ExecuteOperation(const std::string& name, std::vector<Halvern_Utilities::Variant>* parameters) override;

    // Submits an operation with no parameters for handler; returns its id.
    int Submit(CORBA::Object_ptr handler, Krovane::Restartable restartable = Krovane::Restartable::No);
    // The next works (this many) raise DependentServerLost "lost on <entry>".
    void LoseDependent(int works);
    // The entries the works ran on, in order.
    std::vector<std::string> RanOn();

    // Makes the next works wait in ExecuteOperation until Release.
    void Hold();
    void Release();
    // Waits until the executions-th work has started, at most timeout.
    bool WaitUntilWorking(int executions = 1, Seconds timeout = Seconds(20));
    int Executions();
    // Whether the dependent object was attached while the work ran.
    bool SawServer();
    // The thread that ran the last work.
    unsigned long WorkThread();
    // Which list holds the operation.
    bool IsActive(int operationId);
    bool IsFinished(int operationId);

  private:
    std::mutex m_gateLock;              // guards the fields below
    std::condition_variable m_changed;  // signalled on start and release
    bool m_held = false;                // works wait for Release
    int m_executions = 0;               // works started
    bool m_sawServer = false;           // GetServer() was not nil in the last work
    unsigned long m_workThread = 0;     // the thread of the last work
    int m_losses = 0;                   // works still to raise DependentServerLost
    std::vector<std::string> m_ranOn;   // the entry of each work
  };

  // An entry's fields, read under the registry's access lock.
  struct EntryState
  {
    bool available;
    int opId;
    unsigned long threadId;
    bool hasHandler;
  };
  EntryState StateOf(Krovane::DependentServerEntry& entry);

  // A free entry of factory named name.
  Krovane::DependentServerEntry* NewEntry(const std::string& name, CORBA::Object_ptr factory, bool available);

  // Forgets the process registry (for tests that run one after another in
  // one process; no router may be working).
  void ResetRegistry();

  // Waits until every thread of the process's pool is back for work and no
  // item waits, at most timeout; returns whether it came to that. A handler
  // hears Finished before the operation has ended: its pool thread then
  // still lets the handler and the router go. For when every operation
  // submitted has been heard to end or was withdrawn (an item just taken
  // from the queue still counts as idle for a moment).
  bool WaitUntilPoolIdle(Seconds timeout = Seconds(20));
}

#endif
