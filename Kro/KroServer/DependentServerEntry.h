// DependentServerEntry: one dependent server a process may forward its
// operations to: the factory on which a server object is created for an
// operation, and whether the entry is free.
//
// The application creates entries (normally available, one per factory) and
// owns them; routers claim and free them under
// AsynchronousDepServerRouter::GetAccessLock(). The accessors do not lock.
#ifndef KROSERVER_DEPENDENTSERVERENTRY_H
#define KROSERVER_DEPENDENTSERVERENTRY_H

#include "Krovane.hh"

#include <string>

namespace Krovane
{
  class AsynchronousRouter;

  class DependentServerEntry
  {
  public:
    // Unavailable, nil references, thread id 0xFFFFFFFF.
    DependentServerEntry();
    // Takes a duplicate of each reference.
    DependentServerEntry(const std::string& serverName, IServerFactory_ptr factory,
                         IAsyncHandler_ptr handler, AsynchronousRouter* router, IAsyncServer_ptr server,
                         int opId, bool available, unsigned long threadId);
    DependentServerEntry(const DependentServerEntry& other);
    DependentServerEntry& operator=(const DependentServerEntry& other);
    virtual ~DependentServerEntry();

    std::string GetServerName();
    void SetServerName(const std::string& name);
    // New references, released by the caller; the setters take duplicates.
    IServerFactory_ptr GetFactory();
    void SetFactory(IServerFactory_ptr factory);
    IAsyncHandler_ptr GetHandler();
    void SetHandler(IAsyncHandler_ptr handler);
    AsynchronousRouter* GetRouter();
    void SetRouter(AsynchronousRouter* router);
    IAsyncServer_ptr GetServer();
    void SetServer(IAsyncServer_ptr server);
    int GetOpId();
    void SetOpId(int opId);
    bool isAvailable();
    void SetAvailable(bool available);
    unsigned long GetThreadId();
    void SetThreadId(unsigned long threadId);

  private:
    std::string m_serverName;     // for the application
    IServerFactory_var m_factory;  // where operations get their server object
    IAsyncHandler_var m_handler;   // the handler of the operation holding the entry
    AsynchronousRouter* m_router;  // for the application; not owned
    IAsyncServer_var m_server;     // for the application
    int m_opId;                    // the operation holding the entry, or 0
    bool m_available;              // free to be claimed
    unsigned long m_threadId;      // the thread of the operation holding it
  };
}

#endif
