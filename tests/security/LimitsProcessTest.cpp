// Bounded resources across processes, on the asynchronous example server:
// per-user limits on live calculators and on waiting operations refuse the
// one too many of one user while another user is served; a killed
// client's calculators are reclaimed once unused for the reclaim time,
// while a live client's are not. Hostile clients (a callback object that
// never answers, endless work of one user, many failures) hold neither the
// pool nor the server object from other users, and the server keeps
// bounded history for them.
#include "CalculatorServer.h"

#include "support/ClientOrb.h"
#include "support/LogLines.h"
#include "support/NamingService.h"
#include "support/RawSockets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

TEST(UserLimits, TheOneTooManyOfAUserIsRefusedAnotherUserIsServed)
{
  // One pool thread: the first operation runs, the next ones wait.
  KroTest::CalculatorServer server(1, {"--max-objects-per-user", "2", "--max-queued-per-user", "2"});

  Calculator::ICalculator_var first = server.NewCalculator("alice");
  Calculator::ICalculator_var second = server.NewCalculator("alice");
  EXPECT_THROW(server.NewCalculator("alice"), CORBA::NO_RESOURCES);
  EXPECT_TRUE(server.WaitForLog(
    "(%P|%t) ServerObjectTable: user \"alice\" has 2 server objects, the limit; another refused"));
  Calculator::ICalculator_var bobs = server.NewCalculator("bob");

  Krovane::IAsyncHandler_var runningReference, waitingReference;
  KroTest::RecordingHandler& running = server.NewHandler(runningReference);
  server.NewHandler(waitingReference);
  ASSERT_EQ(1, first->Compute("pi", KroTest::kEndless, runningReference.in()));
  ASSERT_TRUE(running.WaitFor("Progress", 20s));  // out of the queue
  // Two wait, on either of alice's calculators; the third is refused.
  EXPECT_EQ(2, first->Compute("e", 1, waitingReference.in()));
  EXPECT_EQ(1, second->Compute("e", 1, waitingReference.in()));
  EXPECT_THROW(second->Compute("e", 1, waitingReference.in()), CORBA::IMP_LIMIT);
  EXPECT_TRUE(server.WaitForLog(
    "(%P|%t) AsynchronousRouter: user \"alice\" has 2 operations waiting, the limit; another refused"));
  // Bob's work waits in the same queue, under his own bound.
  EXPECT_EQ(1, bobs->Compute("e", 1, waitingReference.in()));

  // Once alice's work is gone her bounds are free again.
  first->CancelAllOperations();
  second->CancelAllOperations();
  first->Remove();
  Calculator::ICalculator_var third = server.NewCalculator("alice");
  EXPECT_EQ(1, third->Compute("e", 1, waitingReference.in()));
}

TEST(UserLimits, AKilledClientsObjectsAreReclaimedALiveClientsAreNot)
{
  KroTest::CalculatorServer server(2, {"--reclaim-seconds", "4", "--reclaim-interval", "1", "--idle-seconds", "1"});

  // Bob stays busy throughout; carol holds two calculators in a process of
  // her own and uses them until she is killed.
  Calculator::ICalculator_var bobs = server.NewCalculator("bob");
  Krovane::IAsyncHandler_var bobReference;
  KroTest::RecordingHandler& bobHandler = server.NewHandler(bobReference);
  ASSERT_EQ(1, bobs->Compute("pi", KroTest::kEndless, bobReference.in()));
  KroTest::ChildProcess carol(KRO_SECURITY_OBJECT_HOLDER,
                              {server.Server().Ior(), "carol", "2", "-ORBendPoint", "giop:tcp:127.0.0.1:"});
  ASSERT_TRUE(carol.Stdout().WaitFor("holding 2\n", 20000ms)) << carol.Describe();
  // A live client keeps them past the reclaim time.
  ASSERT_TRUE(carol.Stdout().WaitFor("used for 5 s\n", 20000ms)) << carol.Describe();
  EXPECT_EQ(0, server.LogCount("(%P|%t) account of \"carol\" deleted"));

  // Once she is gone they still count, until the reclaim time is over.
  carol.Kill();
  ASSERT_TRUE(server.WaitForLog("(%P|%t) account of \"carol\" deleted", 2)) << server.Log();
  ASSERT_TRUE(server.Server().Process().Stderr().WaitFor("Objects(1) Active Operations(1) after\n", 20000ms))
    << server.Log();
  const std::string log = server.Log();
  // Reclaimed in one pass, or in two when her last requests straddled one.
  const std::string pass = ") ServerObjectReclaimTask: reclaimed ";
  auto logged = [&log](const std::string& text) { return log.find(text) != std::string::npos; };
  const bool onePass = logged(pass + "2; Objects(3) Active Operations(1) before, Objects(1) Active Operations(1) after");
  const bool twoPasses = logged(pass + "1; Objects(3) Active Operations(1) before, Objects(2) Active Operations(1) after") &&
                         logged(pass + "1; Objects(2) Active Operations(1) before, Objects(1) Active Operations(1) after");
  EXPECT_TRUE(onePass || twoPasses) << log;
  const std::string reclaimed = ") ServerObjectTable: reclaimed a server object of user \"carol\", idle for ";
  int count = 0;
  for (size_t at = log.find(reclaimed); at != std::string::npos; at = log.find(reclaimed, at + 1))
    ++count;
  EXPECT_EQ(2, count) << log;

  // Bob never noticed.
  EXPECT_EQ(0, server.LogCount("(%P|%t) account of \"bob\" deleted"));
  EXPECT_EQ(0, bobHandler.Count("Finished"));
  bobs->CancelAllOperations();
  EXPECT_TRUE(bobHandler.WaitFor("Finished", 20s));
  bobs->Remove();
  EXPECT_TRUE(server.WaitForLog("(%P|%t) account of \"bob\" deleted"));
}

// Hostile clients beside well-behaved ones, each case on the same server
// with the kit's defaults (a pool of two; callbacks bounded to 2 s here so
// that the cases stay short; few ended operations and holders kept).
class HostileClients : public ::testing::Test
{
protected:
  static void SetUpTestSuite()
  {
    s_port = KroTest::FreeLoopbackPort();
    s_server = new KroTest::CalculatorServer(
      2, {"--callback-timeout", "2", "--kept-finished", "5", "--kept-exception-holders", "3", "-ORBendPoint",
          "giop:tcp:127.0.0.1:" + std::to_string(s_port)});
  }
  static void TearDownTestSuite()
  {
    delete s_server;
    s_server = nullptr;
  }

  static KroTest::CalculatorServer& Server() { return *s_server; }
  static pid_t ServerPid() { return s_server->Server().Process().Pid(); }
  // A handler at an address that takes connections and never answers.
  static Krovane::IAsyncHandler_ptr BlackHole(const KroTest::SilentPort& port)
  {
    CORBA::Object_var object = KroTest::ObjectFromIor(port.Corbaloc("handler"));
    return Krovane::IAsyncHandler::_unchecked_narrow(object.in());
  }
  // Milliseconds fn took.
  template <typename Fn>
  static long Millis(const Fn& fn)
  {
    const auto start = std::chrono::steady_clock::now();
    fn();
    return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
  }

  static KroTest::CalculatorServer* s_server;
  static int s_port;  // the server's second endpoint, for raw connections
};

KroTest::CalculatorServer* HostileClients::s_server = nullptr;
int HostileClients::s_port = 0;

// First, on the fresh pool: a submission that starts a pool thread returns
// at once, also 8 at a time, and again once the extra thread has left.
TEST_F(HostileClients, SubmissionsReturnAtOnceWhileThePoolGrows)
{
  const long kAtOnceMs = 500;  // the pool's start pause was a second per thread
  std::vector<Calculator::ICalculator_var> calculators;
  for (int i = 0; i < 8; ++i)
    calculators.emplace_back(Server().NewCalculator("eager" + std::to_string(i)));
  Krovane::IAsyncHandler_var reference;
  KroTest::RecordingHandler& handler = Server().NewHandler(reference);
  std::vector<long> took(8, -1);
  {
    std::vector<std::thread> submitters;
    for (int i = 0; i < 8; ++i)
      submitters.emplace_back([&, i] { took[i] = Millis([&] { calculators[i]->Compute("e", 1, reference.in()); }); });
    for (std::thread& submitter : submitters)
      submitter.join();
  }
  for (int i = 0; i < 8; ++i)
    EXPECT_LT(took[i], kAtOnceMs) << "submission " << i << " of 8 at once";
  ASSERT_TRUE(handler.WaitFor("Finished", 20s, 8));
  for (int i = 0; i < 3; ++i)
  {
    EXPECT_LT(Millis([&] { calculators[0]->Compute("e", 1, reference.in()); }), kAtOnceMs) << "submission " << i;
    ASSERT_TRUE(handler.WaitFor("Finished", 20s, 9 + i));
  }
  std::printf("8 submissions at once took (ms):");
  for (long ms : took)
    std::printf(" %ld", ms);
  std::printf("\n");
  for (Calculator::ICalculator_var& calculator : calculators)
    calculator->Remove();
}

// Mallory's endless work holds one of the two threads, not both: bob's
// starts beside it while her second operation waits.
TEST_F(HostileClients, OneUserHoldsHalfThePoolWhileAnotherWaits)
{
  Calculator::ICalculator_var mallorys = Server().NewCalculator("mallory");
  Calculator::ICalculator_var bobs = Server().NewCalculator("bob");
  Krovane::IAsyncHandler_var malloryReference, bobReference;
  KroTest::RecordingHandler& mallory = Server().NewHandler(malloryReference);
  KroTest::RecordingHandler& bob = Server().NewHandler(bobReference);
  mallorys->Compute("pi", KroTest::kEndless, malloryReference.in());
  ASSERT_TRUE(mallory.WaitFor("Progress", 20s));
  const CORBA::Long second = mallorys->Compute("pi", KroTest::kEndless, malloryReference.in());
  bobs->Compute("e", 1, bobReference.in());
  EXPECT_TRUE(bob.WaitFor("Finished", 20s));
  EXPECT_EQ(Krovane::Queued, mallorys->GetOperationState(second));
  mallorys->CancelAllOperations();
  EXPECT_TRUE(mallory.WaitFor("Finished", 20s));
  mallorys->Remove();
  bobs->Remove();
}

// A handler that never answers holds no pool thread: an operation calling
// it ends on time, another user is served, requests on the object are
// answered while its relay waits on the black hole, and the client is
// detached after three time-outs in a row.
TEST_F(HostileClients, ABlackHoleHandlerHoldsNothingButItsRelay)
{
  KroTest::SilentPort silent;
  Krovane::IAsyncHandler_var blackHole = BlackHole(silent);
  Calculator::ICalculator_var mallorys = Server().NewCalculator("mallory");
  Calculator::ICalculator_var trudys = Server().NewCalculator("trudy");
  Calculator::ICalculator_var bobs = Server().NewCalculator("bob");
  // Runs until cancelled, with callbacks faster than any client follows.
  const CORBA::Long endless = mallorys->Compute("pi", KroTest::kEndless, blackHole.in());
  ASSERT_TRUE(silent.AcceptOne(20000) && silent.AwaitRequest(20000)) << "no callback came";
  // 13 callbacks, each 2 s to time out if the pool thread waited for them.
  const CORBA::Long brief = trudys->Compute("e", 5, blackHole.in());

  // Re-pointing the endless one while its relay waits on the client must
  // not stop other requests on the object.
  std::atomic<bool> registered{false};
  long registerMs = 0;
  std::thread registrar([&] {
    registerMs = Millis([&] { mallorys->RegisterNewHandler(endless, blackHole.in()); });
    registered = true;
  });
  long slowest = 0;
  for (int i = 0; i < 1000 && !registered; ++i)
    slowest = std::max(slowest, Millis([&] { mallorys->GetOperationState(endless); }));
  registrar.join();
  EXPECT_GT(registerMs, 500) << "the relay was not waiting on the client";
  EXPECT_LT(slowest, 1000) << "RegisterNewHandler took " << registerMs << " ms";

  Krovane::IAsyncHandler_var bobReference;
  KroTest::RecordingHandler& bob = Server().NewHandler(bobReference);
  const long bobMs = Millis([&] {
    bobs->Compute("e", 1, bobReference.in());
    EXPECT_TRUE(bob.WaitFor("Finished", 30s));
  });
  std::printf("beside a black-hole client: another user's operation finished after %ld ms\n", bobMs);
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  long briefMs = Millis([&] {
    while (std::chrono::steady_clock::now() < deadline && trudys->GetOperationState(brief) != Krovane::Finished)
      std::this_thread::yield();
  });
  EXPECT_EQ(Krovane::Finished, trudys->GetOperationState(brief));
  EXPECT_LT(briefMs, 3000) << "the operation waited on its client";
  const std::string detached = "(%P|%t) AsynchronousHandler: client detached after 3 callbacks in a row timed out";
  EXPECT_TRUE(Server().WaitForLog(detached, 2)) << Server().LogCount(detached);
  EXPECT_EQ(Krovane::Running, mallorys->GetOperationState(endless));
  mallorys->CancelAllOperations();
  for (Calculator::ICalculator_var* calculator : {&mallorys, &trudys, &bobs})
    (*calculator)->Remove();
}

// Ended operations and unraised exception holders are kept per object up
// to their bounds (5 and 3 here), the oldest forgotten first.
TEST_F(HostileClients, EndedOperationsAndExceptionHoldersAreKeptBounded)
{
  Calculator::ICalculator_var carols = Server().NewCalculator("carol");
  Krovane::IAsyncHandler_var reference;
  KroTest::RecordingHandler& handler = Server().NewHandler(reference);
  std::vector<CORBA::Long> ids;
  for (int i = 0; i < 7; ++i)
  {
    ids.push_back(carols->Compute("e", 1, reference.in()));
    ASSERT_TRUE(handler.WaitFor("Finished", 20s, i + 1));
  }
  try
  {
    carols->GetOperationState(ids[0]);
    ADD_FAILURE() << "a forgotten operation was found";
  }
  catch (const Krovane::InvalidOperationId& ex)
  {
    EXPECT_NE(std::string(ex.reason.in()).find("no longer kept"), std::string::npos) << ex.reason.in();
  }
  EXPECT_EQ(Krovane::Finished, carols->GetOperationState(ids[6]));

  std::vector<Krovane::IAsyncExceptionHolder_var> holders;
  for (int i = 0; i < 5; ++i)
  {
    Krovane::IAsyncHandler_var failingReference;
    KroTest::RecordingHandler& failing = Server().NewHandler(failingReference);
    carols->Compute("nothing", 1, failingReference.in());
    ASSERT_TRUE(failing.WaitFor("Error", 20s));
    ASSERT_TRUE(failing.WaitFor("Finished", 20s));
    holders.emplace_back(failing.Holder());
  }
  EXPECT_THROW(holders[0]->raise(), CORBA::OBJECT_NOT_EXIST);
  EXPECT_THROW(holders[4]->raise(), Krovane::AsyncOperationException);
  carols->Remove();
}

// Megabyte tokens are refused before any object keeps one, and a megabyte
// failure text is kept cut: 300 such creations leave the server's memory
// where it was.
TEST_F(HostileClients, HugeTokensAndTextsCostTheServerNoMemory)
{
  const long before = KroTest::ProcessStatus(ServerPid(), "VmRSS");
  const std::string megabyte(1000000, 'm');
  int refused = 0;
  for (int i = 0; i < 300; ++i)
    try
    {
      Calculator::ICalculator_var calculator = Server().NewCalculator(megabyte + std::to_string(i));
    }
    catch (const CORBA::NO_PERMISSION&)
    {
      ++refused;
    }
    catch (const CORBA::SystemException& ex)
    {
      // Refused by the ORB on a loaded machine (the connection given up): no object either.
      ADD_FAILURE() << "creation " << i << ": " << ex._name();
    }
  const long after = KroTest::ProcessStatus(ServerPid(), "VmRSS");
  std::printf("300 creations with 1 MB tokens: server VmRSS %ld kB -> %ld kB (+%ld kB)\n", before, after,
              after - before);
  EXPECT_EQ(300, refused);
  if (KroTest::kResidentMemoryTellsWhatIsKept)
    EXPECT_LT(after - before, 40L * 1024);
  EXPECT_TRUE(Server().WaitForLog("(%P|%t) UserVerifier: token of 1000003 octets refused, the most is 4096"));

  Calculator::ICalculator_var carols;
  try
  {
    carols = Server().NewCalculator("carol");
  }
  catch (const CORBA::Exception& ex)
  {
    FAIL() << "CreateObject gave " << ex._name();
  }
  Krovane::IAsyncHandler_var reference;
  KroTest::RecordingHandler& handler = Server().NewHandler(reference);
  try
  {
    carols->Compute(megabyte.c_str(), 1, reference.in());
  }
  catch (const CORBA::Exception& ex)
  {
    FAIL() << "Compute gave " << ex._name();
  }
  ASSERT_TRUE(handler.WaitFor("Error", 20s));
  Krovane::IAsyncExceptionHolder_var holder = handler.Holder();
  try
  {
    holder->raise();
    ADD_FAILURE() << "raise() returned";
  }
  catch (const Krovane::AsyncOperationException& ex)
  {
    const std::string reason = ex.reason.in();
    EXPECT_LE(reason.size(), 1024u + 6u);
    EXPECT_EQ(" [cut]", reason.substr(reason.size() - 6));
  }
  catch (const CORBA::Exception& ex)
  {
    ADD_FAILURE() << "raise() gave " << ex._name();
  }
  // A failed operation ends (Finished) after its Error.
  ASSERT_TRUE(handler.WaitFor("Finished", 20s));
  carols->Remove();
}

// Idle connections beyond the kit's bound share omniORB's pool instead of a
// thread each, and calls are still served.
TEST_F(HostileClients, IdleConnectionsBeyondTheBoundGetNoThreadEach)
{
  const long before = KroTest::ProcessStatus(ServerPid(), "Threads");
  KroTest::IdleConnections idle(s_port, 150);
  // omniORB starts a connection's thread after accepting it: watched, bounded.
  long grown = 0;
  for (int i = 0; i < 250 && grown < 140; ++i)
  {
    std::this_thread::sleep_for(20ms);
    grown = KroTest::ProcessStatus(ServerPid(), "Threads") - before;
  }
  std::printf("150 idle connections: server threads %ld -> %ld\n", before, before + grown);
  EXPECT_GE(grown, 80) << "the connections made no threads at all";
  EXPECT_LT(grown, 120);

  Calculator::ICalculator_var bobs = Server().NewCalculator("bob");
  Krovane::IAsyncHandler_var reference;
  KroTest::RecordingHandler& handler = Server().NewHandler(reference);
  bobs->Compute("e", 1, reference.in());
  EXPECT_TRUE(handler.WaitFor("Finished", 20s));
  bobs->Remove();
}
