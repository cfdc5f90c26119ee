// BareOnewayHandler: the benchmark client's oneway callback object for the
// bare baseline (the ORB may dispatch its calls out of order); it hands
// Progress and Finished to the thread's JobCompletion.
//
// Ownership: reference counted, active in the client's root POA.
// Threads: the client ORB's threads.
#ifndef KRO_BENCH_BAREONEWAYHANDLER_H
#define KRO_BENCH_BAREONEWAYHANDLER_H

#include "JobCompletion.h"

#include "BareJobs.hh"

namespace KroBench
{
  class BareOnewayHandler : public virtual POA_BareBench::OnewayHandler,
                            public virtual PortableServer::RefCountServantBase
  {
  public:
    explicit BareOnewayHandler(JobCompletion& completion) : m_completion(completion) {}
    void Queued(CORBA::Long) override {}
    void Progress(CORBA::Double) override { m_completion.OnProgress(); }
    void Finished() override { m_completion.OnFinished(); }

  private:
    JobCompletion& m_completion;  // the client thread's; outlives the activation
  };
}

#endif
