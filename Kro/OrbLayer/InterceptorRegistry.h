// InterceptorRegistry: the request interceptors of the process, and the
// omniORB hooks that call them.
//
// Interceptors are added while the ORB is initialised (ORBInitInfo, from the
// ORB initializers) and installed once ORB_init has returned; from then on
// the lists do not change and every ORB thread reads them without a lock.
//
// Server side: omniORB's invokeLocalCall hook runs around every upcall,
// remote or between objects of this process, with the POA current set.
// Client side: clientSendRequest / clientReceiveReply for replies from the
// server; failures raised in this process (time-out, unreachable server,
// lost connection) reach receive_exception through omniORB's exception
// handlers, which the registry installs for the whole process and which
// keep omniORB's default retry decisions.
#ifndef KRO_ORBLAYER_INTERCEPTORREGISTRY_H
#define KRO_ORBLAYER_INTERCEPTORREGISTRY_H

#include "OrbLayer/ClientRequestInterceptor.h"
#include "OrbLayer/ServerRequestInterceptor.h"

#include <omniORB4/CORBA.h>

#include <vector>

namespace KroOrb
{
  class InterceptorRegistry
  {
  public:
    // The process's registry; created on first use, never destroyed.
    static InterceptorRegistry& Instance();

    // Called by ORBInitInfo during ORB initialisation; the registry keeps a
    // reference. CORBA::BAD_INV_ORDER once the hooks are installed.
    void AddServerInterceptor(PortableInterceptor::ServerRequestInterceptor_ptr interceptor);
    void AddClientInterceptor(PortableInterceptor::ClientRequestInterceptor_ptr interceptor);

    // Installs the omniORB hooks for the interceptors added so far; called
    // once, right after ORB_init, with the new ORB.
    void Install(CORBA::ORB_ptr orb);

    // The POA current of the process (nil before Install); not owned.
    PortableServer::Current_ptr PoaCurrent() const { return m_poaCurrent.in(); }

    const std::vector<PortableInterceptor::ServerRequestInterceptor_var>& ServerInterceptors() const
    { return m_serverInterceptors; }
    const std::vector<PortableInterceptor::ClientRequestInterceptor_var>& ClientInterceptors() const
    { return m_clientInterceptors; }

  private:
    InterceptorRegistry();

    bool m_installed;                                                              // hooks in place
    PortableServer::Current_var m_poaCurrent;                                      // resolved at Install
    std::vector<PortableInterceptor::ServerRequestInterceptor_var> m_serverInterceptors;  // in order added
    std::vector<PortableInterceptor::ClientRequestInterceptor_var> m_clientInterceptors;  // in order added
  };
}

#endif
