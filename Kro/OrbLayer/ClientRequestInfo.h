// ClientRequestInfo: what a client interceptor may learn of, and add to, an
// outgoing request. Lives for one interceptor pass on the calling thread.
//
// The request service contexts are those of this attempt: in send_request
// the list being sent (to which contexts can be added), afterwards the list
// that was sent.
#ifndef KRO_ORBLAYER_CLIENTREQUESTINFO_H
#define KRO_ORBLAYER_CLIENTREQUESTINFO_H

#include <omniORB4/CORBA.h>

namespace PortableInterceptor
{
  class ClientRequestInfo
  {
  public:
    // contexts: the request's contexts; writable only while sending.
    ClientRequestInfo(const char* operation, IOP::ServiceContextList& contexts, bool sending);

    // The IDL operation's name; the caller frees it.
    char* operation() const;

    // A copy of the request's context with that id, owned by the caller;
    // CORBA::BAD_PARAM when the request carries none.
    IOP::ServiceContext* get_request_service_context(IOP::ServiceID id) const;

    // Adds context to the request (send_request only, else
    // CORBA::BAD_INV_ORDER). A context with the same id is replaced when
    // replace is true; otherwise it raises CORBA::BAD_INV_ORDER.
    void add_request_service_context(const IOP::ServiceContext& context, CORBA::Boolean replace);

  private:
    const char* m_operation;             // the operation's name
    IOP::ServiceContextList& m_contexts; // the request's contexts
    const bool m_sending;                // whether contexts may still be added
  };

  typedef ClientRequestInfo* ClientRequestInfo_ptr;
}

#endif
