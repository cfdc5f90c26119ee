// ExampleSyncObject: the server object that the example factory hands to
// each client. A real server adds its own remote operations here; this one
// only keeps the operations of SyncServerImpl and says in the log what
// happens to it.
//
// Owned by its POA (reference counted, see SyncServerImpl); created by
// ExampleSyncFactory. Any ORB request thread may call it.
#ifndef KRO_EXAMPLES_EXAMPLESYNCOBJECT_H
#define KRO_EXAMPLES_EXAMPLESYNCOBJECT_H

#include "KroServer/SyncServerImpl.h"

namespace KroExample
{
  class ExampleSyncObject : public Krovane::SyncServerImpl
  {
  public:
    // poa: the POA the object is activated in. Keeps the list of its
    // running requests, so that Remove is refused while others run.
    explicit ExampleSyncObject(PortableServer::POA_ptr poa);
    ~ExampleSyncObject() override;

    // ISyncServer, logged, then as in SyncServerImpl.
    void UpdateUserToken(const Krovane::UserToken& token) override;
    void Remove() override;
  };
}

#endif
