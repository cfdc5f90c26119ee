// BackEndFactory: the factory of a back end. CreateObject makes, for the
// caller's user, a session object (the user's side) and a BackEndRouter
// that serves it, and hands out the router.
//
// Owned by its POA once activated; main creates it. Any ORB request thread
// may call CreateObject.
#ifndef KRO_EXAMPLES_TIERS_BACKENDFACTORY_H
#define KRO_EXAMPLES_TIERS_BACKENDFACTORY_H

#include "KroServer/ServerFactoryImpl.h"

#include <string>

namespace KroTiers
{
  class BackEndFactory : public Krovane::ServerFactoryImpl
  {
  public:
    // serverObjectPOA: where routers and sessions live; name and
    // stepMilliseconds: for the routers.
    BackEndFactory(PortableServer::POA_ptr serverObjectPOA, const std::string& name, int stepMilliseconds);

    // IServerFactory: a new router (a KroTiers::IWorkServer); the caller owns the reference.
    Krovane::ISyncServer_ptr CreateObject(const Krovane::UserToken& token) override;

  private:
    const std::string m_name;       // the back end's name
    const int m_stepMilliseconds;   // length of one step of work
  };
}

#endif
