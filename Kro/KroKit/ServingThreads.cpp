#include "KroKit/ServingThreads.h"

#include <ace/Thread_Manager.h>

#include <stdexcept>

namespace KroKit
{
  void ServingThreads::PrepareProcess()
  {
    ShutdownOnSignal::BlockTerminationSignals();
    ACE_Thread_Manager::instance()->wait_on_exit(0);
  }

  ServingThreads::ServingThreads(CORBA::ORB_ptr orb, int threads, int idleSeconds, void* exitMode)
    : m_orb(CORBA::ORB::_duplicate(orb)),
      m_exitMode(exitMode),
      m_eventThreads(orb, threads, 0),
      m_idleShutdown(orb, ACE_Time_Value(idleSeconds))
  {
  }

  void ServingThreads::Start(bool withIdleShutdown)
  {
    m_shutdownOnSignal.reset(new ShutdownOnSignal(m_orb.in()));
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
