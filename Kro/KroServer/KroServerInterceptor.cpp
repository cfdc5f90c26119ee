#include "KroServer/KroServerInterceptor.h"

#include "KroDazadared/KroSystem.h"
#include "KroServer/KroServerShutdownTask.h"
#include "KroServer/OpnType.h"
#include "KroServer/RequestThreads.h"
#include "KroServer/SynchronousOperation.h"
#include "KroServer/SyncServerImpl.h"
#include "OrbLayer/PrintException.h"

#include "Dazadared/threadLocalUserPacket.h"

#include <ace/Log_Msg.h>
#include <ace/Thread.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace Krovane
{
  namespace
  {
    bool Named(const char* operation, const char* name)
    {
      return std::strcmp(operation, name) == 0;
    }

    // Whether the target is a server object. The servant tells, by its
    // skeleton's type: narrowing the reference would ask the target itself,
    // an upcall that passes through this interceptor again, and _is_a walks
    // the interface's repository ids as strings.
    bool IsSyncServer(PortableServer::Servant servant)
    {
      return dynamic_cast<POA_Krovane::ISyncServer*>(servant) != nullptr;
    }

    // Whether the interceptor has anything to do for this upcall: requests
    // on server objects, and exception holders (which go after a raise).
    // Decided from the upcall's servant alone, the same way when the request
    // arrives and when it ends, so that the upcalls of every other object
    // (relays above all: several per operation) cost next to nothing. A
    // servant the test cannot see is taken the long way.
    bool Concerns(PortableInterceptor::ServerRequestInfo_ptr info, const char* operation)
    {
      if (Named(operation, "ping"))
        return false;
      PortableServer::Servant servant = info->upcall_servant();
      return !servant || dynamic_cast<POA_Krovane::ISyncServer*>(servant) ||
             dynamic_cast<POA_Krovane::IAsyncExceptionHolder*>(servant);
    }

    // What a request changed on its thread, to be undone when it ends.
    struct RequestFrame
    {
      SynchronousOperation* record = nullptr;          // created for this request, or null
      PortableServer::POA_var poa;                     // the target's POA
      PortableServer::ObjectId_var id;                 // the target's object id
      PortableServer::ServantBase_var servant;         // the target's servant, held while the request runs
      SyncServerImpl* server = nullptr;                // the same, as a server object
      SynchronousOperation* previousOperation = nullptr;  // the thread's current operation before
      std::string previousToken;                       // the thread's user token before
    };

    // The requests in progress on this thread, innermost last.
    typedef std::vector<RequestFrame> RequestFrames;
    ACE_TSS<RequestFrames> requestFrames;

    void PushFrame()
    {
      RequestFrame frame;
      frame.previousOperation = threadLocalOperation->m_operation;
      frame.previousToken = Halvern_Utilities::threadLocalUserPacket->GetToken();
      requestFrames->push_back(std::move(frame));
    }

    // Takes the innermost frame off the thread and, when the holder goes,
    // deletes its record and puts back the thread's operation and user.
    class FrameEnd
    {
    public:
      FrameEnd()
      {
        RequestFrames& frames = *requestFrames;
        if (!frames.empty())
        {
          m_frame = std::move(frames.back());
          frames.pop_back();
          m_valid = true;
        }
      }
      ~FrameEnd()
      {
        if (!m_valid)
          return;
        if (m_frame.record)
          RequestThreads::Leave(m_frame.record->GetThreadId());
        delete m_frame.record;
        threadLocalOperation->m_operation = m_frame.previousOperation;
        Halvern_Utilities::threadLocalUserPacket->SetToken(m_frame.previousToken);
      }
      RequestFrame& frame() { return m_frame; }

    private:
      RequestFrame m_frame;
      bool m_valid = false;
    };
  }

  KroServerInterceptor::KroServerInterceptor() : m_name("Kro_Server_Interceptor") {}

  KroServerInterceptor::~KroServerInterceptor() {}

  char* KroServerInterceptor::name() { return CORBA::string_dup(m_name); }

  void KroServerInterceptor::destroy() {}

  void KroServerInterceptor::receive_request_service_contexts(PortableInterceptor::ServerRequestInfo_ptr) {}

  void KroServerInterceptor::receive_request(PortableInterceptor::ServerRequestInfo_ptr info)
  {
    KroServerShutdownTask::OperationCalled();
    const char* operation = info->operation_name();
    if (!Concerns(info, operation))
      return;
    PushFrame();
    RequestFrame& frame = requestFrames->back();

    try
    {
      CORBA::ORB_var orb = KroSystem::Instance(0)->GetOrb();
      if (CORBA::is_nil(orb.in()))
        return;
      frame.poa = info->target_poa();
      frame.id = info->object_id();
      CORBA::Object_var target = frame.poa->id_to_reference(frame.id.in());
      const unsigned long threadId = static_cast<unsigned long>(ACE_Thread::self());

      // The upcall's own servant, held while the request runs: the same the
      // POA would answer for the id, without a look-up in its table.
      PortableServer::Servant servant = info->upcall_servant();
      if (servant)
        servant->_add_ref();
      else
        servant = frame.poa->id_to_servant(frame.id.in());
      frame.servant = servant;
      if (!IsSyncServer(frame.servant.in()))
        return;
      Krovane::ISyncServer_var server = Krovane::ISyncServer::_unchecked_narrow(target.in());

      frame.server = dynamic_cast<SyncServerImpl*>(frame.servant.in());
      frame.record = new SynchronousOperation(server.in(), operation);
      frame.record->SetThreadId(threadId);
      RequestThreads::Enter(threadId);  // so that cancelling the request reaches its jobs
      if (frame.server && !Named(operation, "CancelAllOperations"))
        frame.server->AddOperation(frame.record);
      if (frame.server)
      {
        frame.server->MarkUsed();  // its client is still there
        Halvern_Utilities::threadLocalUserPacket->SetToken(frame.server->GetUserPacket().GetToken());
      }
      threadLocalOperation->m_operation = frame.record;
      frame.record->SetState(Running);
    }
    catch (const CORBA::Exception& ex)
    {
      KroOrb::PrintException(ex, "KroServerInterceptor::receive_request\n");
    }
    catch (...)
    {
      ACE_DEBUG((LM_DEBUG, ACE_TEXT("Unknown Exception in KroServerInterceptor::receive_request\n")));
    }
  }

  void KroServerInterceptor::send_reply(PortableInterceptor::ServerRequestInfo_ptr info)
  {
    const char* operation = info->operation_name();
    if (!Concerns(info, operation))
      return;
    FrameEnd end;
    RequestFrame& frame = end.frame();
    if (!IsSyncServer(frame.servant.in()) || Named(operation, "CancelAllOperations"))
      return;

    // Unregistered from the object the request ran on, even when that
    // object is no longer active: it still owns its list.
    if (frame.server)
      frame.server->RemoveOperation(frame.record);
    try
    {
      PortableServer::ServantBase_var active = frame.poa->id_to_servant(frame.id.in());
      if (Named(operation, "Remove"))
        frame.poa->deactivate_object(frame.id.in());
    }
    catch (const PortableServer::POA::ObjectNotActive& ex)
    {
      KroOrb::PrintException(ex, "SyncServerImpl has already been deactivated\n");
    }
  }

  void KroServerInterceptor::send_exception(PortableInterceptor::ServerRequestInfo_ptr info)
  {
    const char* operation = info->operation_name();
    if (!Concerns(info, operation))
      return;
    FrameEnd end;
    RequestFrame& frame = end.frame();
    PortableServer::Servant servant = frame.servant.in();
    if (!servant)
      return;

    if (IsSyncServer(servant))
    {
      if (frame.server && !Named(operation, "CancelAllOperations"))
        frame.server->RemoveOperation(frame.record);
    }
    else if (servant->_is_a(Krovane::IAsyncExceptionHolder::_PD_repoId))
    {
      // An exception holder answers one raise() and then goes.
      frame.poa->deactivate_object(frame.id.in());
    }
  }

  void KroServerInterceptor::send_other(PortableInterceptor::ServerRequestInfo_ptr info)
  {
    const char* operation = info->operation_name();
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) Sent other for Operation \"%s\".\n"), operation));
  }
}
