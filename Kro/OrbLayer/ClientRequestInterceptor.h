// ClientRequestInterceptor: called around every request this process sends
// to another process, in the calling thread: send_request before it leaves,
// then receive_reply, receive_exception (a system or user exception, from
// the server or raised here: time-out, unreachable server, lost connection)
// or receive_other (a location forward). A oneway request gets send_request
// only. Calls between objects of this process pass no client interceptor.
#ifndef KRO_ORBLAYER_CLIENTREQUESTINTERCEPTOR_H
#define KRO_ORBLAYER_CLIENTREQUESTINTERCEPTOR_H

#include "OrbLayer/ClientRequestInfo.h"
#include "OrbLayer/Interceptor.h"
#include "OrbLayer/LocalVar.h"

namespace PortableInterceptor
{
  class ClientRequestInterceptor : public virtual Interceptor
  {
  public:
    virtual void send_request(ClientRequestInfo_ptr info) = 0;
    virtual void send_poll(ClientRequestInfo_ptr info) = 0;
    virtual void receive_reply(ClientRequestInfo_ptr info) = 0;
    virtual void receive_exception(ClientRequestInfo_ptr info) = 0;
    virtual void receive_other(ClientRequestInfo_ptr info) = 0;

  protected:
    ~ClientRequestInterceptor() override;
  };

  typedef ClientRequestInterceptor* ClientRequestInterceptor_ptr;
  typedef KroOrb::LocalVar<ClientRequestInterceptor> ClientRequestInterceptor_var;
}

#endif
