// FrontEndFactory: the factory of the front end. CreateObject makes a
// FrontEndRouter for the caller's user; every router is offered the
// registry of back ends (the first one makes it the process's registry).
//
// Owned by its POA once activated; main creates it. The registry is main's
// and outlives the factory. Any ORB request thread may call CreateObject.
#ifndef KRO_EXAMPLES_TIERS_FRONTENDFACTORY_H
#define KRO_EXAMPLES_TIERS_FRONTENDFACTORY_H

#include "KroServer/DependentServerList.h"
#include "KroServer/ServerFactoryImpl.h"

namespace KroTiers
{
  class FrontEndFactory : public Krovane::ServerFactoryImpl
  {
  public:
    // serverObjectPOA: where the routers live; registry: not owned;
    // waitSeconds: bound of one forwarded operation.
    FrontEndFactory(PortableServer::POA_ptr serverObjectPOA, Krovane::DependentServerList* registry,
                    int waitSeconds);

    // IServerFactory: a new router (a KroTiers::IWorkServer); the caller owns the reference.
    Krovane::ISyncServer_ptr CreateObject(const Krovane::UserToken& token) override;

  private:
    Krovane::DependentServerList* const m_registry;  // the back ends; not owned
    const int m_waitSeconds;                         // for the routers
  };
}

#endif
