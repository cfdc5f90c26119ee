// Removing a calculator across processes: refused while work waits or
// runs, accepted right after CancelAllOperations; the operation still
// running keeps its calculator alive until its dispatch has ended.
#include "CalculatorServer.h"

#include <gtest/gtest.h>

#include <string>

using namespace std::chrono_literals;

TEST(AsyncRemove, RefusedWhileWorkWaitsOrRunsAcceptedAfterCancelAll)
{
  // Callbacks answered before the operation goes on: the relay's end is
  // ordered with the calculator's (a queued relay lives until sent).
  KroTest::CalculatorServer server(1, {"--waiting-callbacks"});
  Calculator::ICalculator_var calculator = server.NewCalculator("remove-user");
  Krovane::IAsyncHandler_var runningReference, waitingReference;
  KroTest::RecordingHandler& running = server.NewHandler(runningReference);
  KroTest::RecordingHandler& waiting = server.NewHandler(waitingReference);

  ASSERT_EQ(1, calculator->Compute("pi", KroTest::kEndless, runningReference.in()));
  ASSERT_TRUE(running.WaitFor("Progress", 20s));
  ASSERT_EQ(2, calculator->Compute("e", 3, waitingReference.in()));
  EXPECT_THROW(calculator->Remove(), Krovane::OperationsStillActive);

  calculator->CancelAllOperations();
  EXPECT_TRUE(server.WaitForLog("(%P|%t) AsyncOperation Cancel called(1)"));
  EXPECT_TRUE(server.WaitForLog("(%P|%t) AsyncOperation Cancel called(2)"));
  EXPECT_EQ((std::vector<std::string>{"Status Queued AsynchronousOperation Cancelled. OpId = 2"}),
            waiting.Events());
  calculator->Remove();
  EXPECT_THROW(calculator->GetOperationState(1), CORBA::OBJECT_NOT_EXIST);

  // The running operation ends at its next step; only then do its relay,
  // the calculator and the account it served go, in that order.
  ASSERT_TRUE(running.WaitFor("Finished", 20s));
  EXPECT_EQ(0, running.Count("Results"));
  ASSERT_TRUE(server.WaitForLog("(%P|%t) account of \"remove-user\" deleted"));
  const std::string log = server.Log();
  const size_t relay = log.find(") relay of operation 1 deleted\n");
  const size_t calculatorGone = log.find(") calculator deleted\n");
  ASSERT_NE(std::string::npos, relay) << log;
  ASSERT_NE(std::string::npos, calculatorGone) << log;
  EXPECT_LT(relay, calculatorGone) << log;
  // The withdrawn operation's relay may be let go by another thread, in
  // any order with the lines above: waited for, then counted once.
  EXPECT_TRUE(server.WaitForLog("(%P|%t) relay of operation 2 deleted")) << server.Log();
  EXPECT_EQ(1, server.LogCount("(%P|%t) relay of operation 2 deleted"));
  EXPECT_EQ(1u, waiting.Events().size());  // never ran, no Finished

  // The server goes on serving, and ends cleanly.
  Calculator::ICalculator_var next = server.NewCalculator("next-user");
  Krovane::IAsyncHandler_var nextReference;
  KroTest::RecordingHandler& nextHandler = server.NewHandler(nextReference);
  EXPECT_EQ(1, next->Compute("e", 1, nextReference.in()));
  EXPECT_TRUE(nextHandler.WaitFor("Finished", 20s));
  const auto status = server.Server().Stop(20s);
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(status->exited && status->code == 0) << server.Server().Process().Describe();
}
