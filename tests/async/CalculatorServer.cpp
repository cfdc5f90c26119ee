#include "CalculatorServer.h"

#include "ClientOrb.h"
#include "support/LogCapture.h"  // NormalisePrefix

#include <chrono>
#include <sstream>
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
    Krovane::UserToken token;
    token.length(static_cast<CORBA::ULong>(user.size()));
    for (CORBA::ULong i = 0; i < token.length(); ++i)
      token[i] = static_cast<CORBA::Octet>(user[i]);
    Krovane::ISyncServer_var server = m_factory->CreateObject(token);
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
    std::istringstream log(Log());
    int count = 0;
    for (std::string logged; std::getline(log, logged);)
      count += NormalisePrefix(logged) == line ? 1 : 0;
    return count;
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
