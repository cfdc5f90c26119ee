#include "LibSession.h"

#include "BenchClock.h"

#include "OrbLayer/CallbackNumbers.h"

#include <stdexcept>

namespace KroBench
{
  namespace
  {
    KroBench::IJobs_ptr CreateJobs(CORBA::Object_ptr factoryObject)
    {
      Krovane::IServerFactory_var factory = Krovane::IServerFactory::_narrow(factoryObject);
      Krovane::UserToken token;
      token.length(5);
      for (CORBA::ULong i = 0; i < 5; ++i)
        token[i] = static_cast<CORBA::Octet>("bench"[i]);
      Krovane::ISyncServer_var object = factory->CreateObject(token);
      KroBench::IJobs_var jobs = KroBench::IJobs::_narrow(object.in());
      if (CORBA::is_nil(jobs.in()))
        throw std::runtime_error("the factory gave no KroBench::IJobs");
      return jobs._retn();
    }
  }

  LibSession::LibSession(CORBA::Object_ptr factory, PortableServer::POA_ptr poa, int steps, bool ping)
    : m_steps(steps), m_ping(ping), m_jobs(CreateJobs(factory)), m_handler(poa, new LibJobHandler(m_completion))
  {
    KroOrb::CallbackNumbers::Install();
  }

  LibSession::~LibSession()
  {
    try
    {
      m_jobs->Remove();
    }
    catch (const CORBA::Exception&)
    {
      // The server is going or still busy: it is ended by the driver anyway.
    }
  }

  bool LibSession::Operation()
  {
    if (m_ping)
    {
      m_jobs->Ping();
      return true;
    }
    m_completion.Begin(m_steps);
    {
      // The handler counts, in any order (JobCompletion): a pipelining
      // server may send it several callbacks at once.
      const KroOrb::CallbackNumbers::Announcing anyOrder;
      m_jobs->Submit(m_steps, m_handler.Reference());
    }
    return m_completion.WaitDone(BenchClock::now() + kJobDeadline);
  }

  int LibSession::PoolThreads() { return m_jobs->PoolThreads(); }
}
