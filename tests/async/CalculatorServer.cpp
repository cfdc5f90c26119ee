#include "CalculatorServer.h"

#include "support/ClientOrb.h"
#include "support/LogLines.h"

#include <chrono>
#include <stdexcept>

namespace KroTest
{
  namespace
  {
    const std::chrono::seconds kLogWait(20);  // the longest wait for a log line

    std::vector<std::string> ServerArgs(int maxThreads, const std::vector<std::string>& extraArgs)
    {
      std::vector<std::string> args = {"--max-threads", std::to_string(maxThreads), "--step-ms", "20",
                                       "--idle-seconds", "3600"};
      args.insert(args.end(), extraArgs.begin(), extraArgs.end());
      return args;
    }
  }

  CalculatorServer::CalculatorServer(int maxThreads, const std::vector<std::string>& extraArgs)
    : m_server(KRO_EXAMPLE_ASYNC_SERVER, ServerArgs(maxThreads, extraArgs))
  {
    CORBA::Object_var object = ObjectFromIor(m_server.Ior());
    m_factory = Krovane::IServerFactory::_narrow(object.in());
  }

  Calculator::ICalculator_ptr CalculatorServer::NewCalculator(const std::string& user)
  {
    Krovane::ISyncServer_var server = m_factory->CreateObject(Token(user));
    Calculator::ICalculator_var calculator = Calculator::ICalculator::_narrow(server.in());
    if (CORBA::is_nil(calculator.in()))
      throw std::runtime_error("CreateObject gave no calculator");
    return calculator._retn();
  }

  RecordingHandler& CalculatorServer::NewHandler(Krovane::IAsyncHandler_var& reference)
  {
    RecordingHandler* handler = new RecordingHandler;
    m_handlers.emplace_back(handler);
    reference = handler->Activate();
    return *handler;
  }

  int CalculatorServer::LogCount(const std::string& line)
  {
    return CountNormalised(Log(), line);
  }

  bool CalculatorServer::WaitForLog(const std::string& line, int times)
  {
    // The text after the prefix is waited for; the whole line is then checked.
    const std::string text = line.substr(line.find(' ') + 1) + "\n";
    return m_server.Process().Stderr().WaitFor(text, kLogWait, times) && LogCount(line) >= times;
  }

  std::string CalculatorServer::Log() { return m_server.Process().Stderr().Text(); }

  std::string CalculatorServer::Printed() { return m_server.Process().Stdout().Text(); }

  ServerProcess& CalculatorServer::Server() { return m_server; }
}
