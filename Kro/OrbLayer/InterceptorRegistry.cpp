#include "OrbLayer/InterceptorRegistry.h"

#include <omniORB4/callDescriptor.h>
#include <omniORB4/minorCode.h>
#include <omniORB4/omniInterceptors.h>
#include <omniORB4/internal/giopStrand.h>
#include <omniORB4/internal/giopStream.h>
#include <omniORB4/internal/GIOP_C.h>

#include <ace/TSS_T.h>

#include <string>

namespace KroOrb
{
  namespace
  {
    // The request a thread has sent and not yet seen the end of. A thread
    // waits for its reply before it sends again, so one per thread is enough.
    struct PendingCall
    {
      bool active = false;               // sent, end not yet reported
      std::string operation;             // its operation's name
      IOP::ServiceContextList contexts;  // the contexts it was sent with
    };

    // Made with the loading thread's own record, so that the key exists before
    // other threads come: ACE makes it at first use behind an unsynchronised check.
    ACE_TSS<PendingCall> pendingCall(new PendingCall);

    // --- server side -------------------------------------------------------

    void AroundUpcall(omniCallDescriptor* call, omniServant* servant)
    {
      const auto& interceptors = InterceptorRegistry::Instance().ServerInterceptors();
      const char* operation = call->op();
      if (interceptors.empty() || !operation)
      {
        call->interceptedCall(servant);
        return;
      }

      PortableInterceptor::ServerRequestInfo info(operation, servant);
      for (const auto& interceptor : interceptors)
        interceptor->receive_request_service_contexts(&info);
      for (const auto& interceptor : interceptors)
        interceptor->receive_request(&info);
      try
      {
        call->interceptedCall(servant);
      }
      catch (const CORBA::Exception& ex)
      {
        info.sending_exception(&ex);
        for (const auto& interceptor : interceptors)
          interceptor->send_exception(&info);
        throw;
      }
      catch (...)
      {
        // The ORB replies to any other exception with UNKNOWN.
        const CORBA::UNKNOWN unknown(0, CORBA::COMPLETED_MAYBE);
        info.sending_exception(&unknown);
        for (const auto& interceptor : interceptors)
          interceptor->send_exception(&info);
        throw;
      }
      for (const auto& interceptor : interceptors)
        interceptor->send_reply(&info);
    }

    // --- client side -------------------------------------------------------

    enum CallEnd { Reply, Exception, Other };

    // Reports the end of the thread's pending call, once.
    void EndPendingCall(CallEnd end)
    {
      PendingCall* pending = pendingCall.ts_object() ? pendingCall.operator->() : nullptr;
      if (!pending || !pending->active)
        return;
      pending->active = false;
      PortableInterceptor::ClientRequestInfo info(pending->operation.c_str(), pending->contexts, false);
      for (const auto& interceptor : InterceptorRegistry::Instance().ClientInterceptors())
      {
        switch (end)
        {
          case Reply:     interceptor->receive_reply(&info); break;
          case Exception: interceptor->receive_exception(&info); break;
          case Other:     interceptor->receive_other(&info); break;
        }
      }
    }

    CORBA::Boolean BeforeSend(omni::omniInterceptors::clientSendRequest_T::info_T& info)
    {
      const char* operation = info.operation();
      PortableInterceptor::ClientRequestInfo request(operation, info.service_contexts, true);
      for (const auto& interceptor : InterceptorRegistry::Instance().ClientInterceptors())
        interceptor->send_request(&request);

      PendingCall* pending = pendingCall.operator->();
      pending->active = true;
      pending->operation = operation ? operation : "";
      pending->contexts = info.service_contexts;
      return true;
    }

    CORBA::Boolean AfterReply(omni::omniInterceptors::clientReceiveReply_T::info_T& info)
    {
      switch (info.giop_c.replyStatus())
      {
        case GIOP::NO_EXCEPTION:
          EndPendingCall(Reply);
          break;
        case GIOP::USER_EXCEPTION:
        case GIOP::SYSTEM_EXCEPTION:
          EndPendingCall(Exception);
          break;
        default:
          EndPendingCall(Other);
          break;
      }
      return true;
    }

    // Failures raised in this process end a call without a reply. Each
    // handler reports the end, then takes omniORB's default decision.
    CORBA::Boolean OnTransient(void*, CORBA::ULong, const CORBA::TRANSIENT& ex)
    {
      EndPendingCall(Exception);
      return ex.minor() == omni::TRANSIENT_FailedOnForwarded;
    }

    CORBA::Boolean OnTimeout(void*, CORBA::ULong, const CORBA::TIMEOUT&)
    {
      EndPendingCall(Exception);
      return false;
    }

    CORBA::Boolean OnCommFailure(void*, CORBA::ULong, const CORBA::COMM_FAILURE&)
    {
      EndPendingCall(Exception);
      return false;
    }

    CORBA::Boolean OnSystemException(void*, CORBA::ULong, const CORBA::SystemException&)
    {
      EndPendingCall(Exception);
      return false;
    }
  }

  InterceptorRegistry::InterceptorRegistry() : m_installed(false) {}

  InterceptorRegistry& InterceptorRegistry::Instance()
  {
    static InterceptorRegistry* registry = new InterceptorRegistry;  // lives to process end
    return *registry;
  }

  void InterceptorRegistry::AddServerInterceptor(PortableInterceptor::ServerRequestInterceptor_ptr interceptor)
  {
    if (m_installed)
      throw CORBA::BAD_INV_ORDER(0, CORBA::COMPLETED_NO);
    if (!interceptor)
      throw CORBA::BAD_PARAM(0, CORBA::COMPLETED_NO);
    m_serverInterceptors.push_back(
      PortableInterceptor::ServerRequestInterceptor_var::Duplicate(interceptor));
  }

  void InterceptorRegistry::AddClientInterceptor(PortableInterceptor::ClientRequestInterceptor_ptr interceptor)
  {
    if (m_installed)
      throw CORBA::BAD_INV_ORDER(0, CORBA::COMPLETED_NO);
    if (!interceptor)
      throw CORBA::BAD_PARAM(0, CORBA::COMPLETED_NO);
    m_clientInterceptors.push_back(
      PortableInterceptor::ClientRequestInterceptor_var::Duplicate(interceptor));
  }

  void InterceptorRegistry::Install(CORBA::ORB_ptr orb)
  {
    if (m_installed)
      throw CORBA::BAD_INV_ORDER(0, CORBA::COMPLETED_NO);
    m_installed = true;

    CORBA::Object_var current = orb->resolve_initial_references("POACurrent");
    m_poaCurrent = PortableServer::Current::_narrow(current.in());

    omni::omniInterceptors* hooks = omniORB::getInterceptors();
    if (!m_serverInterceptors.empty())
      hooks->invokeLocalCall.add(AroundUpcall);
    if (!m_clientInterceptors.empty())
    {
      hooks->clientSendRequest.add(BeforeSend);
      hooks->clientReceiveReply.add(AfterReply);
      omniORB::installTransientExceptionHandler(nullptr, OnTransient);
      omniORB::installTimeoutExceptionHandler(nullptr, OnTimeout);
      omniORB::installCommFailureExceptionHandler(nullptr, OnCommFailure);
      omniORB::installSystemExceptionHandler(nullptr, OnSystemException);
    }
  }
}
