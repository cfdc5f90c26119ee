#include "KroServer/KroClientInterceptor.h"

#include "KroServer/OperationHandles.h"
#include "KroServer/OpnType.h"
#include "KroServer/UserTokenOctets.h"

#include "Dazadared/threadLocalUserPacket.h"

#include <cstring>
#include <memory>
#include <string>

namespace Krovane
{
  namespace
  {
    const CORBA::ULong HandleOctets = 4;
  }

  KroClientInterceptor::KroClientInterceptor() : m_name("KroClientInterceptor") {}

  KroClientInterceptor::~KroClientInterceptor() {}

  char* KroClientInterceptor::name() { return CORBA::string_dup(m_name); }

  void KroClientInterceptor::destroy() {}

  void KroClientInterceptor::send_request(PortableInterceptor::ClientRequestInfo_ptr info)
  {
    // The handle, then every octet of the token (the context's length bounds it).
    const std::string token = Halvern_Utilities::threadLocalUserPacket->GetToken();
    const CORBA::ULong handle = OperationHandles::HandleOf(threadLocalOperation->m_operation);

    const CORBA::ULong length = static_cast<CORBA::ULong>(token.size()) + HandleOctets;
    CORBA::Octet* data = _CORBA_Unbounded_Sequence_Octet::allocbuf(length);
    std::memcpy(data, &handle, HandleOctets);
    UserTokenOctets::CopyTo(token, data + HandleOctets);

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
    const std::string token =
      length > HandleOctets ? std::string(reinterpret_cast<const char*>(data) + HandleOctets, length - HandleOctets)
                            : std::string();

    Halvern_Utilities::UserPacket& packet = *Halvern_Utilities::threadLocalUserPacket;
    if (packet.GetToken() != token)
      packet.SetToken(token);
    threadLocalOperation->m_operation = OperationHandles::OperationOf(handle);
  }
}
