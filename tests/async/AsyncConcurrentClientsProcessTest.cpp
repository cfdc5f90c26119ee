// Many clients at once on one calculator server: each submits, cancels,
// attaches a new handler, cancels everything and removes its calculator
// while the others do the same. Every operation ends once, and the
// server stays sound (under ThreadSanitizer: without a report) and ends
// cleanly.
#include "CalculatorServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace
{
  const int kClients = 4;
  const char* const kWithdrawn = "Status Queued AsynchronousOperation Cancelled.";

  // One client's calculator and handlers: three operations, and a second
  // handler for the first one.
  struct Client
  {
    Calculator::ICalculator_var calculator;                 // its own calculator
    std::vector<KroTest::RecordingHandler*> handlers;       // 0-2: the operations'; 3: the new one
    std::vector<Krovane::IAsyncHandler_var> references;     // their references
    std::string failure;                                    // what went wrong, if anything
  };

  // How often an operation whose callbacks reach handlers has ended:
  // Finished, or withdrawn while it waited.
  int Ends(const std::vector<KroTest::RecordingHandler*>& handlers)
  {
    int ends = 0;
    for (const KroTest::RecordingHandler* handler : handlers)
      ends += handler->Count("Finished") + handler->Count(kWithdrawn);
    return ends;
  }

  // What is wrong with how an operation ended, once every callback of it has
  // been made; empty when nothing is. It ends once: Finished once, withdrawn
  // once, or both. Both happen when a pool thread had already taken the
  // operation from its queue as it was cancelled: it was told it was
  // withdrawn, and the pool thread's cancellation check then ends it with
  // Finished, never before.
  std::string EndedOnce(const std::vector<KroTest::RecordingHandler*>& handlers)
  {
    int finished = 0;
    int withdrawn = 0;
    std::string events;
    for (const KroTest::RecordingHandler* handler : handlers)
    {
      finished += handler->Count("Finished");
      withdrawn += handler->Count(kWithdrawn);
      bool finishedYet = false;
      for (const std::string& event : handler->Events())
      {
        events += event + "; ";
        if (event.compare(0, std::strlen(kWithdrawn), kWithdrawn) == 0 && finishedYet)
          return "withdrawn after Finished: " + events;
        finishedYet = finishedYet || event == "Finished";
      }
    }
    if (finished > 1 || withdrawn > 1 || finished + withdrawn == 0)
      return "ended " + std::to_string(finished) + " times with Finished and " + std::to_string(withdrawn) +
             " times withdrawn: " + events;
    return "";
  }

  // Waits until that operation has ended, at most 60 s, watching each
  // handler in turn for a short while.
  bool WaitForEnd(const std::vector<KroTest::RecordingHandler*>& handlers)
  {
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (Ends(handlers) == 0 && std::chrono::steady_clock::now() < deadline)
      for (const KroTest::RecordingHandler* handler : handlers)
        handler->WaitFor("Finished", 50ms);
    return Ends(handlers) > 0;
  }

  // One client's session, on a thread of its own.
  void Session(Client& client)
  {
    try
    {
      Calculator::ICalculator_ptr calculator = client.calculator.in();
      const CORBA::Long first = calculator->Compute("pi", 30, client.references[0].in());
      const CORBA::Long second = calculator->Compute("e", 5, client.references[1].in());
      const CORBA::Long third = calculator->Compute("primes", KroTest::kEndless, client.references[2].in());
      if (first != 1 || second != 2 || third != 3)
        client.failure = "ids " + std::to_string(first) + ", " + std::to_string(second) + ", " + std::to_string(third);
      try
      {
        calculator->CancelOperation(second);
      }
      catch (const Krovane::InvalidOperationId&)
      {
        // It had already ended.
      }
      calculator->RegisterNewHandler(first, client.references[3].in());
      for (CORBA::Long id : {first, second, third})
        calculator->GetOperationState(id);
      calculator->CancelAllOperations();
      calculator->Remove();
    }
    catch (const CORBA::Exception& ex)
    {
      client.failure = ex._name();
    }
  }
}

TEST(AsyncConcurrentClients, SubmitCancelReattachAndRemoveAtOnce)
{
  KroTest::CalculatorServer server(2);
  std::vector<Client> clients(kClients);
  for (int i = 0; i < kClients; ++i)
  {
    clients[i].calculator = server.NewCalculator("client-" + std::to_string(i));
    clients[i].references.resize(4);
    for (auto& reference : clients[i].references)
      clients[i].handlers.push_back(&server.NewHandler(reference));
  }

  std::vector<std::thread> sessions;
  for (Client& client : clients)
    sessions.emplace_back(Session, std::ref(client));
  for (std::thread& session : sessions)
    session.join();
  // A client's call that failed leaves operations that may never end: say
  // why at once, with what the server printed.
  for (int i = 0; i < kClients; ++i)
    ASSERT_EQ("", clients[i].failure) << "client " << i << "\n" << server.Log();

  for (int i = 0; i < kClients; ++i)
  {
    const Client& client = clients[i];
    const std::vector<KroTest::RecordingHandler*> firstOperation = {client.handlers[0], client.handlers[3]};
    EXPECT_TRUE(WaitForEnd(firstOperation)) << "client " << i;
    EXPECT_TRUE(WaitForEnd({client.handlers[1]})) << "client " << i;
    EXPECT_TRUE(WaitForEnd({client.handlers[2]})) << "client " << i;
  }
  // Every calculator and account has gone once its operations had, and so
  // every callback of theirs has been made.
  EXPECT_TRUE(server.WaitForLog("(%P|%t) calculator deleted", kClients));
  for (int i = 0; i < kClients; ++i)
  {
    const Client& client = clients[i];
    EXPECT_EQ("", EndedOnce({client.handlers[0], client.handlers[3]})) << "client " << i;
    EXPECT_EQ("", EndedOnce({client.handlers[1]})) << "client " << i;
    EXPECT_EQ("", EndedOnce({client.handlers[2]})) << "client " << i;
  }

  const auto status = server.Server().Stop(30s);
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(status->exited && status->code == 0) << server.Server().Process().Describe();
  EXPECT_EQ(std::string::npos, server.Log().find("ThreadSanitizer")) << server.Log();
}
