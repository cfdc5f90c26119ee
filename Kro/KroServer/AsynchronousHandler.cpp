#include "KroServer/AsynchronousHandler.h"

#include "KroDazadared/KroSystem.h"
#include "OrbLayer/PrintException.h"
#include "OrbLayer/RoundtripTimeoutPolicy.h"

#include <ace/Guard_T.h>
#include <ace/Log_Msg.h>

#include <exception>

namespace Krovane
{
  struct AsynchronousHandler::CallTexts
  {
    const char* timedOut;       // printed with a CORBA::TIMEOUT
    const char* systemFailure;  // printed with another system exception before detaching; null: silent
    const char* userFailure;    // printed with a user exception before it is re-raised; null: silent
    const char* escaped;        // printed with a system exception that escapes the handling; null: silent
    bool swallowOther;          // a non-CORBA exception is logged and ends there, instead of propagating
  };

  namespace
  {
    // A report the callback does not make.
    const char* const kNoText = nullptr;
  }

  AsynchronousHandler::AsynchronousHandler()
    : m_proxy(Krovane::IAsyncHandler::_nil()), m_timeout(0), m_refCount(1)
  {
  }

  AsynchronousHandler::AsynchronousHandler(Krovane::IAsyncHandler_ptr handler)
    : m_proxy(Krovane::IAsyncHandler::_duplicate(handler)), m_timeout(0), m_refCount(1)
  {
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
    ACE_Guard<ACE_Thread_Mutex> guard(m_lock);
    if (CORBA::is_nil(handler))
      m_proxy = Krovane::IAsyncHandler::_nil();
    else if (m_timeout > 0)
      m_proxy = BoundedProxy(handler);
    else
      m_proxy = Krovane::IAsyncHandler::_duplicate(handler);
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
      ACE_DEBUG((LM_DEBUG, ACE_TEXT("Timeout is less than 0\n")));
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
    // TimeBase::TimeT, 100 ns units, formed in 64 bits.
    const KroOrb::TimeT relativeExpiry = static_cast<KroOrb::TimeT>(m_timeout) * KroOrb::kTimeTPerSecond;
    CORBA::Any value;
    value <<= relativeExpiry;
    CORBA::ORB_var orb = KroSystem::Instance(1)->GetOrb();
    const KroOrb::RoundtripTimeoutPolicy policy =
      KroOrb::CreatePolicy(orb.in(), KroOrb::RELATIVE_RT_TIMEOUT_POLICY_TYPE, value);
    // A new proxy with this bound only, whatever bound handler carried.
    return KroOrb::SetPolicyOverride<Krovane::IAsyncHandler>(orb.in(), handler, policy);
  }

  template <typename Call>
  void AsynchronousHandler::Forward(const CallTexts& texts, Call call)
  {
    std::exception_ptr refused;  // the client's user exception, raised once the lock is free
    {
      ACE_Guard<ACE_Thread_Mutex> guard(m_lock);
      if (CORBA::is_nil(m_proxy.in()))
        return;
      try
      {
        try
        {
          call(m_proxy.in());
        }
        catch (const CORBA::TIMEOUT& ex)
        {
          // Slow, not gone: the next callback tries again.
          KroOrb::PrintException(ex, texts.timedOut);
        }
        catch (const CORBA::SystemException& ex)
        {
          // The client has gone or failed: it is not called again until a new handler is set.
          if (texts.systemFailure)
            KroOrb::PrintException(ex, texts.systemFailure);
          m_proxy = Krovane::IAsyncHandler::_nil();
        }
        catch (const CORBA::Exception& ex)
        {
          if (texts.userFailure)
            KroOrb::PrintException(ex, texts.userFailure);
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
        ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) ********AsyncHandler::Status Unknown exception.\n")));
      }
    }
    if (refused)
      std::rethrow_exception(refused);
  }

  void AsynchronousHandler::Queued(CORBA::Long position)
  {
    static const CallTexts texts = {"Queued method timed out\n", kNoText, kNoText, kNoText, false};
    Forward(texts, [position](Krovane::IAsyncHandler_ptr proxy) { proxy->Queued(position); });
  }

  void AsynchronousHandler::Status(const char* text)
  {
    static const CallTexts texts = {"Status method timed out\n", "m_proxy->Status",
                                    "AsynchronousHandler::Status Exception",
                                    "AsynchronousHandler::Status SystemException", true};
    Forward(texts, [text](Krovane::IAsyncHandler_ptr proxy) { proxy->Status(text); });
  }

  void AsynchronousHandler::Progress(CORBA::Double progress)
  {
    static const CallTexts texts = {"Progress method timed out\n", "m_proxy->Progress",
                                    "AsynchronousHandler::Progress Exception",
                                    "AsynchronousHandler::Progress SystemException", false};
    Forward(texts, [progress](Krovane::IAsyncHandler_ptr proxy) { proxy->Progress(progress); });
  }

  void AsynchronousHandler::Results(const CORBA::Any& data)
  {
    static const CallTexts texts = {"Results method timed out\n", kNoText, kNoText, kNoText, false};
    Forward(texts, [&data](Krovane::IAsyncHandler_ptr proxy) { proxy->Results(data); });
  }

  void AsynchronousHandler::Finished(const CORBA::Any& data)
  {
    static const CallTexts texts = {"Finished method timed out\n", kNoText, kNoText, kNoText, false};
    Forward(texts, [&data](Krovane::IAsyncHandler_ptr proxy) { proxy->Finished(data); });
  }

  void AsynchronousHandler::Error(Krovane::IAsyncExceptionHolder_ptr holder)
  {
    static const CallTexts texts = {"Error method timed out\n", kNoText, kNoText, kNoText, false};
    Forward(texts, [holder](Krovane::IAsyncHandler_ptr proxy) { proxy->Error(holder); });
  }

  void AsynchronousHandler::SyncQueued(CORBA::Long position)
  {
    static const CallTexts texts = {"SyncQueued method timed out\n", kNoText, kNoText, kNoText, false};
    Forward(texts, [position](Krovane::IAsyncHandler_ptr proxy) { proxy->SyncQueued(position); });
  }

  void AsynchronousHandler::SyncStatus(const char* text)
  {
    static const CallTexts texts = {"SyncStatus method timed out\n", "m_proxy->SyncStatus",
                                    "AsynchronousHandler::SyncStatus Exception",
                                    "AsynchronousHandler::SyncStatus SystemException", true};
    Forward(texts, [text](Krovane::IAsyncHandler_ptr proxy) { proxy->SyncStatus(text); });
  }

  void AsynchronousHandler::SyncProgress(CORBA::Double progress)
  {
    static const CallTexts texts = {"SyncProgress method timed out\n", "m_proxy->SyncProgress",
                                    "AsynchronousHandler::SyncProgress Exception",
                                    "AsynchronousHandler::SyncProgress SystemException", false};
    Forward(texts, [progress](Krovane::IAsyncHandler_ptr proxy) { proxy->SyncProgress(progress); });
  }

  void AsynchronousHandler::SyncResults(const CORBA::Any& data)
  {
    static const CallTexts texts = {"SyncResults method timed out\n", kNoText, kNoText, kNoText, false};
    Forward(texts, [&data](Krovane::IAsyncHandler_ptr proxy) { proxy->SyncResults(data); });
  }

  void AsynchronousHandler::SyncFinished(const CORBA::Any& data)
  {
    static const CallTexts texts = {"SyncFinished method timed out\n", kNoText, kNoText, kNoText, false};
    Forward(texts, [&data](Krovane::IAsyncHandler_ptr proxy) { proxy->SyncFinished(data); });
  }

  void AsynchronousHandler::SyncError(Krovane::IAsyncExceptionHolder_ptr holder)
  {
    static const CallTexts texts = {"SyncError method timed out\n", kNoText, kNoText, kNoText, false};
    Forward(texts, [holder](Krovane::IAsyncHandler_ptr proxy) { proxy->SyncError(holder); });
  }
}
