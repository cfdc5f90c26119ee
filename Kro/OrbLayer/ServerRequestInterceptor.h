// ServerRequestInterceptor: called around every upcall of the process, for
// requests from other processes and for calls between objects of this one,
// in the thread that runs the upcall:
//   receive_request_service_contexts, receive_request, (the servant),
//   then send_reply or send_exception.
// send_other is never called: omniORB answers location forwards before the
// upcall. An exception an interceptor raises goes to the ORB.
#ifndef KRO_ORBLAYER_SERVERREQUESTINTERCEPTOR_H
#define KRO_ORBLAYER_SERVERREQUESTINTERCEPTOR_H

#include "OrbLayer/Interceptor.h"
#include "OrbLayer/LocalVar.h"
#include "OrbLayer/ServerRequestInfo.h"

namespace PortableInterceptor
{
  class ServerRequestInterceptor : public virtual Interceptor
  {
  public:
    virtual void receive_request_service_contexts(ServerRequestInfo_ptr info) = 0;
    virtual void receive_request(ServerRequestInfo_ptr info) = 0;
    virtual void send_reply(ServerRequestInfo_ptr info) = 0;
    virtual void send_exception(ServerRequestInfo_ptr info) = 0;
    virtual void send_other(ServerRequestInfo_ptr info) = 0;

  protected:
    ~ServerRequestInterceptor() override;
  };

  typedef ServerRequestInterceptor* ServerRequestInterceptor_ptr;
  typedef KroOrb::LocalVar<ServerRequestInterceptor> ServerRequestInterceptor_var;
}

#endif
