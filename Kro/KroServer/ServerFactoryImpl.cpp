#include "KroServer/ServerFactoryImpl.h"

#include "KroServer/ServerObjectTable.h"

namespace Krovane
{
  ServerFactoryImpl::ServerFactoryImpl(PortableServer::POA_ptr poa)
    : m_serverObjectPOA(PortableServer::POA::_duplicate(poa))
  {
    GetTable();
  }

  ServerFactoryImpl::~ServerFactoryImpl() {}

  Krovane::ISyncServer_ptr ServerFactoryImpl::CreateObject(const Krovane::UserToken&)
  {
    return Krovane::ISyncServer::_nil();
  }

  PortableServer::POA_ptr ServerFactoryImpl::GetServerObjectPOA()
  {
    return PortableServer::POA::_duplicate(m_serverObjectPOA.in());
  }

  ServerObjectTable* ServerFactoryImpl::GetTable()
  {
    return ServerObjectTable::Instance(m_serverObjectPOA.in());
  }

  int ServerFactoryImpl::AddObjectToTable(Krovane::ISyncServer_ptr object)
  {
    return GetTable()->AddObject(object);
  }

  int ServerFactoryImpl::RemoveObjectFromTable(Krovane::ISyncServer_ptr object)
  {
    return GetTable()->RemoveObject(object);
  }

  void ServerFactoryImpl::CleanUpObjectTable()
  {
    GetTable()->CleanUp();
  }
}
