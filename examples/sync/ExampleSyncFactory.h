// ExampleSyncFactory: the example's factory servant. CreateObject gives
// each client an ExampleSyncObject of its own, working for the client's
// user token, active in the server-object POA and entered in the process's
// object table.
//
// Owned by the root POA once activated (reference counted); main creates
// it. Any ORB request thread may call CreateObject.
#ifndef KRO_EXAMPLES_EXAMPLESYNCFACTORY_H
#define KRO_EXAMPLES_EXAMPLESYNCFACTORY_H

#include "KroServer/ServerFactoryImpl.h"

namespace KroExample
{
  class ExampleSyncFactory : public Krovane::ServerFactoryImpl
  {
  public:
    // serverObjectPOA: where the server objects are activated.
    explicit ExampleSyncFactory(PortableServer::POA_ptr serverObjectPOA);

    // IServerFactory: a new server object for token; the caller owns the
    // returned reference.
    Krovane::ISyncServer_ptr CreateObject(const Krovane::UserToken& token) override;
  };
}

#endif
