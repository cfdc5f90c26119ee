// KroServerInterceptor: ties every request the process serves to the
// library's bookkeeping.
//
// For a request on a server object (ISyncServer) it creates a
// SynchronousOperation record, registers it with the object (except
// "CancelAllOperations"), makes it the thread's current operation and runs
// the request as the object's user (threadLocalUserPacket). When the reply
// or exception is sent it unregisters and deletes the record, deactivates
// the object after a successful "Remove", and deactivates an exception
// holder after its raise(). Every request, "ping" included, marks the
// process as used for the idle-shutdown task; "ping" does nothing else.
//
// Threads: called concurrently from every ORB thread; all its state is per
// request and per thread. A request made from inside another upcall of the
// same thread (a call between objects of this process) gets the thread's
// current operation and user back when it ends.
#ifndef KROSERVER_KROSERVERINTERCEPTOR_H
#define KROSERVER_KROSERVERINTERCEPTOR_H

#include "OrbLayer/ServerRequestInterceptor.h"

namespace Krovane
{
  class KroServerInterceptor : public virtual PortableInterceptor::ServerRequestInterceptor,
                               public virtual CORBA::LocalObject
  {
  public:
    KroServerInterceptor();

    char* name() override;
    void destroy() override;

    void receive_request_service_contexts(PortableInterceptor::ServerRequestInfo_ptr info) override;
    void receive_request(PortableInterceptor::ServerRequestInfo_ptr info) override;
    void send_reply(PortableInterceptor::ServerRequestInfo_ptr info) override;
    void send_exception(PortableInterceptor::ServerRequestInfo_ptr info) override;
    void send_other(PortableInterceptor::ServerRequestInfo_ptr info) override;

  protected:
    ~KroServerInterceptor() override;

  private:
    const char* const m_name;  // "Kro_Server_Interceptor"
  };
}

#endif
