#include "KroServer/KroServerShutdownTask.h"

#include "KroDazadared/KroSystem.h"
#include "KroServer/ORBInitializationError.h"
#include "KroServer/ServerMetrics.h"
#include "KroServer/ServerObjectTable.h"
#include "OrbLayer/OrbShutdown.h"
#include "OrbLayer/PrintException.h"

#include <ace/Log_Msg.h>
#include <ace/OS_NS_unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <unistd.h>

namespace Krovane
{
  ACE_Atomic_Op<ACE_Thread_Mutex, int> KroServerShutdownTask::s_operationCalled(0);

  namespace
  {
    // The argument last given to open(), for every instance.
    std::atomic<void*> s_openArgs(nullptr);
    // Set when the task ends the process itself.
    std::atomic<bool> s_endingProcess(false);
  }

  KroServerShutdownTask::KroServerShutdownTask(CORBA::ORB_ptr orb, const ACE_Time_Value& interval)
    : m_orb(CORBA::ORB::_duplicate(orb)), m_interval(interval), m_started(false), m_stopped(false)
  {
  }

  KroServerShutdownTask::~KroServerShutdownTask()
  {
    // The thread uses this object to its last instruction (ACE's svc_run
    // calls close() after svc()): it ends before the object goes.
    if (m_started.load())
    {
      {
        std::lock_guard<std::mutex> guard(m_stopLock);
        m_stopped = true;
      }
      m_stopChanged.notify_all();
      wait();
    }
    CORBA::release(m_orb);
  }

  void KroServerShutdownTask::OperationCalled()
  {
    s_operationCalled = 1;
  }

  bool KroServerShutdownTask::IsEndingProcess()
  {
    return s_endingProcess.load();
  }

  int KroServerShutdownTask::open(void* args)
  {
    s_openArgs.store(args);
    try
    {
      if (CORBA::is_nil(m_orb))
        throw ORBInitializationError("KroServerShutdownTask", "open", "Error initializing the ORB");
      if (activate(0, 1, 0, 0, -1, 0, 0, 0, 0, 0) == -1)
        return -1;
      m_started.store(true);
      return 0;
    }
    catch (...)
    {
      ACE_DEBUG((LM_ERROR, ACE_TEXT("(%P|%t) Exception initializing KroServerShutdownTask.\n")));
      return -1;
    }
  }

  int KroServerShutdownTask::close(u_long)
  {
    return 0;
  }

  int KroServerShutdownTask::svc()
  {
    const long seconds = static_cast<long>(m_interval.sec());
    int idleChecks = 0;
    s_operationCalled = 1;
    ServerObjectTable* table = ServerObjectTable::Instance(PortableServer::POA::_nil());

    for (;;)
    {
      if (s_operationCalled.value() == 1)
      {
        s_operationCalled = 0;
        if (idleChecks == 0)
        {
          if (StoppedWithin(seconds * 1000))
            return 0;
          continue;
        }
        // The confirming check comes a whole interval after the first: a
        // tenth of it (as once) is nothing for intervals under 10 s, and
        // two checks a millisecond apart confirm nothing.
        if (StoppedWithin(seconds * 1000))
          return 0;
        if (s_operationCalled.value() == 1)
          idleChecks = 0;
        continue;
      }

      int numObjects = 0;
      int numOperations = 0;
      table->NumObjectsAndActiveOperations(numObjects, numOperations);
      ACE_DEBUG((LM_INFO, ACE_TEXT("(%P|%t) Objects(%d) Active Operations(%d)\n"),
                 numObjects, numOperations));
      if (numOperations > 0)
      {
        s_operationCalled = 1;
        idleChecks = 0;
      }
      if (s_operationCalled.value() == 0)
      {
        if (++idleChecks == 2)
          break;
        s_operationCalled = 1;
      }
    }

    ShutDown();
    return 0;
  }

  bool KroServerShutdownTask::StoppedWithin(long milliseconds)
  {
    std::unique_lock<std::mutex> guard(m_stopLock);
    m_stopChanged.wait_for(guard, std::chrono::milliseconds(milliseconds > 0 ? milliseconds : 0),
                           [this] { return m_stopped; });
    return m_stopped;
  }

  void KroServerShutdownTask::ShutDown()
  {
    ServerMetrics::Instance().NoteShuttingDown();
    try
    {
      PortableServer::POA_var root = KroSystem::Instance(1)->GetRootPOA();
      PortableServer::POAManager_var manager = root->the_POAManager();
      manager->discard_requests(false);
    }
    catch (const CORBA::Exception& ex)
    {
      // The POAs are gone when the ORB was shut down or destroyed by
      // someone else; the check below then ends the task quietly.
      KroOrb::PrintException(ex, "KroServerShutdownTask::svc discard_requests");
    }
    ACE_DEBUG((LM_NOTICE, ACE_TEXT("(%P|%t)  Shutting down the KroServer\n")));

    if (KroOrb::OrbIsShutDown(m_orb))
      return;

    void* args = s_openArgs.load();
    if (args == reinterpret_cast<void*>(-1) || args == reinterpret_cast<void*>(-2))
      s_endingProcess.store(true);
    if (args == reinterpret_cast<void*>(-1))
    {
      ACE_DEBUG((LM_NOTICE, ACE_TEXT("(%P|%t) KroServer exit\n")));
      ::_exit(0);
    }
    if (args == reinterpret_cast<void*>(-2))
    {
      ACE_DEBUG((LM_NOTICE, ACE_TEXT("(%P|%t) KroServer exitting\n")));
      // The exit handlers include omniORB's own clean-up, which waits
      // forever for threads still inside ORB::run(): the request loop is
      // ended first, waiting for the requests in progress. The main thread,
      // waiting for that loop, then stays in KroServerEventHandler::wait,
      // so that this exit is the only one.
      KroOrb::ShutdownOrb(m_orb, true);
      std::exit(0);
    }
    if (args)
      static_cast<ACE_Task_Base*>(args)->close(0);
    KroOrb::ShutdownOrb(m_orb, false);
  }
}
