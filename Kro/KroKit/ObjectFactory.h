// ObjectFactory<Object>: a factory that gives each client a server object
// of its own: an Object (constructed from the server-object POA), active
// under an unguessable id, working for the client's token, entered in the
// object table. Every step that fails undoes those before it.
//
//   new KroKit::ObjectFactory<MyRouter>(process.ServerObjectPOA())
//
// Object: a servant deriving from Krovane::SyncServerImpl (AsyncRouter,
// say) whose interface derives from ISyncServer, constructible from a POA.
// Ownership and threads: as ServerFactoryImpl.
#ifndef KROKIT_OBJECTFACTORY_H
#define KROKIT_OBJECTFACTORY_H

#include "KroKit/ActiveServant.h"

#include "KroServer/ServerFactoryImpl.h"

namespace KroKit
{
  template <typename Object>
  class ObjectFactory : public Krovane::ServerFactoryImpl
  {
  public:
    explicit ObjectFactory(PortableServer::POA_ptr serverObjectPOA) : Krovane::ServerFactoryImpl(serverObjectPOA) {}

    Krovane::ISyncServer_ptr CreateObject(const Krovane::UserToken& token) override
    {
      ActiveServant<Object, Krovane::ISyncServer> object(m_serverObjectPOA.in(), new Object(m_serverObjectPOA.in()));
      object->SetUserToken(token);  // before the client has its reference
      AddObjectToTable(object.Reference());
      object.Keep();
      return Krovane::ISyncServer::_duplicate(object.Reference());
    }
  };
}

#endif
