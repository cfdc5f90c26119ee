// TierServer: the process around a tier server's factory, set up in the
// order the library expects: request interceptors (and, for a server that
// calls others, the client interceptor), the ORB, the POAs, then the
// factory; Serve runs the event threads and the idle-shutdown task until
// the ORB is shut down (idle, SIGTERM or SIGINT).
//
// POAs: server objects (and relays, forwarders, exception holders) live in
// a transient POA; the factory lives in a persistent POA under a fixed id,
// so its reference stays valid across restarts of a server that listens on
// a fixed endpoint (-ORBendPoint giop:tcp:HOST:PORT).
//
// Ownership and threads: main creates one, calls everything on its own
// thread, and destroys it last: the destructor destroys the ORB, and with
// it every servant.
#ifndef KRO_EXAMPLES_TIERS_TIERSERVER_H
#define KRO_EXAMPLES_TIERS_TIERSERVER_H

#include "TierDirectory.h"
#include "TierServerOptions.h"

#include <omniORB4/CORBA.h>

#include <memory>
#include <string>

namespace KroTiers
{
  class TierServer
  {
  public:
    // Blocks the termination signals first (call it before any other thread
    // starts), then initialises the ORB. program: the name for the log.
    TierServer(const std::string& program, TierServerOptions& options, bool callsOtherServers);
    // Destroys the ORB; errors are printed on standard error.
    ~TierServer();
    TierServer(const TierServer&) = delete;
    TierServer& operator=(const TierServer&) = delete;

    // The POA of the server objects (not a new reference).
    PortableServer::POA_ptr ServerObjectPOA() const;
    // The naming service, resolved on first use.
    TierDirectory& Directory();
    // Activates factory under the fixed id and returns its reference (the
    // caller owns it); the POA takes a servant reference of its own.
    CORBA::Object_ptr ActivateFactory(PortableServer::ServantBase* factory);
    // Writes the factory's IOR to the IOR file (if one was asked for), then
    // serves requests until the ORB is shut down.
    void Serve(CORBA::Object_ptr factory);

  private:
    const std::string m_program;              // for the log
    const TierServerOptions& m_options;       // the command line
    CORBA::ORB_var m_orb;                     // the process ORB
    PortableServer::POA_var m_serverObjects;  // transient POA of the server objects
    PortableServer::POA_var m_factories;      // persistent POA of the factory
    std::unique_ptr<TierDirectory> m_directory;  // the naming service, once resolved
  };
}

#endif
