#include "RecordingHandler.h"

#include "support/ClientOrb.h"

#include <cstdio>

namespace KroTest
{
  namespace
  {
    // The test process's root POA, taking requests.
    PortableServer::POA_ptr RootPOA()
    {
      static std::mutex lock;
      static PortableServer::POA_var root;
      std::lock_guard<std::mutex> guard(lock);
      if (CORBA::is_nil(root.in()))
      {
        CORBA::ORB_var orb = ClientOrb();
        CORBA::Object_var object = orb->resolve_initial_references("RootPOA");
        root = PortableServer::POA::_narrow(object.in());
        PortableServer::POAManager_var manager = root->the_POAManager();
        manager->activate();
      }
      return PortableServer::POA::_duplicate(root.in());
    }
  }

  RecordingHandler::RecordingHandler() {}

  Krovane::IAsyncHandler_ptr RecordingHandler::Activate()
  {
    PortableServer::POA_var root = RootPOA();
    PortableServer::ObjectId_var id = root->activate_object(this);
    CORBA::Object_var object = root->id_to_reference(id.in());
    return Krovane::IAsyncHandler::_narrow(object.in());
  }

  void RecordingHandler::Record(const std::string& event)
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_events.push_back(event);
    m_recorded.notify_all();
  }

  int RecordingHandler::CountLocked(const std::string& prefix) const
  {
    int count = 0;
    for (const std::string& event : m_events)
      count += event.compare(0, prefix.size(), prefix) == 0 ? 1 : 0;
    return count;
  }

  std::vector<std::string> RecordingHandler::Events() const
  {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_events;
  }

  int RecordingHandler::Count(const std::string& prefix) const
  {
    std::lock_guard<std::mutex> guard(m_lock);
    return CountLocked(prefix);
  }

  std::vector<int> RecordingHandler::Places() const
  {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_places;
  }

  Krovane::IAsyncExceptionHolder_ptr RecordingHandler::Holder() const
  {
    std::lock_guard<std::mutex> guard(m_lock);
    return Krovane::IAsyncExceptionHolder::_duplicate(m_holder.in());
  }

  bool RecordingHandler::WaitFor(const std::string& prefix, std::chrono::milliseconds timeout, int times) const
  {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_recorded.wait_for(guard, timeout, [&] { return CountLocked(prefix) >= times; });
  }

  void RecordingHandler::Queued(CORBA::Long position)
  {
    {
      std::lock_guard<std::mutex> guard(m_lock);
      m_places.push_back(position);
    }
    Record("Queued " + std::to_string(position));
  }

  void RecordingHandler::Status(const char* text) { Record(std::string("Status ") + text); }

  void RecordingHandler::Progress(CORBA::Double progress)
  {
    char text[32];
    std::snprintf(text, sizeof text, "Progress %g", progress);
    Record(text);
  }

  void RecordingHandler::Results(const CORBA::Any&) { Record("Results"); }

  void RecordingHandler::Finished(const CORBA::Any&) { Record("Finished"); }

  void RecordingHandler::Error(Krovane::IAsyncExceptionHolder_ptr holder)
  {
    {
      std::lock_guard<std::mutex> guard(m_lock);
      m_holder = Krovane::IAsyncExceptionHolder::_duplicate(holder);
    }
    Record("Error");
  }
}
