#include "OrbLayer/CallbackNumbers.h"

#include <omniORB4/omniInterceptors.h>
#include <omniORB4/internal/giopStrand.h>
#include <omniORB4/internal/giopStream.h>
#include <omniORB4/internal/GIOP_S.h>

#include <mutex>

namespace KroOrb
{
  namespace
  {
    const CORBA::ULong kNumberOctets = 8;

    thread_local CallbackNumber t_sending;      // what this thread's requests carry
    thread_local bool t_announcing = false;     // this thread's requests say it restores order
    thread_local CallbackNumber t_received;     // of the request this thread serves
    thread_local bool t_callerKeepsOrder = false;

    void PutBigEndian(CORBA::Octet* out, CORBA::ULong value)
    {
      for (int i = 3; i >= 0; --i, value >>= 8)
        out[i] = static_cast<CORBA::Octet>(value & 0xff);
    }

    CORBA::ULong GetBigEndian(const CORBA::Octet* in)
    {
      CORBA::ULong value = 0;
      for (int i = 0; i < 4; ++i)
        value = (value << 8) | in[i];
      return value;
    }

    void Append(IOP::ServiceContextList& contexts, IOP::ServiceID id, const CORBA::Octet* data, CORBA::ULong length)
    {
      const CORBA::ULong at = contexts.length();
      contexts.length(at + 1);
      contexts[at].context_id = id;
      contexts[at].context_data.length(length);
      for (CORBA::ULong i = 0; i < length; ++i)
        contexts[at].context_data[i] = data[i];
    }

    CORBA::Boolean AddContexts(omni::omniInterceptors::clientSendRequest_T::info_T& info)
    {
      if (t_sending.number != 0)
      {
        CORBA::Octet data[kNumberOctets];
        PutBigEndian(data, t_sending.number);
        PutBigEndian(data + 4, t_sending.settled);
        Append(info.service_contexts, CallbackNumbers::kNumberContextId, data, kNumberOctets);
      }
      if (t_announcing)
        Append(info.service_contexts, CallbackNumbers::kOrderedContextId, nullptr, 0);
      return true;
    }

    CORBA::Boolean NoteContexts(omni::omniInterceptors::serverReceiveRequest_T::info_T& info)
    {
      t_received = CallbackNumber();
      t_callerKeepsOrder = false;
      const IOP::ServiceContextList& contexts = info.giop_s.service_contexts();
      for (CORBA::ULong i = 0; i < contexts.length(); ++i)
      {
        const IOP::ServiceContext& context = contexts[i];
        if (context.context_id == CallbackNumbers::kOrderedContextId)
          t_callerKeepsOrder = true;
        // A context of another length is not ours: the callback stays unnumbered.
        else if (context.context_id == CallbackNumbers::kNumberContextId &&
                 context.context_data.length() == kNumberOctets)
        {
          t_received.number = GetBigEndian(context.context_data.get_buffer());
          t_received.settled = GetBigEndian(context.context_data.get_buffer() + 4);
        }
      }
      return true;
    }

    void Forget()
    {
      t_received = CallbackNumber();
      t_callerKeepsOrder = false;
    }

    CORBA::Boolean ForgetAfterReply(omni::omniInterceptors::serverSendReply_T::info_T&)
    {
      Forget();
      return true;
    }

    CORBA::Boolean ForgetAfterException(omni::omniInterceptors::serverSendException_T::info_T&)
    {
      Forget();
      return true;
    }
  }

  void CallbackNumbers::Install()
  {
    static std::once_flag installed;
    std::call_once(installed, []
    {
      omni::omniInterceptors* hooks = omniORB::getInterceptors();
      hooks->clientSendRequest.add(AddContexts);
      hooks->serverReceiveRequest.add(NoteContexts);
      hooks->serverSendReply.add(ForgetAfterReply);
      hooks->serverSendException.add(ForgetAfterException);
    });
  }

  CallbackNumber CallbackNumbers::OfThisRequest() { return t_received; }

  bool CallbackNumbers::CallerKeepsOrder() { return t_callerKeepsOrder; }

  CallbackNumbers::Sending::Sending(CallbackNumber number) { t_sending = number; }

  CallbackNumbers::Sending::~Sending() { t_sending = CallbackNumber(); }

  CallbackNumbers::Announcing::Announcing() : m_outer(t_announcing) { t_announcing = true; }

  CallbackNumbers::Announcing::~Announcing() { t_announcing = m_outer; }
}
