#include "KroServer/AsynchronousDepServerOperation.h"

#include "KroServer/AsynchronousDepServerRouter.h"
#include "KroServer/OpnType.h"
#include "OrbLayer/PrintException.h"

#include <ace/Log_Msg.h>

#include <string>

namespace Krovane
{
  AsynchronousDepServerOperation::AsynchronousDepServerOperation(
    IAsyncServer_ptr server, const char* name, int operationId, IAsyncHandler_ptr handler,
    AsynchronousRouter* router, std::vector<Halvern_Utilities::Variant>* params)
    : AsynchronousOperation(server, name, operationId, handler, router, params)
  {
  }

  AsynchronousDepServerOperation::~AsynchronousDepServerOperation() {}

  void AsynchronousDepServerOperation::SetServer(IAsyncServer_ptr server)
  {
    m_server = IAsyncServer::_duplicate(server);
  }

  void AsynchronousDepServerOperation::Dispatch()
  {
    DispatchEnd end(this);
    threadLocalOperation->m_operation = this;
    try
    {
      IAsyncServer_var server = IAsyncServer::_narrow(m_target);
      if (CORBA::is_nil(server.in()))
      {
        ACE_DEBUG((LM_WARNING, ACE_TEXT("(%P|%t) ********Couldn't narrow to IAsyncServer.\n")));
        GetRouter()->cleanupAsynchronousOperationLists(this);
        return;
      }

      RunWork(GetRouter(),
              [this] {
                AsynchronousDepServerRouter* router = dynamic_cast<AsynchronousDepServerRouter*>(GetRouter());
                if (!router)
                  throw CORBA::BAD_PARAM(0, CORBA::COMPLETED_NO);  // not made by a dependent-server router
                IAsyncHandler_var handler = GetHandler();
                router->DispatchOperation(m_name, m_id, handler.in(), m_parameters);
              },
              "AsynchronousDepServerOperation::Dispatch after narrow",
              ACE_TEXT("(%P|%t) ********AsynchronousDepServerOperation::Dispatch Unknown exception.\n"));

      GetRouter()->cleanupAsynchronousOperationLists(this);
      IAsyncHandler_var handler = GetHandler();
      if (!CORBA::is_nil(handler.in()))
        handler->Finished(CORBA::Any());
    }
    catch (const CORBA::Exception& ex)
    {
      KroOrb::PrintException(ex, "AsynchronousDepServerOperation::Dispatch");
      GetRouter()->cleanupAsynchronousOperationLists(this);
    }
  }
}
