#include "OrbLayer/ClientRequestInfo.h"

namespace PortableInterceptor
{
  ClientRequestInfo::ClientRequestInfo(const char* operation, IOP::ServiceContextList& contexts,
                                       bool sending)
    : m_operation(operation ? operation : ""), m_contexts(contexts), m_sending(sending)
  {
  }

  char* ClientRequestInfo::operation() const { return CORBA::string_dup(m_operation); }

  IOP::ServiceContext* ClientRequestInfo::get_request_service_context(IOP::ServiceID id) const
  {
    for (CORBA::ULong i = 0; i < m_contexts.length(); ++i)
      if (m_contexts[i].context_id == id)
        return new IOP::ServiceContext(m_contexts[i]);
    throw CORBA::BAD_PARAM(0, CORBA::COMPLETED_NO);
  }

  void ClientRequestInfo::add_request_service_context(const IOP::ServiceContext& context,
                                                      CORBA::Boolean replace)
  {
    if (!m_sending)
      throw CORBA::BAD_INV_ORDER(0, CORBA::COMPLETED_NO);
    for (CORBA::ULong i = 0; i < m_contexts.length(); ++i)
      if (m_contexts[i].context_id == context.context_id)
      {
        if (!replace)
          throw CORBA::BAD_INV_ORDER(0, CORBA::COMPLETED_NO);
        m_contexts[i] = context;
        return;
      }
    const CORBA::ULong length = m_contexts.length();
    m_contexts.length(length + 1);
    m_contexts[length] = context;
  }
}
