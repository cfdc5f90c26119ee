#include "KroServer/KroServerEventHandler.h"

#include "KroServer/KroServerShutdownTask.h"
#include "KroServer/ORBInitializationError.h"
#include "Krovane.hh"
#include "OrbLayer/OrbShutdown.h"
#include "OrbLayer/PrintException.h"

#include <ace/Log_Msg.h>

#include <vector>

#include <unistd.h>

namespace Krovane
{
  KroServerEventHandler::KroServerEventHandler(CORBA::ORB_ptr orb, int threadCount, int stackSize)
    : m_orb(CORBA::ORB::_duplicate(orb)),
      m_threadCount(threadCount <= 0 ? 1 : (threadCount > 20 ? 20 : threadCount)),
      m_stackSize(stackSize)
  {
  }

  int KroServerEventHandler::wait()
  {
    const int result = ACE_Task_Base::wait();
    if (KroServerShutdownTask::IsEndingProcess())
      for (;;)
        ::pause();
    return result;
  }

  KroServerEventHandler::~KroServerEventHandler()
  {
    CORBA::release(m_orb);
  }

  int KroServerEventHandler::open(void*)
  {
    try
    {
      if (CORBA::is_nil(m_orb))
        throw ORBInitializationError("KroServerEventHandler", "open", "Error initializing the ORB");

      std::vector<size_t> stackSizes;
      if (m_stackSize > 0)
        stackSizes.assign(m_threadCount, static_cast<size_t>(m_stackSize));
      const int result = activate(0, m_threadCount, 0, 0, -1, 0, 0, 0,
                                  stackSizes.empty() ? 0 : stackSizes.data(), 0);
      return result == -1 ? -1 : 0;
    }
    catch (...)
    {
      ACE_DEBUG((LM_ERROR, ACE_TEXT("(%P|%t) Exception initializing KroServerEventHandler.\n")));
      return -1;
    }
  }

  int KroServerEventHandler::close(u_long)
  {
    return 0;
  }

  int KroServerEventHandler::svc()
  {
    try
    {
      m_orb->run();
      return 0;
    }
    catch (const Krovane::OperationCancelled& ex)
    {
      KroOrb::PrintException(ex, "KroServerEventHandler::svc problem");
    }
    catch (const CORBA::Exception& ex)
    {
      KroOrb::PrintException(ex, "KroServerEventHandler::svc problem");
    }
    catch (...)
    {
      ACE_DEBUG((LM_ERROR, ACE_TEXT("(%P|%t) Unknown exception in ORB::run()\n")));
    }

    // Once the ORB is shut down, run() fails at once in every thread: a
    // replacement would fail the same way, without end.
    if (!KroOrb::OrbIsShutDown(m_orb))
      activate(0, 1, 1, 0, -1, 0, 0, 0, 0, 0);
    return 0;
  }
}
