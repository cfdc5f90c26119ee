// Waiting and cancelling across processes: a calculator server whose pool
// runs one operation at a time, and this test process as its client.
#include "CalculatorServer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace
{
  const char* const kWithdrawn = "Status Queued AsynchronousOperation Cancelled. OpId = ";
}

// One thread, an endless operation in front and five short ones behind it:
// ids count from 1 per calculator; the waiting ones learn their places once
// the thread comes by and then each new place; one cancelled while waiting
// never runs; the running one stops at its next cancellation point.
TEST(AsyncQueue, WaitingOperationsLearnTheirPlacesAndCancelledOnesStop)
{
  // Every place is counted: each change is told.
  KroTest::CalculatorServer server(1, {"--place-reports", "every-change"});
  Calculator::ICalculator_var calculator = server.NewCalculator("queue-user");

  std::vector<KroTest::RecordingHandler*> handlers;
  Krovane::IAsyncHandler_var reference;
  handlers.push_back(&server.NewHandler(reference));
  ASSERT_EQ(1, calculator->Compute("pi", KroTest::kEndless, reference.in()));
  ASSERT_TRUE(handlers[0]->WaitFor("Progress", 20s));  // running
  for (CORBA::Long expected = 2; expected <= 6; ++expected)
  {
    handlers.push_back(&server.NewHandler(reference));
    EXPECT_EQ(expected, calculator->Compute("e", 3, reference.in()));
  }

  // Cancelled while it waits: told (through the relay's outbox), and it
  // will never run; its relay is retired without a Finished.
  calculator->CancelOperation(4);
  EXPECT_TRUE(handlers[3]->WaitFor("Status", 20s));
  EXPECT_EQ(std::vector<std::string>{kWithdrawn + std::string("4")}, handlers[3]->Events());
  EXPECT_EQ(Krovane::Cancelled, calculator->GetOperationState(4));
  EXPECT_TRUE(server.WaitForLog("(%P|%t) relay of operation 4 deleted"));

  // Cancelled while it runs: at most the step under way still reports.
  EXPECT_EQ(Krovane::Running, calculator->GetOperationState(1));
  calculator->CancelOperation(1);
  const int progressAtCancel = handlers[0]->Count("Progress");
  ASSERT_TRUE(handlers[0]->WaitFor("Finished", 20s));
  EXPECT_LE(handlers[0]->Count("Progress"), progressAtCancel + 1);
  EXPECT_EQ(0, handlers[0]->Count("Results"));
  EXPECT_EQ("Finished", handlers[0]->Events().back());
  EXPECT_EQ(Krovane::Cancelled, calculator->GetOperationState(1));

  // The rest run in turn; the last one in line ends last.
  ASSERT_TRUE(handlers[5]->WaitFor("Finished", 20s));
  for (int index : {1, 2, 4, 5})
  {
    const CORBA::Long id = index + 1;
    EXPECT_TRUE(handlers[index]->WaitFor("Finished", 20s)) << id;
    const std::vector<std::string> events = handlers[index]->Events();
    ASSERT_GE(events.size(), 5u) << id;
    EXPECT_EQ(3, handlers[index]->Count("Progress")) << id;
    EXPECT_EQ((std::vector<std::string>{"Results", "Finished"}),
              std::vector<std::string>(events.end() - 2, events.end())) << id;
    EXPECT_EQ(Krovane::Finished, calculator->GetOperationState(id)) << id;
    EXPECT_TRUE(server.WaitForLog("(%P|%t) relay of operation " + std::to_string(id) + " deleted")) << id;
  }
  // Each relay sends in order, so its places are in once its Finished is.
  EXPECT_EQ(std::vector<int>{}, handlers[1]->Places());  // taken at the thread's first pass
  EXPECT_EQ(std::vector<int>{1}, handlers[2]->Places());
  EXPECT_EQ((std::vector<int>{2, 1}), handlers[4]->Places());
  EXPECT_EQ((std::vector<int>{3, 2, 1}), handlers[5]->Places());
  EXPECT_EQ(1u, handlers[3]->Events().size());  // operation 4 never ran
  EXPECT_EQ(0, server.LogCount("(%P|%t) operation 4: e in 3 steps for \"queue-user\""));
  EXPECT_EQ(1, server.LogCount("(%P|%t) operation 5: e in 3 steps for \"queue-user\""));

  // Ended operations keep answering; ids never given, and ended
  // operations for cancelling, are unknown.
  EXPECT_EQ(Krovane::Cancelled, calculator->GetOperationState(4));
  EXPECT_THROW(calculator->GetOperationState(7), Krovane::InvalidOperationId);
  EXPECT_THROW(calculator->CancelOperation(2), Krovane::InvalidOperationId);
  EXPECT_THROW(calculator->CancelOperation(4), Krovane::InvalidOperationId);

  // Another calculator counts from 1 again.
  Calculator::ICalculator_var other = server.NewCalculator("queue-user-2");
  KroTest::RecordingHandler& otherHandler = server.NewHandler(reference);
  EXPECT_EQ(1, other->Compute("e", 1, reference.in()));
  EXPECT_TRUE(otherHandler.WaitFor("Finished", 20s));
}
