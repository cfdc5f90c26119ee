#include "ClientHandler.h"

#include "OrbLayer/PrintException.h"

#include <cmath>
#include <cstdio>

namespace KroTiers
{
  namespace
  {
    // One line on standard output, at once (callbacks come on several threads).
    void Say(const std::string& line)
    {
      std::printf("client: %s\n", line.c_str());
      std::fflush(stdout);
    }
  }

  bool ClientHandler::WaitForFinished(std::chrono::milliseconds timeout)
  {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_finishedChanged.wait_for(guard, timeout, [this] { return m_finished; });
  }

  void ClientHandler::Queued(CORBA::Long position) { Say("Queued, place " + std::to_string(position)); }

  void ClientHandler::Status(const char* text) { Say(std::string("Status \"") + text + "\""); }

  void ClientHandler::Progress(CORBA::Double progress)
  {
    Say("Progress " + std::to_string(std::lround(progress * 100)) + "%");
  }

  void ClientHandler::Results(const CORBA::Any& data)
  {
    const char* text = nullptr;
    if (data >>= text)
      Say(std::string("Results \"") + text + "\"");
    else
      Say("Results of another type");
  }

  void ClientHandler::Finished(const CORBA::Any&)
  {
    Say("Finished");
    std::lock_guard<std::mutex> guard(m_lock);
    m_finished = true;
    m_finishedChanged.notify_all();
  }

  void ClientHandler::Error(Krovane::IAsyncExceptionHolder_ptr holder)
  {
    try
    {
      holder->raise();
      Say("Error holder raised nothing");
    }
    catch (const Krovane::SysException& ex)
    {
      Say(std::string("Error SysException \"") + ex.reason.in() + "\"");
    }
    catch (const CORBA::Exception& ex)
    {
      Say("Error " + KroOrb::DescribeException(ex));
    }
  }
}
