// AsynchronousDepServerOperation: the operation of an
// AsynchronousDepServerRouter. Its dispatch runs the router's
// DispatchOperation, which claims a dependent server for the work; its
// handler is left active at the end (the application retires it).
//
// Ownership and threads: as AsynchronousOperation.
#ifndef KROSERVER_ASYNCHRONOUSDEPSERVEROPERATION_H
#define KROSERVER_ASYNCHRONOUSDEPSERVEROPERATION_H

#include "KroServer/AsynchronousOperation.h"

namespace Krovane
{
  class AsynchronousDepServerOperation : public AsynchronousOperation
  {
  public:
    AsynchronousDepServerOperation(IAsyncServer_ptr server, const char* name, int operationId,
                                   IAsyncHandler_ptr handler, AsynchronousRouter* router,
                                   std::vector<Halvern_Utilities::Variant>* params);
    virtual ~AsynchronousDepServerOperation();

    // Runs the router's DispatchOperation on the calling pool thread.
    virtual void Dispatch();
    // Keeps a reference for the application (stores a duplicate).
    virtual void SetServer(IAsyncServer_ptr server);

  private:
    IAsyncServer_var m_server;  // for the application; nil until set
  };
}

#endif
