// Dependent-server routers in one process: which registry entry an
// operation claims and how it is freed, the operation's life when no entry
// is free, failures of the dependent server's factory and of its Remove,
// cancellation of a waiting operation, and the router kept busy by a
// running operation that CancelAllOperations took off its list. The
// dependent servers are local stand-ins (DepServerLab); TiersProcessTest
// does the same across processes with a naming service.
#include "DepServerLab.h"

#include "support/LogCapture.h"

#include "KroServer/ThreadPoolThreadingPolicy.h"

#include <memory>

namespace
{
  using namespace KroTest;
  using Krovane::DependentServerEntry;
  using Krovane::DependentServerList;

  const unsigned long c_neverClaimed = 0xFFFFFFFF;  // an entry's thread id until its first release

  class DependentRouterTest : public ::testing::Test
  {
  protected:
    void SetUp() override { ResetRegistry(); }

    // Again for a test that ended early (a failed ASSERT), so that the
    // next one starts with an idle pool.
    void TearDown() override { ExpectPoolIdle(); }

    // Called last in each test, before its servants, entries and lists go:
    // the pool thread of its last operation may still be ending it.
    void ExpectPoolIdle() { EXPECT_TRUE(WaitUntilPoolIdle()) << "a pool thread is still busy"; }

    PortableServer::POA_ptr Root() { return DepServerEnvironment::RootPOA(); }
    PortableServer::POA_ptr Routers() { return DepServerEnvironment::RouterPOA(); }
  };

  TEST_F(DependentRouterTest, WithoutAFreeEntryTheOperationEndsWithoutWork)
  {
    Active<TestFactory> factory(Root(), new TestFactory);
    Active<RecordingHandler> handler(Root(), new RecordingHandler);

    // A router given no list leaves the registry unset, and its operation
    // finds nothing to claim.
    Active<TestRouter> unlisted(Routers(), new TestRouter(nullptr));
    EXPECT_EQ(unlisted->GetDepServerList(), nullptr);
    const int first = unlisted->Submit(handler.Object());
    ASSERT_TRUE(handler->WaitForFinished(1));
    EXPECT_EQ(unlisted->GetOperationState(first), Krovane::Finished);

    // The next router's list becomes the registry, for every router; a
    // later list is ignored.
    std::unique_ptr<DependentServerEntry> busy(NewEntry("busy", factory.Object(), false));
    DependentServerList allBusy;
    allBusy.push_back(busy.get());
    Active<TestRouter> router(Routers(), new TestRouter(&allBusy));
    DependentServerList ignored;
    Active<TestRouter> later(Routers(), new TestRouter(&ignored));
    EXPECT_EQ(router->GetDepServerList(), &allBusy);
    EXPECT_EQ(unlisted->GetDepServerList(), &allBusy);
    EXPECT_EQ(later->GetDepServerList(), &allBusy);

    // Every entry unavailable: Finished at once, nothing claimed.
    const int second = router->Submit(handler.Object());
    ASSERT_TRUE(handler->WaitForFinished(2));
    EXPECT_EQ(router->GetOperationState(second), Krovane::Finished);
    EXPECT_FALSE(StateOf(*busy).available);
    EXPECT_EQ(StateOf(*busy).threadId, c_neverClaimed);

    EXPECT_EQ(unlisted->Executions() + router->Executions(), 0);
    EXPECT_EQ(factory->Calls(), 0);
    ExpectPoolIdle();
  }

  TEST_F(DependentRouterTest, AnOperationClaimsTheFirstFreeEntryAndFreesItAtTheEnd)
  {
    Active<TestFactory> factory(Root(), new TestFactory);
    Active<RecordingHandler> handler(Root(), new RecordingHandler);
    std::unique_ptr<DependentServerEntry> busy(NewEntry("busy", factory.Object(), false));
    std::unique_ptr<DependentServerEntry> first(NewEntry("first", factory.Object(), true));
    std::unique_ptr<DependentServerEntry> second(NewEntry("second", factory.Object(), true));
    DependentServerList registry;
    registry.push_back(busy.get());
    registry.push_back(first.get());
    registry.push_back(second.get());
    Active<TestRouter> router(Routers(), new TestRouter(&registry));

    for (int round = 1; round <= 2; ++round)
    {
      SCOPED_TRACE("operation " + std::to_string(round));
      router->Hold();
      const int id = router->Submit(handler.Object());
      ASSERT_TRUE(router->WaitUntilWorking(round));

      // Running: the first free entry is claimed for this operation and
      // thread, and the dependent object made for the router's user is attached.
      EntryState claimed = StateOf(*first);
      EXPECT_FALSE(claimed.available);
      EXPECT_EQ(claimed.opId, id);
      EXPECT_EQ(claimed.threadId, router->WorkThread());
      EXPECT_TRUE(claimed.hasHandler);
      EXPECT_EQ(router->GetDepServerEntry(), first.get());
      EXPECT_TRUE(router->SawServer());
      Krovane::IAsyncServer_var attached = router->GetServer();
      EXPECT_TRUE(factory->IsLastDependent(attached.in()));
      EXPECT_EQ(factory->LastToken(), std::string("alice"));  // the token as the client sent it, no zero added
      TestDependent* dependent = factory->LastDependent();
      ASSERT_NE(dependent, nullptr);

      // One operation at a time; an unknown id is passed on before it is
      // refused; no removal while the operation is active.
      EXPECT_THROW(router->Submit(handler.Object()), Krovane::Unavailable);
      EXPECT_THROW(router->CancelOperation(99), Krovane::InvalidOperationId);
      EXPECT_EQ(dependent->Cancelled(), std::vector<int>{99});
      EXPECT_THROW(router->Remove(), Krovane::OperationsStillActive);

      router->Release();
      ASSERT_TRUE(handler->WaitForFinished(round));
      EXPECT_EQ(router->GetOperationState(id), Krovane::Finished);
      EntryState freed = StateOf(*first);
      EXPECT_TRUE(freed.available);
      EXPECT_EQ(freed.opId, 0);
      EXPECT_EQ(freed.threadId, 0u);
      EXPECT_FALSE(freed.hasHandler);
      EXPECT_EQ(router->GetDepServerEntry(), nullptr);
      EXPECT_EQ(dependent->Removes(), 1);
      attached = router->GetServer();
      EXPECT_TRUE(CORBA::is_nil(attached.in()));
    }
    // The second free entry was never needed.
    EXPECT_EQ(StateOf(*second).threadId, c_neverClaimed);
    EXPECT_EQ(router->Executions(), 2);
    ExpectPoolIdle();
  }

  TEST_F(DependentRouterTest, CreateObjectIsRetriedOnceAfterCommFailureOnly)
  {
    const std::string retryLine = "(%P|%t) AsynchronousDepServerRouter::DispatchOperation(COMM_FAILURE - retrying)\n";
    LogCapture log;
    Active<TestFactory> factory(Root(), new TestFactory);
    Active<RecordingHandler> handler(Root(), new RecordingHandler);
    std::unique_ptr<DependentServerEntry> entry(NewEntry("only", factory.Object(), true));
    DependentServerList registry;
    registry.push_back(entry.get());
    Active<TestRouter> router(Routers(), new TestRouter(&registry));

    factory->Script({Failure::CommFailure, Failure::None});
    router->Submit(handler.Object());
    ASSERT_TRUE(handler->WaitForFinished(1));
    EXPECT_EQ(factory->Calls(), 2);
    EXPECT_EQ(router->Executions(), 1);
    EXPECT_EQ(log.Count(retryLine), 1);

    factory->Script({Failure::Transient, Failure::None});
    ::testing::internal::CaptureStdout();
    const int id = router->Submit(handler.Object());
    const bool finished = handler->WaitForFinished(2);
    const std::string printed = ::testing::internal::GetCapturedStdout();
    ASSERT_TRUE(finished);
    EXPECT_EQ(factory->Calls(), 3);
    EXPECT_EQ(router->Executions(), 1);
    EXPECT_EQ(log.Count(retryLine), 1);
    EXPECT_EQ(router->GetOperationState(id), Krovane::Finished);
    EXPECT_TRUE(StateOf(*entry).available);
    const std::string transient = "TRANSIENT (IDL:omg.org/CORBA/TRANSIENT:1.0), minor 0x0, completed NO\n";
    EXPECT_EQ(printed, "AsynchronousDepServerRouter::DispatchOperation: " + transient +
                         "AsynchronousDepServerOperation::Dispatch after narrow: " + transient);
    ExpectPoolIdle();
  }

  TEST_F(DependentRouterTest, AFailedRemoveOfTheDependentKeepsItOnlyForAUserException)
  {
    Active<TestFactory> factory(Root(), new TestFactory);
    Active<RecordingHandler> handler(Root(), new RecordingHandler);
    std::unique_ptr<DependentServerEntry> entry(NewEntry("only", factory.Object(), true));
    DependentServerList registry;
    registry.push_back(entry.get());
    Active<TestRouter> router(Routers(), new TestRouter(&registry));

    // The dependent refuses: it is still there, so the router keeps it.
    factory->FailRemove(Failure::StillActive);
    ::testing::internal::CaptureStdout();
    router->Submit(handler.Object());
    bool finished = handler->WaitForFinished(1);
    std::string printed = ::testing::internal::GetCapturedStdout();
    ASSERT_TRUE(finished);
    Krovane::IAsyncServer_var kept = router->GetServer();
    EXPECT_TRUE(factory->IsLastDependent(kept.in()));
    EXPECT_TRUE(StateOf(*entry).available);
    EXPECT_EQ(printed.rfind("AsynchronousDepServerRouter::Cleanup(): OperationsStillActive "
                            "(IDL:Krovane/OperationsStillActive:1.0)\n", 0), 0u) << printed;

    // The dependent server is gone: its reference is dropped.
    factory->FailRemove(Failure::CommFailure);
    ::testing::internal::CaptureStdout();
    router->Submit(handler.Object());
    finished = handler->WaitForFinished(2);
    printed = ::testing::internal::GetCapturedStdout();
    ASSERT_TRUE(finished);
    Krovane::IAsyncServer_var dropped = router->GetServer();
    EXPECT_TRUE(CORBA::is_nil(dropped.in()));
    EXPECT_TRUE(StateOf(*entry).available);
    EXPECT_EQ(factory->LastDependent()->Removes(), 1);
    EXPECT_EQ(printed.rfind("AsynchronousDepServerRouter::Cleanup(): COMM_FAILURE "
                            "(IDL:omg.org/CORBA/COMM_FAILURE:1.0), minor 0x0, completed NO\n", 0), 0u) << printed;
    ExpectPoolIdle();
  }

  TEST_F(DependentRouterTest, AWaitingOperationCancelledIsToldAndKeptAsCancelled)
  {
    LogCapture log;
    Active<TestFactory> factory(Root(), new TestFactory);
    Active<RecordingHandler> runningHandler(Root(), new RecordingHandler);
    Active<RecordingHandler> waitingHandler(Root(), new RecordingHandler);
    std::unique_ptr<DependentServerEntry> entry(NewEntry("only", factory.Object(), true));
    DependentServerList registry;
    registry.push_back(entry.get());

    // One pool thread, kept busy by the first router's work: the other
    // routers' operations wait in the queue.
    Active<TestRouter> running(Routers(), new TestRouter(&registry, 1));
    ASSERT_EQ(Krovane::AsynchronousRouter::s_pThreadPoolThreadingPolicy->setMax(1), 1);
    running->Hold();
    running->Submit(runningHandler.Object());
    ASSERT_TRUE(running->WaitUntilWorking());

    const std::string told = "Queued AsynchronousOperation Cancelled. OpId = 1";
    Active<TestRouter> cancelledOne(Routers(), new TestRouter(&registry));
    const int one = cancelledOne->Submit(waitingHandler.Object());
    cancelledOne->CancelOperation(one);
    EXPECT_EQ(waitingHandler->Statuses(), std::vector<std::string>{told});
    EXPECT_EQ(cancelledOne->GetOperationState(one), Krovane::Cancelled);
    EXPECT_TRUE(cancelledOne->IsFinished(one));
    EXPECT_FALSE(cancelledOne->IsActive(one));

    // CancelAllOperations keeps a waiting operation too.
    Active<TestRouter> cancelledAll(Routers(), new TestRouter(&registry));
    const int all = cancelledAll->Submit(waitingHandler.Object());
    cancelledAll->CancelAllOperations();
    EXPECT_EQ(waitingHandler->Statuses(), (std::vector<std::string>{told, told}));
    EXPECT_EQ(cancelledAll->GetOperationState(all), Krovane::Cancelled);
    EXPECT_TRUE(cancelledAll->IsFinished(all));
    EXPECT_EQ(log.Count("(%P|%t) AsyncOperation Cancel called(1)\n"), 1);

    // The running operation ends normally; the cancelled ones never run.
    running->Release();
    ASSERT_TRUE(runningHandler->WaitForFinished());
    EXPECT_EQ(cancelledOne->Executions() + cancelledAll->Executions(), 0);
    EXPECT_EQ(waitingHandler->FinishedCount(), 0);
    EXPECT_EQ(factory->Calls(), 1);
    ExpectPoolIdle();
  }

  // CancelAllOperations takes a running operation off the active list; its
  // work still holds the router's one entry and dependent server, so the
  // router takes no other operation until that work is over.
  TEST_F(DependentRouterTest, AfterCancelAllTheRouterTakesNoWorkUntilItsRunningWorkIsOver)
  {
    Active<TestFactory> factory(Root(), new TestFactory);
    Active<RecordingHandler> firstHandler(Root(), new RecordingHandler);
    Active<RecordingHandler> nextHandler(Root(), new RecordingHandler);
    std::unique_ptr<DependentServerEntry> entry(NewEntry("only", factory.Object(), true));
    DependentServerList registry;
    registry.push_back(entry.get());
    Active<TestRouter> router(Routers(), new TestRouter(&registry));

    router->Hold();
    const int first = router->Submit(firstHandler.Object());
    ASSERT_TRUE(router->WaitUntilWorking());
    router->CancelAllOperations();
    EXPECT_EQ(router->GetOperationState(first), Krovane::Cancelled);
    EXPECT_FALSE(router->IsActive(first));
    EXPECT_THROW(router->Submit(nextHandler.Object()), Krovane::Unavailable);

    router->Release();
    ASSERT_TRUE(firstHandler->WaitForFinished());
    EXPECT_EQ(router->GetOperationState(first), Krovane::Cancelled);
    const int next = router->Submit(nextHandler.Object());
    ASSERT_TRUE(nextHandler->WaitForFinished());
    EXPECT_EQ(router->GetOperationState(next), Krovane::Finished);
    EXPECT_EQ(router->Executions(), 2);
    EXPECT_TRUE(StateOf(*entry).available);
    ExpectPoolIdle();
  }
}

namespace
{
  // A dependent server lost during the work: a restartable operation runs
  // again on the next free entry, at most the retries set, its client told
  // "retrying on <entry>"; one that is not restartable, that has spent its
  // retries or finds no other free entry ends with an Error holder saying
  // what was lost. Every entry is free again afterwards.
  TEST_F(DependentRouterTest, ALostDependentServerRunsARestartableOperationAgainElsewhere)
  {
    using Krovane::Restartable;
    Active<TestFactory> factory(Root(), new TestFactory);
    std::unique_ptr<DependentServerEntry> entries[] = {
      std::unique_ptr<DependentServerEntry>(NewEntry("E1", factory.Object(), true)),
      std::unique_ptr<DependentServerEntry>(NewEntry("E2", factory.Object(), true)),
      std::unique_ptr<DependentServerEntry>(NewEntry("E3", factory.Object(), true))};
    DependentServerList registry;
    const struct
    {
      const char* what;
      Restartable restartable;
      int retries;
      int losses;   // works that lose their dependent server
      int entries;  // listed and free
      std::vector<std::string> ranOn;
      std::vector<std::string> statuses;
      std::vector<std::string> errors;
    } cases[] = {
      {"restartable, lost once", Restartable::Yes, 1, 1, 2, {"E1", "E2"}, {"retrying on E2"}, {}},
      {"not restartable", Restartable::No, 1, 1, 2, {"E1"}, {}, {"lost on E1"}},
      {"retries spent", Restartable::Yes, 1, 2, 3, {"E1", "E2"}, {"retrying on E2"}, {"lost on E2"}},
      {"two retries", Restartable::Yes, 2, 2, 3, {"E1", "E2", "E3"}, {"retrying on E2", "retrying on E3"}, {}},
      {"no other entry free", Restartable::Yes, 1, 1, 1, {"E1"}, {}, {"lost on E1"}},
      {"no retries", Restartable::Yes, 0, 1, 2, {"E1"}, {}, {"lost on E1"}},
    };
    for (const auto& test : cases)
    {
      SCOPED_TRACE(test.what);
      {
        ACE_Guard<ACE_Thread_Mutex> guard(*Krovane::AsynchronousDepServerRouter::GetAccessLock());
        registry.clear();
        for (int i = 0; i < test.entries; ++i)
          registry.push_back(entries[i].get());
      }
      Active<RecordingHandler> handler(Root(), new RecordingHandler);
      Active<TestRouter> router(Routers(), new TestRouter(&registry));
      router->SetRetries(test.retries);
      router->LoseDependent(test.losses);
      const int id = router->Submit(handler.Object(), test.restartable);
      ASSERT_TRUE(handler->WaitForFinished(1, Seconds(30)));
      EXPECT_EQ(handler->FinishedCount(), 1);
      EXPECT_EQ(router->RanOn(), test.ranOn);
      EXPECT_EQ(handler->Statuses(), test.statuses);
      EXPECT_EQ(handler->Errors(), test.errors);
      EXPECT_EQ(router->Executions(), test.errors.empty() ? 1 : 0);  // works that ended normally
      EXPECT_EQ(router->GetOperationState(id), Krovane::Finished);
      ExpectPoolIdle();
      for (int i = 0; i < test.entries; ++i)
        EXPECT_TRUE(StateOf(*entries[i]).available) << entries[i]->GetServerName();
    }
  }
}
