// CalculatorServer: a real KroExampleAsyncServer on 127.0.0.1 for a test,
// with a small pool and short steps, reached through the test process's
// own ORB; plus the test's handlers (RecordingHandler) and readers of the
// server's log and printed output.
//
// Ownership and threads: one per test, used from the test's thread (the
// handlers it makes may be read from any thread). The server process is
// killed and reaped with it; the handlers stay active in the test
// process's POA until the test program ends.
#ifndef KRO_TESTS_ASYNC_CALCULATORSERVER_H
#define KRO_TESTS_ASYNC_CALCULATORSERVER_H

#include "RecordingHandler.h"

#include "support/ProcessHarness.h"

#include "Calculator.hh"

#include <string>
#include <vector>

namespace KroTest
{
  // A computation that runs until it is cancelled (a step takes 20 ms).
  const CORBA::Long kEndless = 10000;

  class CalculatorServer
  {
  public:
    // Starts the server with a pool of at most maxThreads threads, steps of
    // 20 ms, and no idle shutdown within a test's time; extraArgs follow.
    explicit CalculatorServer(int maxThreads, const std::vector<std::string>& extraArgs = {});

    // A new calculator working for user; the caller owns the reference.
    Calculator::ICalculator_ptr NewCalculator(const std::string& user);
    // A new handler, active in this process; reference receives its reference.
    RecordingHandler& NewHandler(Krovane::IAsyncHandler_var& reference);

    // How many lines of the server's log equal line, "(%P|%t) " standing
    // for the process and thread prefix.
    int LogCount(const std::string& line);
    // Waits until the log holds line (as for LogCount) times times.
    bool WaitForLog(const std::string& line, int times = 1);
    // The server's log so far.
    std::string Log();
    // What the server printed on standard output so far.
    std::string Printed();

    ServerProcess& Server();

  private:
    ServerProcess m_server;                               // the server process
    Krovane::IServerFactory_var m_factory;                // its factory
    std::vector<PortableServer::ServantBase_var> m_handlers;  // the test's handlers
  };
}

#endif
