// A failing operation and a new handler across processes: a calculator
// server, and this test process as its client.
#include "CalculatorServer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::chrono_literals;

// A bad request fails in the work: the client gets Error with a holder
// whose raise() throws the typed exception with its text, and Finished all
// the same; the library prints the failure and leaves the operation
// Finished; the relay is retired once the operation has ended.
TEST(AsyncFailure, FailingWorkReportsErrorThenFinishedAndEndsFinished)
{
  KroTest::CalculatorServer server(1);
  Calculator::ICalculator_var calculator = server.NewCalculator("failure-user");
  Krovane::IAsyncHandler_var reference;
  KroTest::RecordingHandler& handler = server.NewHandler(reference);

  const CORBA::Long id = calculator->Compute("sqrt2", 5, reference.in());
  ASSERT_TRUE(handler.WaitFor("Finished", 20s));
  EXPECT_EQ((std::vector<std::string>{"Error", "Finished"}), handler.Events());
  EXPECT_EQ(Krovane::Finished, calculator->GetOperationState(id));

  Krovane::IAsyncExceptionHolder_var holder = handler.Holder();
  ASSERT_FALSE(CORBA::is_nil(holder.in()));
  try
  {
    holder->raise();
    ADD_FAILURE() << "raise() returned";
  }
  catch (const Krovane::AsyncOperationException& ex)
  {
    EXPECT_STREQ("unknown computation \"sqrt2\" (try pi, e or primes)", ex.reason.in());
  }

  const std::string printed =
    "AsynchronousOperation::Dispatch after narrow: AsyncOperationException (IDL:Krovane/AsyncOperationException:1.0)\n";
  EXPECT_TRUE(server.Server().Process().Stdout().WaitFor(printed, 20s));
  EXPECT_EQ(printed, server.Printed());
  EXPECT_TRUE(server.WaitForLog("(%P|%t) relay of operation 1 deleted"));
}

// A new handler for a running operation takes every later callback, the
// end included; the first handler hears nothing more. Ended operations
// accept a new handler without effect; unknown ids are refused.
TEST(AsyncFailure, NewHandlerTakesOverARunningOperation)
{
  KroTest::CalculatorServer server(1);
  Calculator::ICalculator_var calculator = server.NewCalculator("moving-user");
  Krovane::IAsyncHandler_var firstReference, secondReference;
  KroTest::RecordingHandler& first = server.NewHandler(firstReference);
  KroTest::RecordingHandler& second = server.NewHandler(secondReference);

  const CORBA::Long id = calculator->Compute("primes", KroTest::kEndless, firstReference.in());
  ASSERT_TRUE(first.WaitFor("Progress", 20s));
  calculator->RegisterNewHandler(id, secondReference.in());
  const size_t firstHeard = first.Events().size();

  ASSERT_TRUE(second.WaitFor("Progress", 20s, 2));
  calculator->CancelOperation(id);
  ASSERT_TRUE(second.WaitFor("Finished", 20s));
  EXPECT_EQ("Finished", second.Events().back());
  EXPECT_EQ(firstHeard, first.Events().size());
  EXPECT_EQ(Krovane::Cancelled, calculator->GetOperationState(id));
  EXPECT_TRUE(server.WaitForLog("(%P|%t) relay of operation 1 deleted"));

  calculator->RegisterNewHandler(id, firstReference.in());
  EXPECT_THROW(calculator->RegisterNewHandler(id + 1, firstReference.in()), Krovane::InvalidOperationId);
  EXPECT_EQ(firstHeard, first.Events().size());
}
