// TierServer: what a tier server keeps beside its ServerProcess: the POAs
// of its objects and the naming service.
//
// POAs: server objects (and relays, forwarders, exception holders) live in
// a transient POA; the factory lives in a persistent POA under a fixed id,
// so its reference stays valid across restarts of a server that listens on
// a fixed endpoint (-ORBendPoint giop:tcp:HOST:PORT).
//
// Ownership and threads: main creates one inside ServerProcess::Run, once
// the ORB is initialised, calls everything on its own thread, and lets it
// go before Run destroys the ORB (and with it every servant).
#ifndef KRO_EXAMPLES_TIERS_TIERSERVER_H
#define KRO_EXAMPLES_TIERS_TIERSERVER_H

#include "TierDirectory.h"

#include "KroKit/ServerProcess.h"

#include <omniORB4/CORBA.h>

#include <memory>
#include <string>

namespace KroTiers
{
  class TierServer
  {
  public:
    // Creates the POAs in process's root POA. namingService: where the
    // ORB's "NameService" is, for messages (NamingServiceLocation).
    TierServer(KroKit::ServerProcess& process, const std::string& namingService);
    TierServer(const TierServer&) = delete;
    TierServer& operator=(const TierServer&) = delete;

    // The POA of the server objects (not a new reference).
    PortableServer::POA_ptr ServerObjectPOA() const;
    // The naming service, resolved on first use; std::runtime_error
    // "cannot reach the naming service at ..." when it does not answer.
    TierDirectory& Directory();
    // Activates factory under the fixed id and returns its reference (the
    // caller owns it); the POA takes a servant reference of its own.
    CORBA::Object_ptr ActivateFactory(PortableServer::ServantBase* factory);

  private:
    CORBA::ORB_var m_orb;                     // the process ORB
    PortableServer::POA_var m_serverObjects;  // transient POA of the server objects
    PortableServer::POA_var m_factories;      // persistent POA of the factory
    const std::string m_namingService;        // where the naming service is, for messages
    std::unique_ptr<TierDirectory> m_directory;  // the naming service, once resolved
  };
}

#endif
