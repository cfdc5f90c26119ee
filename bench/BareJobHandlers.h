// The benchmark client's callback objects for the bare baseline, two-way and
// oneway; both hand Progress and Finished to the thread's JobCompletion.
//
// Ownership: reference counted, active in the client's root POA.
// Threads: the client ORB's threads.
#ifndef KRO_BENCH_BAREJOBHANDLERS_H
#define KRO_BENCH_BAREJOBHANDLERS_H

#include "JobCompletion.h"

#include "BareJobs.hh"

namespace KroBench
{
  class BareTwoWayHandler : public virtual POA_BareBench::TwoWayHandler,
                            public virtual PortableServer::RefCountServantBase
  {
  public:
    explicit BareTwoWayHandler(JobCompletion& completion) : m_completion(completion) {}
    void Queued(CORBA::Long) override {}
    void Progress(CORBA::Double) override { m_completion.OnProgress(); }
    void Finished() override { m_completion.OnFinished(); }

  private:
    JobCompletion& m_completion;  // the client thread's
  };

  class BareOnewayHandler : public virtual POA_BareBench::OnewayHandler,
                            public virtual PortableServer::RefCountServantBase
  {
  public:
    explicit BareOnewayHandler(JobCompletion& completion) : m_completion(completion) {}
    void Queued(CORBA::Long) override {}
    void Progress(CORBA::Double) override { m_completion.OnProgress(); }
    void Finished() override { m_completion.OnFinished(); }

  private:
    JobCompletion& m_completion;  // the client thread's
  };
}

#endif
