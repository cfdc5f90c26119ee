#include "KroClient/ServerWatch.h"

#include "KroClient/FailureText.h"
#include "KroClient/OperationCore.h"
#include "OrbLayer/RoundtripTimeoutPolicy.h"
#include "OrbLayer/ServerIncarnation.h"

#include <algorithm>

namespace KroClient
{
  namespace
  {
    // What a server that is gone or cut off (or stopped) raises; any other
    // answer, an error included, comes from a server that is there.
    bool Lost(const CORBA::SystemException& failure)
    {
      return CORBA::TRANSIENT::_downcast(&failure) || CORBA::COMM_FAILURE::_downcast(&failure) ||
             CORBA::TIMEOUT::_downcast(&failure) || CORBA::NO_RESPONSE::_downcast(&failure);
    }

    Krovane::Unavailable Forgotten(CORBA::Long id, const CORBA::Exception& answer)
    {
      const std::string text = "server unreachable: it no longer knows operation " + std::to_string(id) + " (" +
                               FailureText(answer) + ")";
      return Krovane::Unavailable(text.c_str());
    }

    // A reference to server of the watch's own, so that the watch's time-out
    // is not the application's (omniORB keeps it per reference; its time-out
    // per thread did not bound a call to a stopped server here).
    Krovane::IAsyncServer_ptr OwnReference(Krovane::IAsyncServer_ptr server, std::chrono::milliseconds timeout)
    {
      try
      {
        int argc = 0;
        CORBA::ORB_var orb = CORBA::ORB_init(argc, nullptr);  // the process's, already made
        const KroOrb::RoundtripTimeoutPolicy bound(static_cast<KroOrb::TimeT>(timeout.count()) *
                                                   (KroOrb::kTimeTPerSecond / 1000));
        return KroOrb::SetPolicyOverride<Krovane::IAsyncServer>(orb.in(), server, bound);
      }
      catch (const CORBA::Exception&)
      {
        return Krovane::IAsyncServer::_duplicate(server);  // the ORB is going: its calls fail at once
      }
    }

    // The start of the server whose reply the watch's thread received
    // last, or known when that reply said none.
    std::uint64_t Answered(std::uint64_t known)
    {
      const std::uint64_t answered = KroOrb::ServerIncarnation::OfLastReply();
      return answered != 0 ? answered : known;
    }

    void EndAll(const std::vector<std::shared_ptr<OperationCore>>& operations, const std::string& failure)
    {
      for (const std::shared_ptr<OperationCore>& operation : operations)
        operation->EndFailed(Krovane::Unavailable(failure.c_str()));
    }
  }

  ServerWatch::ServerWatch(std::chrono::milliseconds bound)
    : m_bound(bound),
      m_interval(std::max(std::chrono::milliseconds(1), bound / 4)),
      m_thread([this] { Serve(); })
  {
  }

  ServerWatch::~ServerWatch() { Stop(); }

  void ServerWatch::Stop()
  {
    {
      std::lock_guard<std::mutex> guard(m_lock);
      m_stopping = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
      m_thread.join();
  }

  void ServerWatch::Add(const std::shared_ptr<OperationCore>& operation)
  {
    {
      std::lock_guard<std::mutex> guard(m_lock);
      if (m_stopping)
        return;
      for (Watched& watched : m_watched)
        if (watched.server->_is_equivalent(operation->Server()))
        {
          watched.operations.push_back(operation);
          // The server's latest word: operations attached before may be stale.
          if (operation->Incarnation() != 0 && operation->Incarnation() != watched.incarnation)
          {
            watched.incarnation = operation->Incarnation();
            m_changed.notify_all();
          }
          return;
        }
      Watched watched;
      watched.server = Krovane::IAsyncServer::_duplicate(operation->Server());
      watched.asking = OwnReference(operation->Server(), m_interval);
      watched.operations.push_back(operation);
      watched.answered = Clock::now();
      watched.incarnation = operation->Incarnation();
      m_watched.push_back(std::move(watched));
    }
    m_changed.notify_all();  // a new server: the next question may be due sooner
  }

  std::uint64_t ServerWatch::Requests() const { return m_requests.load(); }

  ServerWatch::Operations ServerWatch::Pending(Watched& watched, Operations& released)
  {
    Operations pending;
    std::vector<std::weak_ptr<OperationCore>> kept;
    for (const std::weak_ptr<OperationCore>& weak : watched.operations)
      if (std::shared_ptr<OperationCore> operation = weak.lock())
      {
        if (operation->Pending())
        {
          pending.push_back(std::move(operation));
          kept.push_back(weak);
        }
        else
        {
          // Maybe the last reference: it goes with the caller's, outside m_lock.
          released.push_back(std::move(operation));
        }
      }
    watched.operations.swap(kept);
    return pending;
  }

  ServerWatch::Clock::time_point ServerWatch::Heard(const Watched& watched, const Operations& operations)
  {
    Clock::time_point heard = watched.answered;
    for (const std::shared_ptr<OperationCore>& operation : operations)
      heard = std::max(heard, operation->LastHeard());
    return heard;
  }

  void ServerWatch::Serve()
  {
    Operations held;  // pending operations seen in a pass; released outside m_lock
    std::unique_lock<std::mutex> guard(m_lock);
    while (!m_stopping)
    {
      guard.unlock();
      held.clear();
      guard.lock();
      const Clock::time_point now = Clock::now();
      Clock::time_point next = Clock::time_point::max();
      constexpr std::size_t kNone = static_cast<std::size_t>(-1);
      std::size_t due = kNone;
      Operations dueOperations;
      std::vector<std::pair<Operations, std::string>> lost;  // silent for the bound, their latest question failed
      for (std::size_t i = 0; i < m_watched.size();)
      {
        Watched& watched = m_watched[i];
        Operations pending = Pending(watched, held);
        if (pending.empty())
        {
          m_watched.erase(m_watched.begin() + static_cast<std::ptrdiff_t>(i));
          continue;
        }
        const Clock::time_point heard = Heard(watched, pending);
        const bool restarted = !watched.failing && !Stale(watched, pending).empty();
        const Clock::time_point at =
          restarted ? watched.asked + m_interval / 10 : std::max(heard, watched.asked) + m_interval;
        if (watched.failing && heard + m_bound <= now)
          lost.emplace_back(std::move(pending), watched.failure);
        else if (at <= now && due == kNone)
        {
          due = i;
          dueOperations = std::move(pending);
        }
        else
        {
          next = std::min(next, watched.failing ? std::min(at, heard + m_bound) : at);
          held.insert(held.end(), pending.begin(), pending.end());
        }
        ++i;
      }
      if (!lost.empty())
      {
        guard.unlock();
        for (const auto& [operations, failure] : lost)
          EndAll(operations, failure);
        lost.clear();
        guard.lock();
        continue;
      }
      if (due == kNone)
      {
        if (next == Clock::time_point::max())
          m_changed.wait(guard);
        else
          m_changed.wait_until(guard, next);
        continue;
      }
      // Only this thread removes servers: due stays the same one while unlocked.
      m_watched[due].asked = now;
      Watched asked = m_watched[due];
      guard.unlock();
      Ask(asked, dueOperations);
      dueOperations.clear();
      guard.lock();
      m_watched[due].answered = asked.answered;
      m_watched[due].failing = asked.failing;
      m_watched[due].failure = asked.failure;
      m_watched[due].endedThere = asked.endedThere;
      m_watched[due].incarnation = asked.incarnation;
    }
  }

  void ServerWatch::Ask(Watched& watched, const Operations& operations)
  {
    const std::shared_ptr<OperationCore>& first = operations.front();
    m_requests.fetch_add(1);
    const CORBA::Long askedAbout = watched.endedThere;
    watched.endedThere = 0;
    KroOrb::ServerIncarnation::ClearLastReply();
    try
    {
      const Krovane::OperationState state = StateOf(watched.asking.in(), first->Id());
      watched.incarnation = Answered(watched.incarnation);
      // Ended there, and still nothing here an interval after the last
      // answer said so: its end will not come.
      if (state == Krovane::Finished || state == Krovane::Cancelled)
      {
        if (askedAbout == first->Id())
          first->EndAsStateSays(state);
        else
          watched.endedThere = first->Id();
      }
    }
    catch (const Krovane::InvalidOperationId& answer)
    {
      watched.incarnation = Answered(watched.incarnation);
      first->EndFailed(Forgotten(first->Id(), answer));
    }
    catch (const CORBA::OBJECT_NOT_EXIST& answer)
    {
      EndAll(operations, UnreachableText(answer));  // the object will not come back
      return;
    }
    catch (const CORBA::SystemException& failure)
    {
      if (Lost(failure))
      {
        watched.failing = true;  // Serve ends its operations once the bound has passed
        watched.failure = UnreachableText(failure);
        return;
      }
    }
    catch (const CORBA::Exception&)
    {
      // Any other answer: the server is there.
    }
    // Back after failing: every handler again; else those that went to
    // another start of the server.
    if (!AttachAgain(watched, watched.failing ? operations : Stale(watched, operations)))
      return;
    watched.failing = false;
    watched.answered = Clock::now();
  }

  Krovane::OperationState ServerWatch::StateOf(Krovane::IAsyncServer_ptr server, CORBA::Long id)
  {
    // A server killed since the last question leaves its connections
    // behind (one per caller that was busy with it): a call on one fails
    // and closes it; once they are gone a call connects anew.
    const int kDeadConnections = 4;
    for (int attempt = 1;; ++attempt)
    {
      try
      {
        return server->GetOperationState(id);
      }
      catch (const CORBA::COMM_FAILURE&)
      {
        if (attempt == kDeadConnections)
          throw;
      }
      m_requests.fetch_add(1);
      KroOrb::ServerIncarnation::ClearLastReply();
    }
  }

  ServerWatch::Operations ServerWatch::Stale(const Watched& watched, const Operations& operations)
  {
    Operations stale;
    if (watched.incarnation != 0)
      for (const std::shared_ptr<OperationCore>& operation : operations)
        if (operation->Incarnation() != 0 && operation->Incarnation() != watched.incarnation)
          stale.push_back(operation);
    return stale;
  }

  bool ServerWatch::AttachAgain(Watched& watched, const Operations& operations)
  {
    for (const std::shared_ptr<OperationCore>& operation : operations)
    {
      if (!operation->Pending())
        continue;
      m_requests.fetch_add(2);  // at least; a failure may come from either
      try
      {
        m_requests.fetch_add(operation->AttachAgain(watched.asking.in()) - 2);
      }
      catch (const Krovane::InvalidOperationId& answer)
      {
        operation->EndFailed(Forgotten(operation->Id(), answer));
      }
      catch (const CORBA::OBJECT_NOT_EXIST& answer)
      {
        operation->EndFailed(Forgotten(operation->Id(), answer));
      }
      catch (const CORBA::SystemException& failure)
      {
        if (Lost(failure))
        {
          watched.failing = true;
          watched.failure = UnreachableText(failure);
          return false;
        }
      }
      catch (const CORBA::Exception&)
      {
        // Refused otherwise: it keeps the handler it has.
      }
      // Whatever the answer, this start has been tried: not asked again for it.
      if (watched.incarnation != 0 && operation->Incarnation() != watched.incarnation)
        operation->NoteIncarnation(watched.incarnation);
    }
    return true;
  }
}
