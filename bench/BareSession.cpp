#include "BareSession.h"

#include "BenchClock.h"

namespace KroBench
{
  namespace
  {
    BareBench::Jobs_ptr CreateJobs(CORBA::Object_ptr factoryObject)
    {
      BareBench::JobsFactory_var factory = BareBench::JobsFactory::_narrow(factoryObject);
      return factory->CreateJobs();
    }
  }

  BareSession::BareSession(CORBA::Object_ptr factory, PortableServer::POA_ptr poa, int steps, Mode mode)
    : m_steps(steps),
      m_mode(mode),
      m_jobs(CreateJobs(factory)),
      m_twoWay(poa, new BareTwoWayHandler(m_completion)),
      m_oneway(poa, new BareOnewayHandler(m_completion))
  {
  }

  bool BareSession::Operation()
  {
    switch (m_mode)
    {
    case kPing:
      m_jobs->Ping();
      return true;
    case kTwoWay:
      m_completion.Begin(m_steps);
      m_jobs->SubmitTwoWay(m_steps, m_twoWay.Reference());
      break;
    case kOneway:
      m_completion.Begin(m_steps);
      m_jobs->SubmitOneway(m_steps, m_oneway.Reference());
      break;
    }
    return m_completion.WaitDone(BenchClock::now() + kJobDeadline);
  }
}
