#include "KroKit/ServingThreads.h"

#include <ace/Thread_Manager.h>

#include <stdexcept>
#include <utility>

namespace KroKit
{
  void ServingThreads::PrepareProcess()
  {
    ShutdownOnSignal::BlockTerminationSignals();
    ACE_Thread_Manager::instance()->wait_on_exit(0);
  }

  ServingThreads::ServingThreads(CORBA::ORB_ptr orb, int threads, int idleSeconds, void* exitMode,
                                 std::function<void()> beforeShutdown)
    : m_beforeShutdown(std::move(beforeShutdown)),
      m_orb(CORBA::ORB::_duplicate(orb)),
      // In exit mode orb the idle task closes a task before the shutdown: ours.
      m_exitMode(exitMode ? exitMode : static_cast<void*>(static_cast<ACE_Task_Base*>(&m_beforeShutdown))),
      m_eventThreads(orb, threads, 0),
      m_idleShutdown(orb, ACE_Time_Value(idleSeconds))
  {
  }

  void ServingThreads::Start(bool withIdleShutdown)
  {
    m_shutdownOnSignal.reset(new ShutdownOnSignal(m_orb.in(), [this]() { m_beforeShutdown.Run(); }));
    if (m_eventThreads.open() != 0)
      throw std::runtime_error("cannot start the event threads");
    if (withIdleShutdown)
      OpenIdleShutdown();
  }

  bool ServingThreads::OpenIdleShutdown()
  {
    bool opened = false;
    std::call_once(m_idleShutdownOpened, [&]()
    {
      if (m_idleShutdown.open(m_exitMode) != 0)
        throw std::runtime_error("cannot start the idle-shutdown task");
      opened = true;
    });
    return opened;
  }

  int ServingThreads::Wait()
  {
    m_eventThreads.wait();
    return m_shutdownOnSignal->ReceivedSignal();
  }
}
