// RelayLabClient: the client process of the relay tests, with a real
// IAsyncHandler.
//
//   RelayLabClient --ior-file PATH [--numbers] [ORB options]
//
// Writes the reference of its handler (a RecordingHandler) to PATH and serves it until it is killed.
// Each callback prints "arrive <operation> <argument>" on standard output
// when it starts, after "OVERLAP" when another callback is still running;
// with --numbers, " #<number>" follows: the callback's place in the relay's
// order as the server numbered it (0: none).
// What a callback does depends on its argument:
//   Queued / SyncQueued n:  n > 0 sleeps n ms (a slow client); n < 0 waits up
//                           to -n ms for another callback to arrive meanwhile;
//   Status, Results, Finished and their Sync forms "refuse": raise
//                           AsyncOperationException("client refuses <operation>");
//                           "vanish": the process ends at once, unanswered;
//   Error / SyncError:      raise() the holder twice and print what each
//                           raised: "raised <repository id> \"<reason>\"", then
//                           "raised again <exception name>".
#include "RelayLabClient.hh"

#include "OrbLayer/CallbackNumbers.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace
{
  bool s_numbers = false;  // --numbers: arrivals say their callback's number

  // One line on standard output, in one write.
  void Say(const std::string& line)
  {
    const std::string text = line + "\n";
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
  }

  // The reason of a Krovane user exception, "" for others.
  std::string Reason(const CORBA::UserException& ex)
  {
#define KRO_REASON(Type) \
    if (const Krovane::Type* typed = Krovane::Type::_downcast(&ex)) return typed->reason.in();
    KRO_REASON(AsyncOperationException)
    KRO_REASON(DatabaseConnectionFailure)
    KRO_REASON(InvalidOperationId)
    KRO_REASON(InvalidOperationState)
    KRO_REASON(NoSuchObject)
    KRO_REASON(OperationCancelled)
    KRO_REASON(OperationsStillActive)
    KRO_REASON(SysException)
    KRO_REASON(Unavailable)
#undef KRO_REASON
    return "";
  }

  // The client's handler. ORB threads call it concurrently; m_lock guards
  // the counts.
  class LabHandler : public virtual POA_KroRelayLabClient::RecordingHandler,
                     public virtual PortableServer::RefCountServantBase
  {
  public:
    void Queued(CORBA::Long position) override { Position("Queued", position); }
    void Status(const char* text) override { Text("Status", text); }
    void Progress(CORBA::Double progress) override { Number("Progress", progress); }
    void Results(const CORBA::Any& data) override { Data("Results", data); }
    void Finished(const CORBA::Any& data) override { Data("Finished", data); }
    void Error(Krovane::IAsyncExceptionHolder_ptr holder) override { Holder("Error", holder); }
    void SyncQueued(CORBA::Long position) override { Position("SyncQueued", position); }
    void SyncStatus(const char* text) override { Text("SyncStatus", text); }
    void SyncProgress(CORBA::Double progress) override { Number("SyncProgress", progress); }
    void SyncResults(const CORBA::Any& data) override { Data("SyncResults", data); }
    void SyncFinished(const CORBA::Any& data) override { Data("SyncFinished", data); }
    void SyncError(Krovane::IAsyncExceptionHolder_ptr holder) override { Holder("SyncError", holder); }

  private:
    // Counts a running callback from construction to destruction.
    class Running
    {
    public:
      Running(LabHandler& handler, const std::string& operation, const std::string& argument)
        : m_handler(handler)
      {
        std::lock_guard<std::mutex> guard(m_handler.m_lock);
        m_arrival = ++m_handler.m_arrivals;
        m_company = ++m_handler.m_running > 1;
        if (m_company)
          Say("OVERLAP");
        Say("arrive " + operation + " " + argument +
            (s_numbers ? " #" + std::to_string(KroOrb::CallbackNumbers::OfThisRequest().number) : ""));
        m_handler.m_arrived.notify_all();
      }
      ~Running()
      {
        std::lock_guard<std::mutex> guard(m_handler.m_lock);
        --m_handler.m_running;
      }

      // Waits up to timeout for another callback to arrive while this one runs.
      void AwaitCompany(std::chrono::milliseconds timeout)
      {
        std::unique_lock<std::mutex> guard(m_handler.m_lock);
        if (!m_company)
          m_handler.m_arrived.wait_for(guard, timeout, [this] { return m_handler.m_arrivals != m_arrival; });
      }

    private:
      LabHandler& m_handler;  // whose callbacks are counted
      long m_arrival = 0;     // this callback's arrival number
      bool m_company = false; // another callback was running when this one arrived
    };

    void Position(const char* operation, CORBA::Long position)
    {
      Running running(*this, operation, std::to_string(position));
      if (position > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(position));  // a slow client
      else if (position < 0)
        running.AwaitCompany(std::chrono::milliseconds(-position));
    }

    void Text(const char* operation, const char* text)
    {
      Running running(*this, operation, text);
      RefuseIf(operation, text);
    }

    void Number(const char* operation, CORBA::Double value)
    {
      char text[64];
      std::snprintf(text, sizeof text, "%g", value);
      Running running(*this, operation, text);
    }

    void Data(const char* operation, const CORBA::Any& data)
    {
      const char* text = nullptr;
      if (!(data >>= text))
        text = "(not a string)";
      Running running(*this, operation, text);
      RefuseIf(operation, text);
    }

    void Holder(const char* operation, Krovane::IAsyncExceptionHolder_ptr holder)
    {
      Running running(*this, operation, "holder");
      try
      {
        holder->raise();
        Say("raised nothing");
      }
      catch (const CORBA::UserException& ex)
      {
        Say(std::string("raised ") + ex._rep_id() + " \"" + Reason(ex) + "\"");
      }
      try
      {
        holder->raise();
        Say("raised again nothing");
      }
      catch (const CORBA::Exception& ex)
      {
        Say(std::string("raised again ") + ex._name());
      }
    }

    static void RefuseIf(const char* operation, const char* text)
    {
      if (std::strcmp(text, "vanish") == 0)
        std::_Exit(0);
      if (std::strcmp(text, "refuse") == 0)
        throw Krovane::AsyncOperationException((std::string("client refuses ") + operation).c_str());
    }

    std::mutex m_lock;                  // guards m_running and m_arrivals
    std::condition_variable m_arrived;  // signalled at each arrival
    int m_running = 0;                  // callbacks running now
    long m_arrivals = 0;                // callbacks arrived so far
  };
}

int main(int argc, char** argv)
{
  std::string iorFile;
  std::vector<char*> orbArgs{argv[0]};
  for (int i = 1; i < argc; ++i)
  {
    if (std::strcmp(argv[i], "--ior-file") == 0 && i + 1 < argc)
      iorFile = argv[++i];
    else if (std::strcmp(argv[i], "--numbers") == 0)
      s_numbers = true;
    else
      orbArgs.push_back(argv[i]);
  }
  if (iorFile.empty())
  {
    std::fprintf(stderr, "usage: %s --ior-file PATH [--numbers] [ORB options]\n", argv[0]);
    return 2;
  }
  orbArgs.push_back(nullptr);

  try
  {
    int orbArgc = static_cast<int>(orbArgs.size()) - 1;
    CORBA::ORB_var orb = CORBA::ORB_init(orbArgc, orbArgs.data());
    if (s_numbers)
      KroOrb::CallbackNumbers::Install();
    CORBA::Object_var rootObject = orb->resolve_initial_references("RootPOA");
    PortableServer::POA_var root = PortableServer::POA::_narrow(rootObject.in());
    PortableServer::POAManager_var manager = root->the_POAManager();
    manager->activate();

    PortableServer::ServantBase_var handler = new LabHandler;
    PortableServer::ObjectId_var id = root->activate_object(handler.in());
    CORBA::Object_var reference = root->id_to_reference(id.in());
    CORBA::String_var ior = orb->object_to_string(reference.in());
    const std::string temporary = iorFile + ".tmp";
    {
      std::ofstream out(temporary);
      out << ior.in();
      if (!out)
        throw std::runtime_error("cannot write " + temporary);
    }
    if (std::rename(temporary.c_str(), iorFile.c_str()) != 0)
      throw std::runtime_error("cannot rename " + temporary);

    orb->run();  // until the process is killed
    orb->destroy();
  }
  catch (const CORBA::Exception& ex)
  {
    std::fprintf(stderr, "RelayLabClient: %s\n", ex._name());
    return 1;
  }
  catch (const std::exception& ex)
  {
    std::fprintf(stderr, "RelayLabClient: %s\n", ex.what());
    return 1;
  }
  return 0;
}
