// FrontEndFactory: the factory of the front end. CreateObject makes a
// FrontEndRouter for the caller's user; every router is offered the
// registry of back ends (the first one makes it the process's registry).
//
// Owned by its POA once activated; main creates it. The registry and its
// refresher are main's and outlive the factory. Any ORB request thread may call CreateObject.
#ifndef KRO_EXAMPLES_TIERS_FRONTENDFACTORY_H
#define KRO_EXAMPLES_TIERS_FRONTENDFACTORY_H

#include "BackEndRefresher.h"
#include "BackEndRegistry.h"

#include "KroServer/ServerFactoryImpl.h"

namespace KroTiers
{
  class FrontEndFactory : public Krovane::ServerFactoryImpl
  {
  public:
    // serverObjectPOA: where the routers live; registry, refresher: not
    // owned; waitSeconds: bound of one forwarded operation; retries: runs
    // again of work whose back end was lost.
    FrontEndFactory(PortableServer::POA_ptr serverObjectPOA, BackEndRegistry& registry,
                    BackEndRefresher& refresher, int waitSeconds, int retries);

    // IServerFactory: a new router (a KroTiers::IWorkServer); the caller owns the reference.
    Krovane::ISyncServer_ptr CreateObject(const Krovane::UserToken& token) override;

  private:
    BackEndRegistry& m_registry;     // the back ends; main's
    BackEndRefresher& m_refresher;   // re-reads them; main's
    const int m_waitSeconds;         // for the routers
    const int m_retries;             // for the routers
  };
}

#endif
