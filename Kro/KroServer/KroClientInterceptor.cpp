#include "KroServer/KroClientInterceptor.h"

#include "KroServer/OperationHandles.h"
#include "KroServer/OpnType.h"

#include "Dazadared/threadLocalUserPacket.h"

#include <cstring>
#include <memory>
#include <string>

namespace Krovane
{
  namespace
  {
    const CORBA::ULong HandleOctets = 4;

    // The token as sent: its characters up to the first NUL.
    std::string SentToken(const std::string& token)
    {
      return token.substr(0, token.find('\0'));
    }
  }

  KroClientInterceptor::KroClientInterceptor() : m_name("KroClientInterceptor") {}

  KroClientInterceptor::~KroClientInterceptor() {}

  char* KroClientInterceptor::name() { return CORBA::string_dup(m_name); }

  void KroClientInterceptor::destroy() {}

  void KroClientInterceptor::send_request(PortableInterceptor::ClientRequestInfo_ptr info)
  {
    const std::string token = SentToken(Halvern_Utilities::threadLocalUserPacket->GetToken());
    const CORBA::ULong handle = OperationHandles::HandleOf(threadLocalOperation->m_operation);

    const CORBA::ULong length = static_cast<CORBA::ULong>(token.size()) + HandleOctets + 1;
    CORBA::Octet* data = _CORBA_Unbounded_Sequence_Octet::allocbuf(length);
    std::memcpy(data, &handle, HandleOctets);
    std::memcpy(data + HandleOctets, token.data(), token.size());
    data[length - 1] = 0;

    bool replace = false;
    try
    {
      std::unique_ptr<IOP::ServiceContext> existing(info->get_request_service_context(UserTokenContextId));
      replace = true;
    }
    catch (const CORBA::BAD_PARAM&)
    {
    }

    IOP::ServiceContext context;
    context.context_id = UserTokenContextId;
    context.context_data.replace(length, length, data, true);
    info->add_request_service_context(context, replace);
  }

  void KroClientInterceptor::send_poll(PortableInterceptor::ClientRequestInfo_ptr) {}

  void KroClientInterceptor::receive_reply(PortableInterceptor::ClientRequestInfo_ptr info)
  {
    RestoreThread(info);
  }

  void KroClientInterceptor::receive_exception(PortableInterceptor::ClientRequestInfo_ptr info)
  {
    RestoreThread(info);
  }

  void KroClientInterceptor::receive_other(PortableInterceptor::ClientRequestInfo_ptr) {}

  void KroClientInterceptor::RestoreThread(PortableInterceptor::ClientRequestInfo_ptr info)
  {
    const std::unique_ptr<IOP::ServiceContext> context(info->get_request_service_context(UserTokenContextId));
    const CORBA::ULong length = context->context_data.length();
    const CORBA::Octet* data = context->context_data.get_buffer();

    CORBA::ULong handle = 0;
    if (length >= HandleOctets)
      std::memcpy(&handle, data, HandleOctets);
    std::string token;
    for (CORBA::ULong i = HandleOctets; i < length && data[i] != 0; ++i)
      token.push_back(static_cast<char>(data[i]));

    // The context holds the token only up to its first NUL: a thread whose
    // token still reads the same keeps its own, every byte of it.
    Halvern_Utilities::UserPacket& packet = *Halvern_Utilities::threadLocalUserPacket;
    if (SentToken(packet.GetToken()) != token)
      packet.SetToken(token);
    threadLocalOperation->m_operation = OperationHandles::OperationOf(handle);
  }
}
