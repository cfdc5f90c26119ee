#include "KroServer/KroServerInterceptor.h"

#include "KroServer/AsyncExceptionHolderImpl.h"

#include "KroDazadared/KroSystem.h"
#include "KroServer/KroServerShutdownTask.h"
#include "KroServer/OpnType.h"
#include "KroServer/RequestThreads.h"
#include "KroServer/SynchronousOperation.h"
#include "KroServer/SyncServerImpl.h"
#include "KroServer/UserVerifier.h"
#include "OrbLayer/PrintException.h"

#include "Dazadared/threadLocalUserPacket.h"

#include <ace/Log_Msg.h>
#include <ace/Thread.h>

#include <array>
#include <cstddef>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <typeinfo>

namespace Krovane
{
  namespace
  {
    bool Named(const char* operation, const char* name)
    {
      return std::strcmp(operation, name) == 0;
    }

    // What the interceptor asks of a servant, the same for every servant of
    // one class. The servants' classes derive virtually from the ORB's, so a
    // dynamic_cast walks the whole hierarchy (thousands of instructions, the
    // greater part of a request's cost here): it is made once per class and
    // thread, and later servants of the class are reached by the offsets it
    // found, which are fixed for a complete object's class. Only where the
    // ORB layer hands out the ORB's servant (ServerRequestInfo::orb_servant,
    // checked per omniORB version); elsewhere the POA current answers.
    struct ServantClass
    {
      const std::type_info* type = nullptr;  // the servants' complete class; null: unused
      bool isServant = false;                // a PortableServer servant
      bool isSyncServer = false;             // a server object (its skeleton)
      bool isHolder = false;                 // an exception holder
      bool isServerImpl = false;             // a SyncServerImpl
      std::ptrdiff_t toServant = 0;          // from the ORB's servant to the PortableServer one
      std::ptrdiff_t toServerImpl = 0;       // from the ORB's servant to the SyncServerImpl

      template <typename T>
      static std::ptrdiff_t Offset(omniServant* from, T* to)
      {
        return reinterpret_cast<char*>(to) - reinterpret_cast<char*>(from);
      }
      template <typename T>
      static T* At(omniServant* from, std::ptrdiff_t offset)
      {
        return reinterpret_cast<T*>(reinterpret_cast<char*>(from) + offset);
      }
    };

    const ServantClass& ClassOf(omniServant* servant)
    {
      // A few classes per thread: the server objects, relays and holders it serves.
      thread_local std::array<ServantClass, 8> known;
      thread_local std::size_t nextSlot = 0;
      const std::type_info* type = &typeid(*servant);
      for (const ServantClass& entry : known)
        if (entry.type == type)
          return entry;
      ServantClass& entry = known[nextSlot++ % known.size()];
      entry = ServantClass();
      entry.type = type;
      PortableServer::Servant portable = dynamic_cast<PortableServer::ServantBase*>(servant);
      entry.isServant = portable != nullptr;
      if (!portable)
        return entry;
      entry.toServant = ServantClass::Offset(servant, portable);
      entry.isSyncServer = dynamic_cast<POA_Krovane::ISyncServer*>(portable) != nullptr;
      entry.isHolder = dynamic_cast<POA_Krovane::IAsyncExceptionHolder*>(portable) != nullptr;
      if (SyncServerImpl* server = dynamic_cast<SyncServerImpl*>(portable))
      {
        entry.isServerImpl = true;
        entry.toServerImpl = ServantClass::Offset(servant, server);
      }
      return entry;
    }

    // Whether the interceptor has anything to do for this upcall: requests
    // on server objects, and exception holders (which go after a raise).
    // Decided from the upcall's servant alone, the same way when the request
    // arrives and when it ends, so that the upcalls of every other object
    // (relays above all) cost next to nothing. A servant the test cannot see
    // is taken the long way.
    bool Concerns(PortableInterceptor::ServerRequestInfo_ptr info, const char* operation)
    {
      if (Named(operation, "ping"))
        return false;
      omniServant* servant = info->orb_servant();
      if (!servant)
        return true;
      const ServantClass& kind = ClassOf(servant);
      return !kind.isServant || kind.isSyncServer || kind.isHolder;
    }

    // Deactivates the upcall's target. Its POA and id are asked of the POA
    // current only here, at the end of the few requests that need them, and
    // not made for every request.
    void DeactivateTarget(PortableInterceptor::ServerRequestInfo_ptr info)
    {
      const PortableServer::POA_var poa = info->target_poa();
      const PortableServer::ObjectId_var id = info->object_id();
      poa->deactivate_object(id.in());
    }

    // What a request changed on its thread, to be undone when it ends.
    struct RequestFrame
    {
      SynchronousOperation* record = nullptr;          // created for this request, or null
      PortableServer::ServantBase_var servant;         // the target's servant, held while the request runs
      bool isSyncServer = false;                       // whether it is a server object
      SyncServerImpl* server = nullptr;                // the same, as a server object
      SynchronousOperation* previousOperation = nullptr;  // the thread's current operation before
      std::string previousToken;                       // the thread's user token before
      bool refused = false;                            // receive_request refused it: no upcall runs under it
    };

    // Thrown inside receive_request when the object's token has expired.
    struct TokenExpired
    {
    };

    // The requests in progress on this thread, innermost last. A deque:
    // a frame stays where it is while requests nested in it come and go, so
    // that it is used in place (the ORB's _var members copy when moved).
    typedef std::deque<RequestFrame> RequestFrames;
    thread_local RequestFrames requestFrames;

    RequestFrame& PushFrame()
    {
      RequestFrames& frames = requestFrames;
      // A refused request's frame, should the ORB not have ended it: no
      // request runs under it, and it changed nothing on the thread.
      while (!frames.empty() && frames.back().refused)
        frames.pop_back();
      frames.emplace_back();
      RequestFrame& frame = frames.back();
      frame.previousOperation = threadLocalOperation->m_operation;
      frame.previousToken = Halvern_Utilities::threadLocalUserPacket->GetToken();
      return frame;
    }

    // Ends the innermost frame of the thread when the holder goes: deletes
    // its record, puts back the thread's operation and user, and takes the
    // frame off.
    class FrameEnd
    {
    public:
      FrameEnd() : m_frames(requestFrames)
      {
        if (!m_frames.empty())
          m_frame = &m_frames.back();
      }
      ~FrameEnd()
      {
        if (!m_frame)
          return;
        if (m_frame->record)
          RequestThreads::Leave(m_frame->record->GetThreadId());
        delete m_frame->record;
        threadLocalOperation->m_operation = m_frame->previousOperation;
        Halvern_Utilities::threadLocalUserPacket->SetToken(m_frame->previousToken);
        m_frames.pop_back();  // the frames nested in it have gone before
      }
      FrameEnd(const FrameEnd&) = delete;
      FrameEnd& operator=(const FrameEnd&) = delete;
      RequestFrame& frame() { return m_frame ? *m_frame : m_none; }

    private:
      RequestFrames& m_frames;         // the thread's frames
      RequestFrame* m_frame = nullptr;  // the innermost, ended here; null when there was none
      RequestFrame m_none;              // stands in for a missing frame
    };
  }

  KroServerInterceptor::KroServerInterceptor() : m_name("Kro_Server_Interceptor")
  {
    // The requests it marks run on the ORB's threads: cancelling one must reach them.
    Operation::ReachAlso(&RequestThreads::IsServing);
  }

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
    RequestFrame& frame = PushFrame();

    try
    {
      if (!KroSystem::Instance(0)->HasOrb())
        return;
      const unsigned long threadId = static_cast<unsigned long>(ACE_Thread::self());

      // The upcall's own servant, held while the request runs: the same the
      // POA would answer for the id, without a look-up in its table.
      omniServant* upcall = info->orb_servant();
      const ServantClass* kind = upcall ? &ClassOf(upcall) : nullptr;
      if (kind && kind->isServant)
      {
        PortableServer::Servant servant = ServantClass::At<PortableServer::ServantBase>(upcall, kind->toServant);
        servant->_add_ref();
        frame.servant = servant;
        frame.isSyncServer = kind->isSyncServer;
        if (kind->isServerImpl)
          frame.server = ServantClass::At<SyncServerImpl>(upcall, kind->toServerImpl);
      }
      else
      {
        const PortableServer::POA_var poa = info->target_poa();
        const PortableServer::ObjectId_var id = info->object_id();
        frame.servant = poa->id_to_servant(id.in());
        frame.isSyncServer = dynamic_cast<POA_Krovane::ISyncServer*>(frame.servant.in()) != nullptr;
        frame.server = dynamic_cast<SyncServerImpl*>(frame.servant.in());
      }
      if (!frame.isSyncServer)
      {
        frame.server = nullptr;
        return;
      }
      // A request's record needs no reference to its target (only an
      // asynchronous operation calls its own): none is made per request.
      frame.record = new SynchronousOperation(CORBA::Object::_nil(), operation);
      frame.record->SetThreadId(threadId);
      RequestThreads::Enter(threadId);  // so that cancelling the request reaches its jobs
      if (frame.server && !Named(operation, "CancelAllOperations"))
        frame.server->AddOperation(frame.record);
      if (frame.server)
      {
        frame.server->MarkUsed();  // its client is still there
        const std::string& token = frame.server->GetUserPacket().GetToken();
        // A signed token's time may run out while its object lives: checked
        // on every request (cheaply), except those that renew it or end it.
        if (!Named(operation, "UpdateUserToken") && !Named(operation, "Remove") &&
            !UserVerifier::StillHolds(token.c_str()))
          throw TokenExpired();
        Halvern_Utilities::threadLocalUserPacket->SetToken(token);
      }
      threadLocalOperation->m_operation = frame.record;
      frame.record->SetState(Running);
    }
    catch (const TokenExpired&)
    {
      // Nothing of it stays: its record leaves the object and the thread.
      if (!Named(operation, "CancelAllOperations"))
        frame.server->RemoveOperation(frame.record);
      RequestThreads::Leave(frame.record->GetThreadId());
      delete frame.record;
      frame.record = nullptr;
      frame.refused = true;
      frame.isSyncServer = false;
      frame.server = nullptr;
      throw CORBA::NO_PERMISSION(0, CORBA::COMPLETED_NO);
    }
    catch (const CORBA::Exception& ex)
    {
      KroOrb::PrintException(ex, "KroServerInterceptor::receive_request\n");
    }
    catch (...)
    {
      ACE_DEBUG((LM_WARNING, ACE_TEXT("Unknown Exception in KroServerInterceptor::receive_request\n")));
    }
  }

  void KroServerInterceptor::send_reply(PortableInterceptor::ServerRequestInfo_ptr info)
  {
    const char* operation = info->operation_name();
    if (!Concerns(info, operation))
      return;
    FrameEnd end;
    RequestFrame& frame = end.frame();
    if (!frame.isSyncServer || Named(operation, "CancelAllOperations"))
      return;

    // Unregistered from the object the request ran on, even when that
    // object is no longer active: it still owns its list.
    if (frame.server)
      frame.server->RemoveOperation(frame.record);
    try
    {
      if (!info->servant_active(frame.servant.in()))
        throw PortableServer::POA::ObjectNotActive();
      if (Named(operation, "Remove"))
        DeactivateTarget(info);
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

    if (frame.isSyncServer)
    {
      if (frame.server && !Named(operation, "CancelAllOperations"))
        frame.server->RemoveOperation(frame.record);
    }
    else if (servant->_is_a(Krovane::IAsyncExceptionHolder::_PD_repoId))
    {
      // An exception holder answers one raise() and then goes. One retired
      // meanwhile (its server object removed, or the server stopping) has
      // gone already: the client must still get the exception it raised, not
      // a POA's complaint in its place.
      try
      {
        DeactivateTarget(info);
      }
      catch (const PortableServer::POA::ObjectNotActive&)
      {
      }
      catch (const CORBA::SystemException& ex)
      {
        KroOrb::PrintException(ex, "KroServerInterceptor::send_exception retiring a holder\n");
      }
      if (AsyncExceptionHolderImpl* holder = dynamic_cast<AsyncExceptionHolderImpl*>(servant))
        holder->Retired();
    }
  }

  void KroServerInterceptor::send_other(PortableInterceptor::ServerRequestInfo_ptr info)
  {
    const char* operation = info->operation_name();
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) Sent other for Operation \"%s\".\n"), operation));
  }
}
