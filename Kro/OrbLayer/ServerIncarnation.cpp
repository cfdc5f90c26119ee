#include "OrbLayer/ServerIncarnation.h"

#include <omniORB4/omniInterceptors.h>
#include <omniORB4/internal/giopStrand.h>
#include <omniORB4/internal/giopStream.h>
#include <omniORB4/internal/GIOP_S.h>

#include <mutex>
#include <random>

namespace KroOrb
{
  namespace
  {
    const CORBA::ULong kOctets = 8;

    thread_local std::uint64_t t_lastReply = 0;  // of the latest reply this thread received

    void Append(IOP::ServiceContextList& contexts)
    {
      std::uint64_t value = ServerIncarnation::OfThisProcess();
      const CORBA::ULong at = contexts.length();
      contexts.length(at + 1);
      contexts[at].context_id = ServerIncarnation::kContextId;
      contexts[at].context_data.length(kOctets);
      for (int i = kOctets - 1; i >= 0; --i, value >>= 8)
        contexts[at].context_data[static_cast<CORBA::ULong>(i)] = static_cast<CORBA::Octet>(value & 0xff);
    }

    CORBA::Boolean AddToReply(omni::omniInterceptors::serverSendReply_T::info_T& info)
    {
      Append(info.giop_s.service_contexts());
      return true;
    }

    CORBA::Boolean AddToException(omni::omniInterceptors::serverSendException_T::info_T& info)
    {
      Append(info.giop_s.service_contexts());
      return true;
    }

    CORBA::Boolean NoteReply(omni::omniInterceptors::clientReceiveReply_T::info_T& info)
    {
      t_lastReply = 0;
      const IOP::ServiceContextList& contexts = info.service_contexts;
      for (CORBA::ULong i = 0; i < contexts.length(); ++i)
        // A context of another length is not ours.
        if (contexts[i].context_id == ServerIncarnation::kContextId && contexts[i].context_data.length() == kOctets)
        {
          std::uint64_t value = 0;
          for (CORBA::ULong octet = 0; octet < kOctets; ++octet)
            value = (value << 8) | contexts[i].context_data[octet];
          t_lastReply = value;
        }
      return true;
    }
  }

  void ServerIncarnation::Announce()
  {
    static std::once_flag installed;
    std::call_once(installed, [] {
      omni::omniInterceptors* hooks = omniORB::getInterceptors();
      hooks->serverSendReply.add(AddToReply);
      hooks->serverSendException.add(AddToException);
    });
  }

  void ServerIncarnation::Listen()
  {
    static std::once_flag installed;
    std::call_once(installed, [] { omniORB::getInterceptors()->clientReceiveReply.add(NoteReply); });
  }

  std::uint64_t ServerIncarnation::OfThisProcess()
  {
    static const std::uint64_t value = [] {
      std::random_device device;
      const std::uint64_t drawn = (static_cast<std::uint64_t>(device()) << 32) ^ device();
      return drawn != 0 ? drawn : 1;
    }();
    return value;
  }

  void ServerIncarnation::ClearLastReply() { t_lastReply = 0; }

  std::uint64_t ServerIncarnation::OfLastReply() { return t_lastReply; }
}
