// KroClientInterceptor: carries the calling thread's user token and current
// operation in every request the process sends, and gives both back to the
// thread when the reply or exception arrives.
//
// The request service context 0xDEADBEEF holds, as raw octets: a 32-bit
// handle of the thread's current operation (native byte order; 0 for none,
// meaningful only in this process), the token's characters up to its first
// NUL, and one 0 octet.
//
// Threads: called concurrently from every thread that sends requests; all
// its state is per request and per thread.
#ifndef KROSERVER_KROCLIENTINTERCEPTOR_H
#define KROSERVER_KROCLIENTINTERCEPTOR_H

#include "OrbLayer/ClientRequestInterceptor.h"

namespace Krovane
{
  class KroClientInterceptor : public virtual PortableInterceptor::ClientRequestInterceptor,
                               public virtual CORBA::LocalObject
  {
  public:
    // The id of the user-token service context.
    static const IOP::ServiceID UserTokenContextId = 0xDEADBEEF;

    KroClientInterceptor();

    char* name() override;
    void destroy() override;

    void send_request(PortableInterceptor::ClientRequestInfo_ptr info) override;
    void send_poll(PortableInterceptor::ClientRequestInfo_ptr info) override;
    void receive_reply(PortableInterceptor::ClientRequestInfo_ptr info) override;
    void receive_exception(PortableInterceptor::ClientRequestInfo_ptr info) override;
    void receive_other(PortableInterceptor::ClientRequestInfo_ptr info) override;

  protected:
    ~KroClientInterceptor() override;

  private:
    // Puts the context's token and operation back into the calling thread.
    void RestoreThread(PortableInterceptor::ClientRequestInfo_ptr info);

    const char* const m_name;  // "KroClientInterceptor"
  };
}

#endif
