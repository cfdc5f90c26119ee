#include "KroKit/ShutdownOnSignal.h"

#include "OrbLayer/OrbShutdown.h"

#include <pthread.h>
#include <signal.h>

#include <utility>

namespace KroKit
{
  namespace
  {
    sigset_t TerminationSignals()
    {
      sigset_t signals;
      sigemptyset(&signals);
      sigaddset(&signals, SIGTERM);
      sigaddset(&signals, SIGINT);
      return signals;
    }
  }

  void ShutdownOnSignal::BlockTerminationSignals()
  {
    const sigset_t signals = TerminationSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  }

  ShutdownOnSignal::ShutdownOnSignal(CORBA::ORB_ptr orb, std::function<void()> beforeShutdown)
    : m_orb(CORBA::ORB::_duplicate(orb)),
      m_beforeShutdown(std::move(beforeShutdown)),
      m_stopping(false),
      m_signal(0),
      m_watcher(&ShutdownOnSignal::Watch, this)
  {
  }

  ShutdownOnSignal::~ShutdownOnSignal()
  {
    // Wake the watcher with a signal aimed at it alone; if it has already
    // returned, the signal is simply discarded with the thread.
    m_stopping = true;
    pthread_kill(m_watcher.native_handle(), SIGTERM);
    m_watcher.join();
  }

  int ShutdownOnSignal::ReceivedSignal() const
  {
    return m_signal;
  }

  void ShutdownOnSignal::Watch()
  {
    const sigset_t signals = TerminationSignals();
    int signal = 0;
    if (sigwait(&signals, &signal) != 0 || m_stopping)
      return;
    m_signal = signal;
    if (m_beforeShutdown)
      m_beforeShutdown();
    try
    {
      KroOrb::ShutdownOrb(m_orb.in(), false);  // do not wait: the ORB threads finish on their own
    }
    catch (const CORBA::BAD_INV_ORDER&)
    {
      // Already shut down by someone else: nothing left to do.
    }
  }
}
