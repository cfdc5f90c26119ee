// ServerFactoryImpl: the base of every factory servant. An application
// factory overrides CreateObject: it makes a server object for the token,
// activates it in GetServerObjectPOA() and enters it with AddObjectToTable.
//
// The first factory built in the process gives the object table its POA.
#ifndef KROSERVER_SERVERFACTORYIMPL_H
#define KROSERVER_SERVERFACTORYIMPL_H

#include "Krovane.hh"

namespace Krovane
{
  class ServerObjectTable;

  class ServerFactoryImpl : public virtual POA_Krovane::IServerFactory,
                            public virtual PortableServer::RefCountServantBase
  {
  public:
    // poa: the POA for the server objects; the factory keeps a reference.
    explicit ServerFactoryImpl(PortableServer::POA_ptr poa);
    virtual ~ServerFactoryImpl();

    // IServerFactory: nil here; application factories override it.
    virtual Krovane::ISyncServer_ptr CreateObject(const Krovane::UserToken& token);

    // A new reference to the server objects' POA; the caller releases it.
    PortableServer::POA_ptr GetServerObjectPOA();
    // The process's object table (not owned).
    ServerObjectTable* GetTable();
    int AddObjectToTable(Krovane::ISyncServer_ptr object);
    int RemoveObjectFromTable(Krovane::ISyncServer_ptr object);
    void CleanUpObjectTable();

  protected:
    PortableServer::POA_var m_serverObjectPOA;  // where server objects live
  };
}

#endif
