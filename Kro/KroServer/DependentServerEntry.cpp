#include "KroServer/DependentServerEntry.h"

namespace Krovane
{
  DependentServerEntry::DependentServerEntry()
    : m_router(nullptr), m_opId(0), m_available(false), m_threadId(0xFFFFFFFFUL)
  {
  }

  DependentServerEntry::DependentServerEntry(const std::string& serverName, IServerFactory_ptr factory,
                                             IAsyncHandler_ptr handler, AsynchronousRouter* router,
                                             IAsyncServer_ptr server, int opId, bool available,
                                             unsigned long threadId)
    : m_serverName(serverName),
      m_factory(IServerFactory::_duplicate(factory)),
      m_handler(IAsyncHandler::_duplicate(handler)),
      m_router(router),
      m_server(IAsyncServer::_duplicate(server)),
      m_opId(opId),
      m_available(available),
      m_threadId(threadId)
  {
  }

  DependentServerEntry::DependentServerEntry(const DependentServerEntry& other) = default;
  DependentServerEntry& DependentServerEntry::operator=(const DependentServerEntry& other) = default;
  DependentServerEntry::~DependentServerEntry() {}

  std::string DependentServerEntry::GetServerName() { return m_serverName; }
  void DependentServerEntry::SetServerName(const std::string& name) { m_serverName = name; }

  IServerFactory_ptr DependentServerEntry::GetFactory() { return IServerFactory::_duplicate(m_factory.in()); }
  void DependentServerEntry::SetFactory(IServerFactory_ptr factory) { m_factory = IServerFactory::_duplicate(factory); }

  IAsyncHandler_ptr DependentServerEntry::GetHandler() { return IAsyncHandler::_duplicate(m_handler.in()); }
  void DependentServerEntry::SetHandler(IAsyncHandler_ptr handler) { m_handler = IAsyncHandler::_duplicate(handler); }

  AsynchronousRouter* DependentServerEntry::GetRouter() { return m_router; }
  void DependentServerEntry::SetRouter(AsynchronousRouter* router) { m_router = router; }

  IAsyncServer_ptr DependentServerEntry::GetServer() { return IAsyncServer::_duplicate(m_server.in()); }
  void DependentServerEntry::SetServer(IAsyncServer_ptr server) { m_server = IAsyncServer::_duplicate(server); }

  int DependentServerEntry::GetOpId() { return m_opId; }
  void DependentServerEntry::SetOpId(int opId) { m_opId = opId; }

  bool DependentServerEntry::isAvailable() { return m_available; }
  void DependentServerEntry::SetAvailable(bool available) { m_available = available; }

  unsigned long DependentServerEntry::GetThreadId() { return m_threadId; }
  void DependentServerEntry::SetThreadId(unsigned long threadId) { m_threadId = threadId; }
}
