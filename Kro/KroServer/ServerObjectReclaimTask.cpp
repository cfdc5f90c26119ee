#include "KroServer/ServerObjectReclaimTask.h"

#include "KroServer/ServerObjectTable.h"
#include "OrbLayer/PrintException.h"

#include <ace/Log_Msg.h>

#include <chrono>

namespace Krovane
{
  ServerObjectReclaimTask::ServerObjectReclaimTask(const ACE_Time_Value& interval, const ACE_Time_Value& idleTime)
    : m_intervalMilliseconds(static_cast<long long>(interval.msec())),
      m_idleMilliseconds(static_cast<long long>(idleTime.msec())),
      m_started(false),
      m_stopped(false)
  {
  }

  ServerObjectReclaimTask::~ServerObjectReclaimTask()
  {
    if (!m_started.load())
      return;
    {
      std::lock_guard<std::mutex> guard(m_stopLock);
      m_stopped = true;
    }
    m_stopChanged.notify_all();
    wait();
  }

  int ServerObjectReclaimTask::open(void*)
  {
    if (activate(THR_NEW_LWP | THR_JOINABLE, 1) == -1)
      return -1;
    m_started.store(true);
    return 0;
  }

  int ServerObjectReclaimTask::svc()
  {
    ServerObjectTable* table = ServerObjectTable::Instance(PortableServer::POA::_nil());
    while (!StoppedWithinInterval())
    {
      try
      {
        // The counts before and after: the objects of a vanished client
        // count until the pass that reclaims them.
        int objectsBefore = 0, operationsBefore = 0, objectsAfter = 0, operationsAfter = 0;
        table->NumObjectsAndActiveOperations(objectsBefore, operationsBefore);
        const int reclaimed = table->ReclaimIdleObjects(m_idleMilliseconds);
        if (reclaimed == 0)
          continue;
        table->NumObjectsAndActiveOperations(objectsAfter, operationsAfter);
        ACE_DEBUG((LM_INFO, ACE_TEXT("(%P|%t) ServerObjectReclaimTask: reclaimed %d; Objects(%d) Active Operations(%d) "
                                      "before, Objects(%d) Active Operations(%d) after\n"),
                   reclaimed, objectsBefore, operationsBefore, objectsAfter, operationsAfter));
      }
      catch (const CORBA::Exception& ex)
      {
        // The POA is gone when the ORB is being shut down; the next look
        // finds the same, or the task is stopped.
        KroOrb::PrintException(ex, "ServerObjectReclaimTask::svc\n");
      }
    }
    return 0;
  }

  bool ServerObjectReclaimTask::StoppedWithinInterval()
  {
    std::unique_lock<std::mutex> guard(m_stopLock);
    m_stopChanged.wait_for(guard, std::chrono::milliseconds(m_intervalMilliseconds > 0 ? m_intervalMilliseconds : 1000),
                           [this] { return m_stopped; });
    return m_stopped;
  }
}
