#include "KroServer/AsynchronousHandler.h"

#include "KroDazadared/KroSystem.h"
#include "KroServer/BoundedText.h"
#include "KroServer/OperationRegistry.h"
#include "OrbLayer/PrintException.h"
#include "KroServer/RelayDelivery.h"
#include "KroServer/ServerMetrics.h"
#include "KroServer/UnguessableObjectIds.h"
#include "OrbLayer/RoundtripTimeoutPolicy.h"

#include <ace/Guard_T.h>
#include <ace/Log_Msg.h>

#include <chrono>
#include <exception>
#include <mutex>
#include <string>
#include <utility>

namespace Krovane
{
  struct AsynchronousHandler::CallTexts
  {
    const char* timedOut;       // printed with a CORBA::TIMEOUT
    const char* systemFailure;  // printed with another system exception before detaching; null: silent
    const char* userFailure;    // printed with a user exception before it is re-raised; null: silent
    const char* escaped;        // printed with a system exception that escapes the handling; null: silent
    bool swallowOther;          // a non-CORBA exception is logged and ends there, instead of propagating
    bool superseded;            // a later callback of the operation tells the client more (a place, progress, status)
    bool outcome;               // found no handler: kept for the next one attached (Results, Error)
    bool last;                  // ends the operation: pipelined, it goes once all before it are settled
  };

  namespace
  {
    // A report the callback does not make.
    const char* const kNoText = nullptr;

    // Queued callbacks beyond which a caller sends the outbox itself.
    const std::size_t kOutboxBound = 256;
    // Callbacks a delivery thread sends from one relay before it serves another.
    const std::size_t kDrainBound = 64;
    // How long a pipelined caller waits for room, or setProxyHandler for the
    // calls in flight, before it goes on regardless; each call ends within
    // the time-out, so this is only reached without one.
    const std::chrono::seconds kPipelineWait(60);
    // Tries of one callback while each fails on a connection the client
    // closed: every stale pooled connection to the client's address (omniORB
    // keeps up to 5 by default, -ORBmaxGIOPConnectionPerServer) fails once
    // and is dropped, then a fresh one is made.
    const int kStaleConnectionTries = 8;

    std::atomic<AsynchronousHandler::Delivery> s_defaultDelivery{AsynchronousHandler::Delivery::kWaiting};
    std::atomic<int> s_detachAfterTimeouts{3};
    std::atomic<bool> s_dropSuperseded{false};
    std::atomic<std::size_t> s_pipelineDepth{8};

    // A callback's argument as the outbox keeps it (Kept) and hands it back (Used).
    template <typename T>
    T Kept(T value) { return value; }
    std::string Kept(const char* text) { return text ? text : ""; }
    // A queued Any owns a buffer of its own: a copy would share the caller's,
    // whose count omniORB keeps with atomics that ThreadSanitizer cannot see,
    // so the caller's release would look racy with the delivery's marshalling.
    CORBA::Any Kept(const CORBA::Any& data)
    {
      cdrMemoryStream stream;
      data >>= stream;
      stream.rewindInputPtr();
      CORBA::Any copy;
      copy <<= stream;
      return copy;
    }
    IAsyncExceptionHolder_var Kept(IAsyncExceptionHolder_ptr holder)
    {
      return IAsyncExceptionHolder::_duplicate(holder);
    }
    template <typename T>
    const T& Used(const T& value) { return value; }
    const char* Used(const std::string& text) { return text.c_str(); }
    IAsyncExceptionHolder_ptr Used(const IAsyncExceptionHolder_var& holder) { return holder.in(); }

    ServerMetrics& Metrics() { return ServerMetrics::Instance(); }
  }

  void AsynchronousHandler::SetDefaultDelivery(Delivery delivery)
  {
    s_defaultDelivery.store(delivery);
  }

  void AsynchronousHandler::SetDetachAfterTimeouts(int n)
  {
    s_detachAfterTimeouts.store(n > 0 ? n : 0);
  }

  void AsynchronousHandler::SetDropSupersededWhenFull(bool drop)
  {
    s_dropSuperseded.store(drop);
  }

  void AsynchronousHandler::SetPipelineDepth(int depth)
  {
    s_pipelineDepth.store(depth < 1 ? 1 : static_cast<std::size_t>(depth));
  }

  AsynchronousHandler::AsynchronousHandler()
    : m_proxy(Krovane::IAsyncHandler::_nil()), m_timeout(0), m_timeoutsInARow(0), m_refCount(1),
      m_delivery(s_defaultDelivery.load()), m_scheduled(0), m_ordered(false)
  {
  }

  AsynchronousHandler::AsynchronousHandler(Krovane::IAsyncHandler_ptr handler)
    : m_proxy(Krovane::IAsyncHandler::_duplicate(handler)), m_timeout(0), m_timeoutsInARow(0), m_refCount(1),
      m_delivery(s_defaultDelivery.load()), m_scheduled(0),
      m_ordered(!CORBA::is_nil(handler) && KroOrb::CallbackNumbers::CallerKeepsOrder())
  {
  }

  void AsynchronousHandler::ActiveIn(PortableServer::POA_ptr poa, const PortableServer::ObjectId& id)
  {
    std::lock_guard<std::mutex> guard(m_activationLock);
    m_activePoa = PortableServer::POA::_duplicate(poa);
    m_activeId = new PortableServer::ObjectId(id);
  }

  void AsynchronousHandler::ActivateOnDemandIn(PortableServer::POA_ptr poa)
  {
    std::lock_guard<std::mutex> guard(m_activationLock);
    m_activePoa = PortableServer::POA::_duplicate(poa);
    m_activeId = static_cast<PortableServer::ObjectId*>(nullptr);
  }

  Krovane::IAsyncHandler_ptr AsynchronousHandler::OwnReference()
  {
    std::lock_guard<std::mutex> guard(m_activationLock);
    if (!CORBA::is_nil(m_ownReference.in()) || CORBA::is_nil(m_activePoa.in()))
      return m_ownReference.in();
    try
    {
      if (!m_activeId.operator->())
      {
        if (m_retired)
          return Krovane::IAsyncHandler::_nil();  // its operation is over
        m_activeId = UnguessableObjectIds::Activate(m_activePoa.in(), this);
      }
      // By id, whether or not the relay is still active: a reference asked
      // for as its operation retires it is still a reference.
      CORBA::Object_var object =
        m_activePoa->create_reference_with_id(m_activeId.in(), Krovane::IAsyncHandler::_PD_repoId);
      m_ownReference = Krovane::IAsyncHandler::_unchecked_narrow(object.in());
    }
    catch (const CORBA::Exception& ex)
    {
      KroOrb::PrintException(ex, "AsynchronousHandler::OwnReference");
    }
    return m_ownReference.in();
  }

  bool AsynchronousHandler::DeactivateIn(PortableServer::POA_ptr poa)
  {
    PortableServer::ObjectId_var id;
    {
      std::lock_guard<std::mutex> guard(m_activationLock);
      if (CORBA::is_nil(poa) || poa != m_activePoa.in())
        return false;
      m_retired = true;
      if (!m_activeId.operator->())
        return true;  // never activated: nothing to deactivate
      id = new PortableServer::ObjectId(m_activeId.in());
    }
    poa->deactivate_object(id.in());
    return true;
  }

  void AsynchronousHandler::setDelivery(Delivery delivery)
  {
    m_delivery.store(delivery);
  }

  AsynchronousHandler::~AsynchronousHandler()
  {
  }

  void AsynchronousHandler::_add_ref()
  {
    m_refCount.fetch_add(1, std::memory_order_relaxed);
  }

  void AsynchronousHandler::_remove_ref()
  {
    if (m_refCount.fetch_sub(1, std::memory_order_acq_rel) == 1)
      delete this;
  }

  CORBA::ULong AsynchronousHandler::_refcount_value()
  {
    return m_refCount.load();
  }

  void AsynchronousHandler::setProxyHandler(Krovane::IAsyncHandler_ptr handler)
  {
    const bool ordered = !CORBA::is_nil(handler) && KroOrb::CallbackNumbers::CallerKeepsOrder();
    {
      // Callbacks queued or in flight until now belong to the handler they
      // were made for (or to none, when detached): the pipelined ones go
      // from the relay's runs.
      std::unique_lock<std::mutex> outbox(m_outboxLock);
      m_outboxChanged.wait_for(outbox, kPipelineWait, [this] {
        return m_inFlight.empty() && (m_outbox.empty() || !PipeliningLocked());
      });
    }
    ACE_Guard<ACE_Thread_Mutex> guard(m_lock);
    DrainOutbox(kOutboxBound + 1);
    {
      // Numbers go on rising: the new handler's first ones tell it that
      // everything before them is settled.
      std::lock_guard<std::mutex> outbox(m_outboxLock);
      m_ordered = ordered;
    }
    ++m_epoch;
    m_timeoutsInARow = 0;
    if (CORBA::is_nil(handler))
      m_proxy = Krovane::IAsyncHandler::_nil();
    else if (m_timeout > 0)
      m_proxy = BoundedProxy(handler);
    else
      m_proxy = Krovane::IAsyncHandler::_duplicate(handler);
    if (CORBA::is_nil(handler) || !m_unsent.call)
      return;
    // An outcome that found no handler (one attached between the work's
    // Results and its end would otherwise hear Finished alone). Before any
    // later callback: the lock is held.
    QueuedCallback unsent = std::move(m_unsent);
    m_unsent = QueuedCallback{};
    try
    {
      Deliver(*unsent.texts, unsent.call);  // a refusal has no caller to go back to
    }
    catch (...)
    {
      ACE_ERROR((LM_ERROR, ACE_TEXT("(%P|%t) AsynchronousHandler: an outcome kept for a new handler failed\n")));
    }
  }

  Krovane::IAsyncHandler_ptr AsynchronousHandler::getProxyHandler()
  {
    ACE_Guard<ACE_Thread_Mutex> guard(m_lock);
    return Krovane::IAsyncHandler::_duplicate(m_proxy.in());
  }

  void AsynchronousHandler::setTimeout(int seconds)
  {
    if (seconds <= 0)
    {
      ACE_DEBUG((LM_WARNING, ACE_TEXT("Timeout is less than 0\n")));
      return;
    }
    ACE_Guard<ACE_Thread_Mutex> guard(m_lock);
    const int previous = m_timeout;
    m_timeout = seconds;
    if (CORBA::is_nil(m_proxy.in()))
      return;
    try
    {
      // The old proxy goes with the assignment; a callback in flight cannot
      // be using it, as it holds the lock.
      m_proxy = BoundedProxy(m_proxy.in());
    }
    catch (...)
    {
      m_timeout = previous;
      throw;
    }
  }

  Krovane::IAsyncHandler_ptr AsynchronousHandler::BoundedProxy(Krovane::IAsyncHandler_ptr handler) const
  {
    // TimeBase::TimeT, 100 ns units, formed in 64 bits. The policy is made
    // directly, not through an Any: this runs once per operation.
    const KroOrb::TimeT relativeExpiry = static_cast<KroOrb::TimeT>(m_timeout) * KroOrb::kTimeTPerSecond;
    const KroOrb::RoundtripTimeoutPolicy policy(relativeExpiry);
    CORBA::ORB_var orb = KroSystem::Instance(1)->GetOrb();
    // A new proxy with this bound only, whatever bound handler carried.
    return KroOrb::SetPolicyOverride<Krovane::IAsyncHandler>(orb.in(), handler, policy);
  }

  template <typename Call>
  AsynchronousHandler::Outcome AsynchronousHandler::CallProxy(const CallTexts& texts, const Call& call,
                                                              Krovane::IAsyncHandler_ptr proxy,
                                                              std::exception_ptr& refused)
  {
    Outcome outcome = Outcome::kOther;
    try
    {
      try
      {
        // A pooled connection the client has closed (a client that ended,
        // its port now another's) fails on its first use and omniORB drops
        // it; the next try takes the next pooled one, or a fresh one. A
        // client that is gone refuses the fresh connection (TRANSIENT).
        for (int tries = 1;; ++tries)
        {
          try
          {
            call(proxy);
            break;
          }
          catch (const CORBA::COMM_FAILURE& ex)
          {
            if (ex.completed() == CORBA::COMPLETED_YES || tries == kStaleConnectionTries)
              throw;
          }
        }
        outcome = Outcome::kSent;
        Metrics().CountCallback(ServerMetrics::CallbackOutcome::kSent);
      }
      catch (const CORBA::TIMEOUT& ex)
      {
        Metrics().CountCallback(ServerMetrics::CallbackOutcome::kTimedOut);
        KroOrb::PrintException(ex, texts.timedOut);
        outcome = Outcome::kTimedOut;
      }
      catch (const CORBA::SystemException& ex)
      {
        Metrics().CountCallback(ServerMetrics::CallbackOutcome::kFailed);
        if (texts.systemFailure)
          KroOrb::PrintException(ex, texts.systemFailure);
        outcome = Outcome::kGone;
      }
      catch (const CORBA::Exception& ex)
      {
        // Reported by the caller once it is kept: whoever reads the report
        // and calls again meets the refusal.
        Metrics().CountCallback(ServerMetrics::CallbackOutcome::kFailed);
        refused = std::current_exception();
      }
    }
    catch (const CORBA::SystemException& ex)
    {
      if (texts.escaped)
        KroOrb::PrintException(ex, texts.escaped);
      throw;
    }
    catch (const CORBA::Exception&)
    {
      throw;
    }
    catch (...)
    {
      if (!texts.swallowOther)
        throw;
      ACE_DEBUG((LM_WARNING, ACE_TEXT("(%P|%t) ********AsyncHandler::Status Unknown exception.\n")));
    }
    return outcome;
  }

  std::string AsynchronousHandler::DescribeRefusal(const std::exception_ptr& refused)
  {
    if (!refused)
      return std::string();
    try
    {
      std::rethrow_exception(refused);
    }
    catch (const CORBA::Exception& ex)
    {
      return KroOrb::DescribeException(ex);
    }
    catch (...)
    {
    }
    return std::string();
  }

  void AsynchronousHandler::ReportRefusal(const CallTexts& texts, const std::string& described)
  {
    if (!described.empty() && texts.userFailure)
      KroOrb::PrintDescribedException(described, texts.userFailure);
  }

  void AsynchronousHandler::Account(Outcome outcome)
  {
    switch (outcome)
    {
      case Outcome::kSent:
        m_timeoutsInARow = 0;
        break;
      case Outcome::kTimedOut:
      {
        // Slow, not gone: the next callback tries again, unless this client
        // has let several in a row time out; it would hold a delivery thread
        // for the time-out on every callback of its operation.
        const int detachAfter = s_detachAfterTimeouts.load();
        if (detachAfter > 0 && ++m_timeoutsInARow >= detachAfter && !CORBA::is_nil(m_proxy.in()))
        {
          ACE_DEBUG((LM_NOTICE, ACE_TEXT("(%P|%t) AsynchronousHandler: client detached after %d callbacks in a row "
                                         "timed out\n"), m_timeoutsInARow));
          m_proxy = Krovane::IAsyncHandler::_nil();
          Metrics().CountClientDetached();
        }
        break;
      }
      case Outcome::kGone:
        // The client has gone or failed: it is not called again until a new handler is set.
        if (!CORBA::is_nil(m_proxy.in()))
        {
          m_proxy = Krovane::IAsyncHandler::_nil();
          Metrics().CountClientDetached();
        }
        break;
      case Outcome::kOther:
        break;
    }
  }

  template <typename Call>
  std::exception_ptr AsynchronousHandler::Deliver(const CallTexts& texts, const Call& call)
  {
    if (CORBA::is_nil(m_proxy.in()))
      return nullptr;
    std::exception_ptr refused;  // the client's user exception
    Account(CallProxy(texts, call, m_proxy.in(), refused));
    return refused;
  }

  template <typename Operation, typename Argument>
  void AsynchronousHandler::Forward(const CallTexts& texts, Operation operation, const Argument& argument)
  {
    auto owning = [&texts, operation, &argument] {
      return QueuedCallback{&texts, [operation, kept = Kept(argument)](Krovane::IAsyncHandler_ptr proxy) {
                              (proxy->*operation)(Used(kept));
                            }};
    };
    if (m_delivery.load(std::memory_order_relaxed) != Delivery::kWaiting)
    {
      Post(owning());
      return;
    }
    std::exception_ptr refused;
    {
      ACE_Guard<ACE_Thread_Mutex> guard(m_lock);
      // Callbacks queued before a switch to waiting go first.
      DrainOutbox(kOutboxBound + 1);
      if (texts.outcome && CORBA::is_nil(m_proxy.in()))
      {
        m_unsent = owning();
        return;
      }
      refused = Deliver(texts, [operation, &argument](Krovane::IAsyncHandler_ptr proxy) {
        (proxy->*operation)(argument);
      });
    }
    ReportRefusal(texts, DescribeRefusal(refused));
    if (refused)
      std::rethrow_exception(refused);
  }

  bool AsynchronousHandler::PipeliningLocked() const
  {
    return m_ordered && m_delivery.load(std::memory_order_relaxed) == Delivery::kPipelined;
  }

  void AsynchronousHandler::Post(QueuedCallback callback)
  {
    std::exception_ptr failure;  // an earlier callback's, raised to this caller
    bool schedule = false;
    bool full = false;
    {
      std::unique_lock<std::mutex> guard(m_outboxLock);
      const auto dropSuperseded = [this] {
        // A client behind its operation: the places, progress and texts it
        // has not been sent yet are told better by the later ones.
        if (s_dropSuperseded.load())
          m_outbox.remove_if([](const QueuedCallback& queued) { return queued.texts->superseded; });
      };
      full = m_outbox.size() >= kOutboxBound;
      if (full)
        dropSuperseded();
      if (PipeliningLocked())
      {
        // Back-pressure: the relay's runs make room as their calls end.
        const auto room = [this] { return m_outbox.size() < kOutboxBound || !PipeliningLocked(); };
        if (!room())
          m_outboxChanged.wait_for(guard, kPipelineWait, room);
        full = false;
      }
      else
        full = m_outbox.size() >= kOutboxBound;
      callback.number = m_nextNumber++;
      m_outbox.push_back(std::move(callback));
      // Pipelined, one run per callback in flight, up to the depth.
      const std::size_t runs = PipeliningLocked() ? s_pipelineDepth.load() : 1;
      if (!full && m_scheduled < runs && m_scheduled < m_outbox.size() + m_inFlight.size())
      {
        ++m_scheduled;
        schedule = true;
      }
      std::swap(failure, m_pendingFailure);
    }
    if (full)
    {
      // The client falls behind: this caller sends what is queued itself.
      ACE_Guard<ACE_Thread_Mutex> guard(m_lock);
      DrainOutbox(kOutboxBound + 1);
    }
    if (schedule)
      RelayDelivery::Instance().Schedule(this);
    if (failure)
      std::rethrow_exception(failure);
  }

  KroOrb::CallbackNumber AsynchronousHandler::TakeInFlight(const QueuedCallback& callback)
  {
    // Taken in the order queued: the numbers in flight rise.
    m_inFlight.push_back(callback.number);
    KroOrb::CallbackNumber number;
    number.number = callback.number;
    number.settled = m_inFlight.front();
    return number;
  }

  void AsynchronousHandler::EndFlight(CORBA::ULong number)
  {
    for (auto at = m_inFlight.begin(); at != m_inFlight.end(); ++at)
      if (*at == number)
      {
        m_inFlight.erase(at);
        break;
      }
    m_outboxChanged.notify_all();
  }

  void AsynchronousHandler::KeepAndReport(const CallTexts& texts, std::exception_ptr refused,
                                          std::exception_ptr failure)
  {
    const std::string refusal = DescribeRefusal(refused);
    if (refused)
      KeepFailure(std::move(refused));
    else if (failure)
      KeepFailure(std::move(failure));
    ReportRefusal(texts, refusal);
  }

  void AsynchronousHandler::KeepFailure(std::exception_ptr failure)
  {
    std::lock_guard<std::mutex> guard(m_outboxLock);
    // Moved, not copied: the caller's thread keeps no reference that it
    // would release after another thread has raised and dropped this one.
    if (!m_pendingFailure)
      m_pendingFailure = std::move(failure);
  }

  void AsynchronousHandler::SendInFlight(const QueuedCallback& callback, KroOrb::CallbackNumber number)
  {
    Krovane::IAsyncHandler_var proxy;
    unsigned epoch = 0;
    {
      ACE_Guard<ACE_Thread_Mutex> guard(m_lock);
      if (CORBA::is_nil(m_proxy.in()))
      {
        if (callback.texts->outcome)
          m_unsent = callback;
        return;
      }
      proxy = Krovane::IAsyncHandler::_duplicate(m_proxy.in());
      epoch = m_epoch;
    }
    std::exception_ptr refused;
    std::exception_ptr failure;
    Outcome outcome = Outcome::kOther;
    try
    {
      const KroOrb::CallbackNumbers::Sending numbered(number);
      outcome = CallProxy(*callback.texts, callback.call, proxy.in(), refused);
    }
    catch (...)
    {
      failure = std::current_exception();
    }
    {
      ACE_Guard<ACE_Thread_Mutex> guard(m_lock);
      if (epoch == m_epoch)  // not a handler set since
        Account(outcome);
    }
    KeepAndReport(*callback.texts, std::move(refused), std::move(failure));
  }

  bool AsynchronousHandler::SendPipelined(std::size_t limit)
  {
    QueuedCallback callback;
    KroOrb::CallbackNumber number;
    bool sending = false;
    for (std::size_t sent = 0;; ++sent)
    {
      {
        std::lock_guard<std::mutex> guard(m_outboxLock);
        if (sending)
          EndFlight(number.number);
        sending = false;
        // A last callback waits until the calls before it have ended; the
        // run whose call ends last sends it.
        if (!PipeliningLocked())
          return true;  // its next turn sends them one at a time
        if (m_outbox.empty() || (m_outbox.front().texts->last && !m_inFlight.empty()))
        {
          --m_scheduled;
          return false;
        }
        if (sent >= limit)
          return true;
        callback = std::move(m_outbox.front());
        m_outbox.pop_front();
        number = TakeInFlight(callback);
        sending = true;
      }
      SendInFlight(callback, number);
    }
  }

  void AsynchronousHandler::DrainOutbox(std::size_t limit)
  {
    for (std::size_t sent = 0; sent < limit; ++sent)
    {
      QueuedCallback callback;
      KroOrb::CallbackNumber number;
      {
        std::lock_guard<std::mutex> guard(m_outboxLock);
        if (m_outbox.empty())
          return;
        callback = std::move(m_outbox.front());
        m_outbox.pop_front();
        if (callback.texts->outcome && CORBA::is_nil(m_proxy.in()))
        {
          m_unsent = std::move(callback);
          continue;
        }
        // Numbered as the pipelined ones, which may be in flight beside it.
        number = TakeInFlight(callback);
      }
      std::exception_ptr refused;
      std::exception_ptr failure;
      try
      {
        const KroOrb::CallbackNumbers::Sending numbered(number);
        refused = Deliver(*callback.texts, callback.call);
      }
      catch (...)
      {
        failure = std::current_exception();
      }
      {
        std::lock_guard<std::mutex> guard(m_outboxLock);
        EndFlight(number.number);
      }
      KeepAndReport(*callback.texts, std::move(refused), std::move(failure));
    }
  }

  bool AsynchronousHandler::DeliverQueued(std::size_t limit)
  {
    bool pipelining = false;
    {
      std::lock_guard<std::mutex> guard(m_outboxLock);
      pipelining = PipeliningLocked();
    }
    if (pipelining)
      return SendPipelined(limit < kDrainBound ? limit : kDrainBound);
    {
      ACE_Guard<ACE_Thread_Mutex> guard(m_lock);
      DrainOutbox(limit < kDrainBound ? limit : kDrainBound);
    }
    std::lock_guard<std::mutex> guard(m_outboxLock);
    if (!m_outbox.empty())
      return true;
    --m_scheduled;
    return false;
  }

  void AsynchronousHandler::Queued(CORBA::Long position)
  {
    static const CallTexts texts = {"Queued method timed out\n", kNoText, kNoText, kNoText, false, true, false, false};
    Forward(texts, &Krovane::_objref_IAsyncHandler::Queued, position);
  }

  void AsynchronousHandler::Status(const char* text)
  {
    static const CallTexts texts = {"Status method timed out\n", "m_proxy->Status",
                                    "AsynchronousHandler::Status Exception",
                                    "AsynchronousHandler::Status SystemException", true, true, false, false};
    const std::string kept = BoundedText::Of(text);
    OperationRegistry::NoteStatusOfCurrent(kept.c_str());
    Forward(texts, &Krovane::_objref_IAsyncHandler::Status, kept.c_str());
  }

  void AsynchronousHandler::Progress(CORBA::Double progress)
  {
    static const CallTexts texts = {"Progress method timed out\n", "m_proxy->Progress",
                                    "AsynchronousHandler::Progress Exception",
                                    "AsynchronousHandler::Progress SystemException", false, true, false, false};
    OperationRegistry::NoteProgressOfCurrent(progress);
    Forward(texts, &Krovane::_objref_IAsyncHandler::Progress, progress);
  }

  void AsynchronousHandler::Results(const CORBA::Any& data)
  {
    static const CallTexts texts = {"Results method timed out\n", kNoText, kNoText, kNoText, false, false, true, false};
    Forward(texts, &Krovane::_objref_IAsyncHandler::Results, data);
  }

  void AsynchronousHandler::Finished(const CORBA::Any& data)
  {
    static const CallTexts texts = {"Finished method timed out\n", kNoText, kNoText, kNoText, false, false, false, true};
    Forward(texts, &Krovane::_objref_IAsyncHandler::Finished, data);
  }

  void AsynchronousHandler::Error(Krovane::IAsyncExceptionHolder_ptr holder)
  {
    static const CallTexts texts = {"Error method timed out\n", kNoText, kNoText, kNoText, false, false, true, true};
    OperationRegistry::NoteFailureOfCurrent();
    Forward(texts, &Krovane::_objref_IAsyncHandler::Error, holder);
  }

  void AsynchronousHandler::SyncQueued(CORBA::Long position)
  {
    static const CallTexts texts = {"SyncQueued method timed out\n", kNoText, kNoText, kNoText, false, true, false, false};
    Forward(texts, &Krovane::_objref_IAsyncHandler::SyncQueued, position);
  }

  void AsynchronousHandler::SyncStatus(const char* text)
  {
    static const CallTexts texts = {"SyncStatus method timed out\n", "m_proxy->SyncStatus",
                                    "AsynchronousHandler::SyncStatus Exception",
                                    "AsynchronousHandler::SyncStatus SystemException", true, true, false, false};
    Forward(texts, &Krovane::_objref_IAsyncHandler::SyncStatus, BoundedText::Of(text).c_str());
  }

  void AsynchronousHandler::SyncProgress(CORBA::Double progress)
  {
    static const CallTexts texts = {"SyncProgress method timed out\n", "m_proxy->SyncProgress",
                                    "AsynchronousHandler::SyncProgress Exception",
                                    "AsynchronousHandler::SyncProgress SystemException", false, true, false, false};
    Forward(texts, &Krovane::_objref_IAsyncHandler::SyncProgress, progress);
  }

  void AsynchronousHandler::SyncResults(const CORBA::Any& data)
  {
    static const CallTexts texts = {"SyncResults method timed out\n", kNoText, kNoText, kNoText, false, false, false, false};
    Forward(texts, &Krovane::_objref_IAsyncHandler::SyncResults, data);
  }

  void AsynchronousHandler::SyncFinished(const CORBA::Any& data)
  {
    static const CallTexts texts = {"SyncFinished method timed out\n", kNoText, kNoText, kNoText, false, false, false, true};
    Forward(texts, &Krovane::_objref_IAsyncHandler::SyncFinished, data);
  }

  void AsynchronousHandler::SyncError(Krovane::IAsyncExceptionHolder_ptr holder)
  {
    static const CallTexts texts = {"SyncError method timed out\n", kNoText, kNoText, kNoText, false, false, false, true};
    OperationRegistry::NoteFailureOfCurrent();
    Forward(texts, &Krovane::_objref_IAsyncHandler::SyncError, holder);
  }
}
