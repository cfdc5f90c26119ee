#include "BareJob.h"

namespace KroBench
{
  BareJob::BareJob(int steps, BareBench::TwoWayHandler_ptr twoWay, BareBench::OnewayHandler_ptr oneway)
    : m_steps(steps),
      m_twoWay(BareBench::TwoWayHandler::_duplicate(twoWay)),
      m_oneway(BareBench::OnewayHandler::_duplicate(oneway))
  {
  }

  void BareJob::ReportPlace(int place)
  {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_started)
      return;
    try
    {
      if (!CORBA::is_nil(m_twoWay.in()))
        m_twoWay->Queued(place);
      else
        m_oneway->Queued(place);
    }
    catch (const CORBA::Exception&)
    {
      // The client is gone; the job's own callbacks will find out.
    }
  }

  void BareJob::Run()
  {
    {
      std::lock_guard<std::mutex> guard(m_lock);
      m_started = true;
    }
    try
    {
      for (int step = 1; step <= m_steps; ++step)
      {
        const double progress = static_cast<double>(step) / m_steps;
        if (!CORBA::is_nil(m_twoWay.in()))
          m_twoWay->Progress(progress);
        else
          m_oneway->Progress(progress);
      }
      if (!CORBA::is_nil(m_twoWay.in()))
        m_twoWay->Finished();
      else
        m_oneway->Finished();
    }
    catch (const CORBA::Exception&)
    {
      // The client is gone: the job ends.
    }
  }
}
