#include "FaultyHandler.h"

#include <cstdio>
#include <stdexcept>
#include <unistd.h>

namespace KroTest
{
  namespace
  {
    const char* const kCallbackNames[] = {"Queued", "Status", "Progress", "Results", "Finished", "Error"};
    const char* const kActionNames[] = {"raise", "block", "exit", "vanish", "hook"};
  }

  const char* NameOf(Callback callback) { return kCallbackNames[static_cast<int>(callback)]; }

  const char* NameOf(Action action) { return kActionNames[static_cast<int>(action)]; }

  std::string Fault::Text() const
  {
    return std::string(NameOf(on)) + ":" + std::to_string(count) + ":" + NameOf(action);
  }

  Fault Fault::Parse(const std::string& text)
  {
    const std::string::size_type first = text.find(':');
    const std::string::size_type second = text.find(':', first == std::string::npos ? first : first + 1);
    if (first == std::string::npos || second == std::string::npos)
      throw std::invalid_argument("fault \"" + text + "\": want Callback:count:action");
    Fault fault{Callback::Queued, std::stoi(text.substr(first + 1, second - first - 1)), Action::Raise, {}};
    const std::string callback = text.substr(0, first);
    const std::string action = text.substr(second + 1);
    bool known = false;
    for (int i = 0; i < 6; ++i)
      if (callback == kCallbackNames[i])
      {
        fault.on = static_cast<Callback>(i);
        known = true;
      }
    if (!known)
      throw std::invalid_argument("fault \"" + text + "\": no callback " + callback);
    known = false;
    for (int i = 0; i < 4; ++i)  // a hook cannot be given as text
      if (action == kActionNames[i])
      {
        fault.action = static_cast<Action>(i);
        known = true;
      }
    if (!known)
      throw std::invalid_argument("fault \"" + text + "\": no action " + action);
    return fault;
  }

  FaultyHandler::FaultyHandler(std::vector<Fault> faults, std::chrono::milliseconds blockFor,
                               std::function<void(const std::string&)> observer)
    : m_faults(std::move(faults)), m_blockFor(blockFor), m_observer(std::move(observer))
  {
  }

  void FaultyHandler::Release()
  {
    std::lock_guard<std::mutex> guard(m_faultLock);
    m_releasedAll = true;
    m_released.notify_all();
  }

  bool FaultyHandler::Gone() const
  {
    std::lock_guard<std::mutex> guard(m_faultLock);
    return m_gone;
  }

  void FaultyHandler::Inject(Callback callback, const std::string& event)
  {
    if (m_observer)
      m_observer(event);
    const Fault* due = nullptr;
    {
      std::lock_guard<std::mutex> guard(m_faultLock);
      const int count = ++m_counts[callback];
      for (const Fault& fault : m_faults)
        if (fault.on == callback && fault.count == count)
          due = &fault;
      if (due && (due->action == Action::Exit || due->action == Action::Vanish))
        m_gone = true;
    }
    if (!due)
      return;
    switch (due->action)
    {
      case Action::Raise:
        throw Krovane::AsyncOperationException(("refused by the client at " + due->Text()).c_str());
      case Action::Block:
      {
        std::unique_lock<std::mutex> guard(m_faultLock);
        m_released.wait_for(guard, m_blockFor, [this] { return m_releasedAll; });
        return;
      }
      case Action::Exit:
        std::fflush(stdout);
        std::fflush(stderr);
        _exit(3);
      case Action::Vanish:
      {
        PortableServer::POA_var poa = _default_POA();
        PortableServer::ObjectId_var id = poa->servant_to_id(this);
        poa->deactivate_object(id.in());
        throw CORBA::OBJECT_NOT_EXIST(0, CORBA::COMPLETED_NO);
      }
      case Action::Hook:
        if (due->hook)
          due->hook();
        return;
    }
  }

  void FaultyHandler::Queued(CORBA::Long position)
  {
    RecordingHandler::Queued(position);
    Inject(Callback::Queued, "Queued " + std::to_string(position));
  }

  void FaultyHandler::Status(const char* text)
  {
    RecordingHandler::Status(text);
    Inject(Callback::Status, std::string("Status ") + text);
  }

  void FaultyHandler::Progress(CORBA::Double progress)
  {
    RecordingHandler::Progress(progress);
    Inject(Callback::Progress, "Progress");
  }

  void FaultyHandler::Results(const CORBA::Any& data)
  {
    RecordingHandler::Results(data);
    Inject(Callback::Results, "Results");
  }

  void FaultyHandler::Finished(const CORBA::Any& data)
  {
    RecordingHandler::Finished(data);
    Inject(Callback::Finished, "Finished");
  }

  void FaultyHandler::Error(Krovane::IAsyncExceptionHolder_ptr holder)
  {
    RecordingHandler::Error(holder);
    Inject(Callback::Error, "Error");
  }
}
