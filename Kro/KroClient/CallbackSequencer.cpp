#include "KroClient/CallbackSequencer.h"

#include "OrbLayer/PrintException.h"

#include <ace/Log_Msg.h>

#include <exception>

namespace
{
  // Early callbacks held at most; past it the lowest goes on, as if the
  // ones before it were given up (a server pipelines far fewer).
  const std::size_t kEarlyBound = 1024;
}

namespace KroClient
{
  CallbackSequencer::CallbackSequencer(Deliver deliver, bool held) : m_deliver(std::move(deliver)), m_held(held) {}

  void CallbackSequencer::Post(CallbackEvent event)
  {
    std::unique_lock<std::mutex> guard(m_lock);
    if (m_closed)
      return;
    if (event.number.number == 0)
      m_queue.push_back(std::move(event));
    else if (!Admit(std::move(event)))
      return;
    ++m_posted;
    m_changed.notify_all();
    if (!m_held && !m_delivering)
      DeliverQueued(guard);
  }

  bool CallbackSequencer::Admit(CallbackEvent event)
  {
    const KroOrb::CallbackNumber number = event.number;
    if (number.number < m_nextNumber || m_early.count(number.number) != 0)
      return false;  // a repeat, or given up and then come late
    m_early.emplace(number.number, std::move(event));
    const auto due = [this](CORBA::ULong below) {
      while (!m_early.empty() && (m_early.begin()->first < below || m_early.begin()->first == m_nextNumber ||
                                  m_early.size() > kEarlyBound))
      {
        const auto first = m_early.begin();
        m_nextNumber = first->first + 1;
        m_queue.push_back(std::move(first->second));
        m_early.erase(first);
      }
    };
    due(number.settled);
    if (m_nextNumber < number.settled)
      m_nextNumber = number.settled;  // what never came before it was given up
    due(0);
    return true;
  }

  void CallbackSequencer::Release()
  {
    std::unique_lock<std::mutex> guard(m_lock);
    m_held = false;
    if (!m_delivering)
      DeliverQueued(guard);
  }

  bool CallbackSequencer::Close(std::chrono::milliseconds bound)
  {
    std::unique_lock<std::mutex> guard(m_lock);
    m_closed = true;
    m_queue.clear();
    m_early.clear();
    // A callback that ends its own operation is the delivering thread: it
    // cannot wait for itself.
    if (m_delivering && m_deliverer == std::this_thread::get_id())
      return true;
    return m_changed.wait_for(guard, bound, [this] { return !m_delivering; });
  }

  bool CallbackSequencer::WaitForPosted(std::size_t count, Deadline deadline) const
  {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_changed.wait_until(guard, deadline, [&] { return m_posted >= count; });
  }

  void CallbackSequencer::DeliverQueued(std::unique_lock<std::mutex>& guard)
  {
    m_delivering = true;
    m_deliverer = std::this_thread::get_id();
    while (!m_queue.empty() && !m_closed)
    {
      const CallbackEvent event = std::move(m_queue.front());
      m_queue.pop_front();
      guard.unlock();
      // The application's failure must not stop the callbacks that follow,
      // nor reach the server, which cannot act on it.
      try
      {
        m_deliver(event);
      }
      catch (const CORBA::Exception& ex)
      {
        KroOrb::PrintException(ex, "KroClient: a callback threw");
      }
      catch (const std::exception& ex)
      {
        ACE_DEBUG((LM_WARNING, ACE_TEXT("(%P|%t) KroClient: a callback threw: %C\n"), ex.what()));
      }
      catch (...)
      {
        ACE_DEBUG((LM_WARNING, ACE_TEXT("(%P|%t) KroClient: a callback threw an unknown exception\n")));
      }
      guard.lock();
    }
    m_delivering = false;
    m_deliverer = std::thread::id();
    m_changed.notify_all();
  }
}
