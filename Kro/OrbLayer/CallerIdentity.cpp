#include "OrbLayer/CallerIdentity.h"

#include <omniORB4/CORBA.h>
#include <omniORB4/omniInterceptors.h>

#include <mutex>

namespace KroOrb
{
  namespace
  {
    // The caller of the remote request this thread serves; reset when it ends.
    thread_local CallerIdentity t_caller;

    std::string Text(const char* text)
    {
      return text ? std::string(text) : std::string();
    }

    CORBA::Boolean NoteCaller(omni::omniInterceptors::serverReceiveRequest_T::info_T& info)
    {
      t_caller.address = Text(info.peeraddress());
      t_caller.certificateName = Text(info.peeridentity());
      return true;
    }

    CORBA::Boolean ForgetAfterReply(omni::omniInterceptors::serverSendReply_T::info_T&)
    {
      t_caller = CallerIdentity();
      return true;
    }

    CORBA::Boolean ForgetAfterException(omni::omniInterceptors::serverSendException_T::info_T&)
    {
      t_caller = CallerIdentity();
      return true;
    }
  }

  void CallerIdentity::Install()
  {
    static std::once_flag installed;
    std::call_once(installed, []
    {
      omni::omniInterceptors* hooks = omniORB::getInterceptors();
      hooks->serverReceiveRequest.add(NoteCaller);
      hooks->serverSendReply.add(ForgetAfterReply);
      hooks->serverSendException.add(ForgetAfterException);
    });
  }

  CallerIdentity CallerIdentity::OfThisRequest()
  {
    return t_caller;
  }
}
