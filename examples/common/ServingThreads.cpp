#include "ServingThreads.h"

#include <ace/Thread_Manager.h>

#include <stdexcept>

namespace KroExample
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

  ServingThreads::~ServingThreads()
  {
    // The idle task's thread is returning once it has shut the ORB down:
    // let it end before the task goes.
    if (m_idleShutdownStarted && m_shutdownOnSignal && m_shutdownOnSignal->ReceivedSignal() == 0)
      m_idleShutdown.wait();
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
      m_idleShutdownStarted = true;
      opened = true;
    });
    return opened;
  }

  int ServingThreads::Wait()
  {
    m_eventThreads.wait();
    if (Krovane::KroServerShutdownTask::IsEndingProcess())
      Krovane::KroServerShutdownTask::AwaitProcessEnd();  // its exit(0) ends the process
    return m_shutdownOnSignal->ReceivedSignal();
  }
}
