// Client handlers that fail (raise, block past the bound, exit, vanish) on
// each path of an asynchronous server: cancelling a waiting or a running
// operation (CancelOperation, CancelAllOperations), a new handler
// (RegisterNewHandler), Remove, and the dispatch of every callback kind.
// One calculator server per test (one pool thread, a bound of 1 s per
// callback) serves every case of its table; each case works on a
// calculator of its own, removes it, and then the server must still be up
// and serve another client (the bystander).
#include "FaultChecks.h"

#include "CalculatorServer.h"

#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using KroTest::Action;
using KroTest::Callback;
using KroTest::Fault;
using KroTest::FaultClient;

namespace
{
  const std::vector<Action> kFailures = {Action::Raise, Action::Block, Action::Vanish, Action::Exit};

  class AsyncFaults : public ::testing::Test
  {
  protected:
    AsyncFaults() : m_server(1, {"--callback-timeout", "1", "--place-reports", "every-change", "--waiting-callbacks"}) { m_bystander = m_server.NewCalculator("bystander"); }

    ~AsyncFaults() override
    {
      EXPECT_FALSE(m_server.Server().Process().HasExited()) << m_server.Server().Process().Describe();
    }

    const KroTest::OutputCollector& Log() { return m_server.Server().Process().Stderr(); }

    // How many times the server has logged that a relay of operation id was deleted.
    int RelaysDeleted(CORBA::Long id)
    {
      return m_server.LogCount("(%P|%t) relay of operation " + std::to_string(id) + " deleted");
    }

    // Waits until the relay of operation id has been deleted more than before times.
    bool WaitForRelayDeleted(CORBA::Long id, int before)
    {
      return Log().WaitFor(") relay of operation " + std::to_string(id) + " deleted\n", 15s, before + 1);
    }

    // The end of every case: calculator removed once nothing runs and
    // deleted, the server up, and another client served in full.
    void ExpectServerSound(Calculator::ICalculator_ptr calculator)
    {
      const int deletedBefore = m_server.LogCount("(%P|%t) calculator deleted");
      const std::string removal = KroTest::RemoveWhenIdle(calculator, Log());
      EXPECT_EQ("", removal) << "Remove once nothing runs";
      if (removal.empty())
      {
        EXPECT_TRUE(Log().WaitFor(") calculator deleted\n", 10s, deletedBefore + 1)) << "calculator never deleted";
      }
      ASSERT_FALSE(m_server.Server().Process().HasExited()) << m_server.Server().Process().Describe();

      FaultClient bystander({});
      const CORBA::Long id = ++m_bystanderOperations;
      const int relaysBefore = RelaysDeleted(id);
      try
      {
        ASSERT_EQ(id, m_bystander->Compute("e", 2, bystander.Reference()));
      }
      catch (const CORBA::Exception& ex)
      {
        ADD_FAILURE() << "bystander's Compute: " << ex._name();
        return;
      }
      EXPECT_TRUE(bystander.WaitFor("Finished", 15s)) << "bystander:\n" << KroTest::Joined(bystander.Events());
      EXPECT_EQ(1, bystander.Count("Results")) << KroTest::Joined(bystander.Events());
      EXPECT_EQ("", KroTest::FinishedOnceAndLast(bystander));
      EXPECT_EQ("Finished", KroTest::StateText(m_bystander.in(), id));
      // Its relay goes after its Finished: waited for here, so that the
      // next case, whose operation may have the same id, counts only its own.
      EXPECT_TRUE(WaitForRelayDeleted(id, relaysBefore)) << "the bystander's relay stayed";
    }

    KroTest::CalculatorServer m_server;      // one server for every case
    Calculator::ICalculator_var m_bystander;  // another client's calculator
    CORBA::Long m_bystanderOperations = 0;    // submitted on m_bystander so far
  };
}

// A waiting operation is cancelled (CancelOperation, CancelAllOperations)
// while its handler fails the Status that tells it so: the call succeeds,
// the operation reads Cancelled, never runs, leaves the active list.
TEST_F(AsyncFaults, CancellingAWaitingOperationWhoseHandlerFails)
{
  for (const bool all : {false, true})
    for (const Action action : kFailures)
    {
      const std::string user = std::string(all ? "cancel-all-waiting-" : "cancel-waiting-") + KroTest::NameOf(action);
      SCOPED_TRACE(user);
      Calculator::ICalculator_var calculator = m_server.NewCalculator(user);
      FaultClient running({});
      const CORBA::Long runningId = calculator->Compute("pi", KroTest::kEndless, running.Reference());
      ASSERT_TRUE(running.WaitFor("Progress", 20s));
      FaultClient waiting({{Callback::Status, 1, action, {}}});
      const CORBA::Long waitingId = calculator->Compute("e", 3, waiting.Reference());
      EXPECT_EQ("Queued", KroTest::StateText(calculator.in(), waitingId));

      try
      {
        if (all)
          calculator->CancelAllOperations();
        else
          calculator->CancelOperation(waitingId);
      }
      catch (const CORBA::Exception& ex)
      {
        ADD_FAILURE() << "cancel raised " << ex._name();
      }
      EXPECT_EQ("Cancelled", KroTest::StateText(calculator.in(), waitingId));
      EXPECT_TRUE(waiting.WaitFor("Status", 20s)) << waiting.Describe();
      EXPECT_EQ(0, waiting.Count("Finished")) << KroTest::Joined(waiting.Events());

      if (!all)
      {
        EXPECT_NO_THROW(calculator->CancelOperation(runningId));
      }
      EXPECT_EQ("", KroTest::FinishedOnceAndLast(running));
      EXPECT_EQ("Cancelled", KroTest::StateText(calculator.in(), runningId));
      ExpectServerSound(calculator.in());
      EXPECT_EQ(0, m_server.LogCount("(%P|%t) operation 2: e in 3 steps for \"" + user + "\"")) << "it ran";
      EXPECT_EQ(std::vector<std::string>{"Status Queued AsynchronousOperation Cancelled. OpId = 2"},
                waiting.Events());
    }
}

// A running operation cancelled (CancelOperation, CancelAllOperations)
// reads Cancelled and stays so, also when the work ends before its next
// cancellation point (cancelled inside its last Progress) and whatever its
// handler does with Finished; an operation that has finished (cancelled
// inside or after its Finished) stays Finished.
TEST_F(AsyncFaults, CancellingARunningOperation)
{
  enum class When { MidRun, InLastProgress, InFinished, AfterFinished };
  struct Case
  {
    const char* name;
    bool all;
    When when;
    std::vector<Fault> faults;  // of the handler, besides the cancelling hook
    const char* endState;
  };
  std::vector<Case> cases = {
    {"mid-run", false, When::MidRun, {}, "Cancelled"},
    {"mid-run-all", true, When::MidRun, {}, "Cancelled"},
    {"in-last-progress", false, When::InLastProgress, {}, "Cancelled"},
    {"in-last-progress-all", true, When::InLastProgress, {}, "Cancelled"},
    {"in-finished-all", true, When::InFinished, {}, "Finished"},
    {"after-finished-all", true, When::AfterFinished, {}, "Finished"},
  };
  for (const bool all : {false, true})
    for (const Action action : kFailures)
      cases.push_back({all ? "mid-run-all-finished-fails" : "mid-run-finished-fails", all, When::MidRun,
                       {{Callback::Finished, 1, action, {}}}, "Cancelled"});

  for (const Case& test : cases)
  {
    const std::string user = std::string(test.name) +
                             (test.faults.empty() ? "" : std::string("-") + KroTest::NameOf(test.faults[0].action));
    SCOPED_TRACE(user);
    Calculator::ICalculator_var calculator = m_server.NewCalculator(user);
    const int relaysBefore = RelaysDeleted(1);
    std::string stateAtCancel;
    std::promise<void> cancelled;
    auto cancel = [&]()
    {
      try
      {
        if (test.all)
          calculator->CancelAllOperations();
        else
          calculator->CancelOperation(1);
      }
      catch (const CORBA::Exception& ex)
      {
        ADD_FAILURE() << "cancel raised " << ex._name();
      }
      stateAtCancel = KroTest::StateText(calculator.in(), 1);
      cancelled.set_value();
    };

    std::vector<Fault> faults = test.faults;
    if (test.when == When::InLastProgress)
      faults.push_back({Callback::Progress, 2, Action::Hook, cancel});
    if (test.when == When::InFinished)
      faults.push_back({Callback::Finished, 1, Action::Hook, cancel});
    FaultClient handler(faults);
    const bool endless = test.when == When::MidRun;
    ASSERT_EQ(1, calculator->Compute("pi", endless ? KroTest::kEndless : 2, handler.Reference()));
    if (endless)
    {
      ASSERT_TRUE(handler.WaitFor("Progress", 20s, 2)) << handler.Describe();
      cancel();
    }
    if (test.when == When::AfterFinished)
    {
      ASSERT_TRUE(handler.WaitFor("Finished", 20s));
      cancel();
    }
    EXPECT_EQ(std::future_status::ready, cancelled.get_future().wait_for(20s)) << "never cancelled";
    if (handler.StaysAlive())
      EXPECT_TRUE(handler.WaitFor("Finished", 20s)) << KroTest::Joined(handler.Events());
    else
      EXPECT_TRUE(WaitForRelayDeleted(1, relaysBefore)) << "the operation never ended";
    EXPECT_EQ(test.endState, stateAtCancel) << "right after the cancel; heard:\n" << KroTest::Joined(handler.Events());
    EXPECT_EQ("", KroTest::FinishedOnceAndLast(handler));
    EXPECT_EQ(test.endState, KroTest::StateText(calculator.in(), 1)) << "once it has ended";
    ExpectServerSound(calculator.in());
  }
}

// RegisterNewHandler moves a running operation (and a waiting one) from a
// handler that failed (blocked past the bound, vanished, exited) to a new
// one, which hears the rest, Finished included; the first hears nothing
// after the move but the callback under way. A handler that refuses a
// Progress ends the work (the refusal reaches the computation): a new
// handler given after that end is accepted and hears nothing, the first
// having heard Finished.
TEST_F(AsyncFaults, NewHandlerTakesOverFromAFailedOne)
{
  struct Case
  {
    std::string name;
    std::vector<Fault> faults;  // of the first handler
    bool waiting;               // moved before it runs
  };
  std::vector<Case> cases = {{"healthy", {}, false}, {"waiting", {}, true}};
  for (const Action action : kFailures)
    cases.push_back({KroTest::NameOf(action), {{Callback::Progress, 2, action, {}}}, false});

  for (const Case& test : cases)
  {
    const std::string user = "new-handler-" + test.name;
    SCOPED_TRACE(user);
    const bool refusalEndsWork = !test.faults.empty() && test.faults[0].action == Action::Raise;
    Calculator::ICalculator_var calculator = m_server.NewCalculator(user);
    // Holds the one pool thread until the move is done, so that the
    // operation moved is still waiting then.
    FaultClient blocker({});
    CORBA::Long id = 1;
    if (test.waiting)
    {
      ASSERT_EQ(1, calculator->Compute("e", KroTest::kEndless, blocker.Reference()));
      ASSERT_TRUE(blocker.WaitFor("Progress", 20s));
      id = 2;
    }
    FaultClient first(test.faults);
    FaultClient second({});
    ASSERT_EQ(id, calculator->Compute("pi", test.waiting ? 3 : KroTest::kEndless, first.Reference()));
    if (!test.waiting)
    {
      ASSERT_TRUE(first.WaitFor("Progress", 20s, 2)) << first.Describe();
    }
    if (refusalEndsWork)
    {
      ASSERT_TRUE(first.WaitFor("Finished", 20s)) << "the refused Progress did not end the work:\n"
                                                  << KroTest::Joined(first.Events());
    }

    try
    {
      calculator->RegisterNewHandler(id, second.Reference());
    }
    catch (const CORBA::Exception& ex)
    {
      ADD_FAILURE() << "RegisterNewHandler raised " << ex._name();
    }
    // Whatever the first hears from here on came after the move.
    const size_t firstHeard = first.Events().size();
    const std::string stateAfterMove = KroTest::StateText(calculator.in(), id);

    if (refusalEndsWork)
    {
      EXPECT_EQ("Finished", stateAfterMove);
      EXPECT_EQ(0u, second.Events().size()) << KroTest::Joined(second.Events());
      EXPECT_EQ("", KroTest::FinishedOnceAndLast(first));
      ExpectServerSound(calculator.in());
      continue;
    }

    if (test.waiting)
    {
      EXPECT_EQ("Queued", stateAfterMove);
      EXPECT_NO_THROW(calculator->CancelOperation(1));
      EXPECT_EQ("", KroTest::FinishedOnceAndLast(blocker));
    }
    else
    {
      EXPECT_EQ("Running", stateAfterMove);
      EXPECT_TRUE(second.WaitFor("Progress", 20s)) << KroTest::Joined(second.Events());
      try
      {
        calculator->CancelOperation(id);
      }
      catch (const CORBA::Exception& ex)
      {
        ADD_FAILURE() << "CancelOperation after the move raised " << ex._name();
      }
    }
    EXPECT_TRUE(second.WaitFor("Finished", 20s)) << "state after the move " << stateAfterMove << ", second heard:\n"
                                                  << KroTest::Joined(second.Events());
    EXPECT_EQ("", KroTest::FinishedOnceAndLast(second));
    EXPECT_EQ(0, first.Count("Finished")) << KroTest::Joined(first.Events());
    if (test.waiting)
    {
      EXPECT_EQ(1, second.Count("Results")) << KroTest::Joined(second.Events());
    }
    EXPECT_LE(first.Events().size(), firstHeard + 1) << KroTest::Joined(first.Events());
    EXPECT_EQ(test.waiting ? "Finished" : "Cancelled", KroTest::StateText(calculator.in(), id));
    ExpectServerSound(calculator.in());
  }
}

// Every callback kind failing in every way while the operation is
// dispatched: the operation ends Finished, a handler that stays alive hears
// Finished exactly once and last, and the server goes on.
TEST_F(AsyncFaults, DispatchSurvivesEveryFailingCallback)
{
  for (const Callback callback : {Callback::Queued, Callback::Status, Callback::Progress, Callback::Results,
                                  Callback::Finished, Callback::Error})
    for (const Action action : kFailures)
    {
      const std::string user = std::string("dispatch-") + KroTest::NameOf(callback) + "-" + KroTest::NameOf(action);
      SCOPED_TRACE(user);
      Calculator::ICalculator_var calculator = m_server.NewCalculator(user);
      // Places are told when the pool thread takes the next operation:
      // the front one holds the thread until both others wait, and its
      // cancellation lets behind run and tells the handler's operation,
      // now first in line, its place.
      FaultClient front({}), behind({});
      CORBA::Long id = 1;
      if (callback == Callback::Queued)
      {
        ASSERT_EQ(1, calculator->Compute("e", KroTest::kEndless, front.Reference()));
        ASSERT_TRUE(front.WaitFor("Progress", 20s));
        ASSERT_EQ(2, calculator->Compute("e", 2, behind.Reference()));
        id = 3;
      }
      const int relaysBefore = RelaysDeleted(id);
      FaultClient handler({{callback, 1, action, {}}});
      ASSERT_EQ(id, calculator->Compute(callback == Callback::Error ? "sqrt2" : "e", 3, handler.Reference()));
      if (callback == Callback::Queued)
      {
        EXPECT_NO_THROW(calculator->CancelOperation(1));
      }

      EXPECT_TRUE(WaitForRelayDeleted(id, relaysBefore)) << "the operation never ended:\n"
                                                         << KroTest::Joined(handler.Events()) << handler.Describe();
      // A handler in a process of its own is read from its output, which
      // may come in after the server has ended the operation.
      EXPECT_TRUE(handler.WaitFor(KroTest::NameOf(callback), 10s)) << "the fault never fired:\n"
                                                                   << KroTest::Joined(handler.Events());
      EXPECT_EQ("", KroTest::FinishedOnceAndLast(handler));
      EXPECT_EQ("Finished", KroTest::StateText(calculator.in(), id));
      ExpectServerSound(calculator.in());
      for (const FaultClient* other : {&front, &behind})
        if (callback == Callback::Queued)
        {
          EXPECT_EQ("", KroTest::FinishedOnceAndLast(*other));
        }
    }
}
