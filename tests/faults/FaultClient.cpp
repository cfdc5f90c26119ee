#include "FaultClient.h"

#include "support/ClientOrb.h"
#include "support/LogLines.h"

#include <mutex>
#include <stdexcept>

namespace KroTest
{
  namespace
  {
    const std::string kHostPrefix = "handler: ";  // how the host prints an event

    bool Begins(const std::string& text, const std::string& prefix)
    {
      return text.compare(0, prefix.size(), prefix) == 0;
    }

    // Takes over a local handler's last reference of the test's own for
    // the rest of the program: the handler is never deleted. Dropped by its
    // FaultClient, it could be deleted by an ORB thread (the POA lets go
    // when a call still under way ends) right after the test thread's own
    // release, through omniORB's reference count, which ThreadSanitizer
    // does not see: a report on the servant's vptr.
    void KeepForTheProgram(PortableServer::ServantBase_var handler)
    {
      static std::mutex lock;
      static auto* const kept = new std::vector<PortableServer::ServantBase_var>;  // reachable to the end
      std::lock_guard<std::mutex> guard(lock);
      kept->push_back(handler);
    }
  }

  FaultClient::FaultClient(std::vector<Fault> faults, std::chrono::milliseconds blockFor)
    : m_staysAlive(true)
  {
    bool exits = false;
    for (const Fault& fault : faults)
    {
      m_staysAlive = m_staysAlive && fault.action != Action::Exit && fault.action != Action::Vanish;
      exits = exits || fault.action == Action::Exit;
    }
    if (!exits)
    {
      FaultyHandler* handler = new FaultyHandler(std::move(faults), blockFor);
      m_local = handler;
      m_reference = handler->Activate();
      return;
    }

    m_files = std::make_unique<TemporaryDirectory>();
    const std::string iorFile = m_files->File("handler.ior");
    std::vector<std::string> args = {"--ior-file", iorFile, "--block-ms", std::to_string(blockFor.count()),
                                     "-ORBendPoint", "giop:tcp:127.0.0.1:"};
    for (const Fault& fault : faults)
      args.insert(args.end(), {"--fault", fault.Text()});
    m_host = std::make_unique<ChildProcess>(KRO_FAULT_HANDLER_HOST, args);
    if (!WaitForFile(iorFile, std::chrono::seconds(20), m_host.get()))
      throw std::runtime_error("no handler from " + m_host->Describe());
    const std::string ior = ReadFileText(iorFile);
    CORBA::Object_var object = ObjectFromIor(ior.substr(0, ior.find_first_of("\r\n")));
    m_reference = Krovane::IAsyncHandler::_narrow(object.in());
  }

  FaultClient::~FaultClient()
  {
    if (FaultyHandler* handler = dynamic_cast<FaultyHandler*>(m_local.in()))
    {
      // Left active (a late callback of its operation finds it), like the
      // other tests' handlers, until the ORB goes at the program's end.
      handler->Release();
      KeepForTheProgram(m_local);
    }
  }

  Krovane::IAsyncHandler_ptr FaultClient::Reference() const { return m_reference.in(); }

  std::vector<std::string> FaultClient::Events() const
  {
    if (const RecordingHandler* handler = dynamic_cast<const RecordingHandler*>(m_local.in()))
      return handler->Events();
    std::vector<std::string> events;
    for (const std::string& line : Lines(m_host->Stdout().Text()))
      if (Begins(line, kHostPrefix))
        events.push_back(line.substr(kHostPrefix.size()));
    return events;
  }

  Krovane::IAsyncExceptionHolder_ptr FaultClient::Holder() const
  {
    if (const RecordingHandler* handler = dynamic_cast<const RecordingHandler*>(m_local.in()))
      return handler->Holder();
    return Krovane::IAsyncExceptionHolder::_nil();
  }

  int FaultClient::Count(const std::string& prefix) const
  {
    int count = 0;
    for (const std::string& event : Events())
      count += Begins(event, prefix) ? 1 : 0;
    return count;
  }

  bool FaultClient::WaitFor(const std::string& prefix, std::chrono::milliseconds timeout, int times) const
  {
    if (const RecordingHandler* handler = dynamic_cast<const RecordingHandler*>(m_local.in()))
      return handler->WaitFor(prefix, timeout, times);
    return m_host->Stdout().WaitFor(kHostPrefix + prefix, timeout, times) && Count(prefix) >= times;
  }

  bool FaultClient::StaysAlive() const { return m_staysAlive; }

  std::string FaultClient::Describe() const { return m_host ? m_host->Describe() : std::string(); }
}
