// BareHandler: the benchmark client's callback object for a bare baseline,
// two-way or oneway (the ORB may dispatch oneway calls out of order); it
// hands Progress and Finished to the thread's JobCompletion.
//
// Ownership: reference counted, active in the client's root POA.
// Threads: the client ORB's threads.
#ifndef KRO_BENCH_BAREHANDLER_H
#define KRO_BENCH_BAREHANDLER_H

#include "JobCompletion.h"

#include "BareJobs.hh"

namespace KroBench
{
  template <typename Skeleton>
  class BareHandler : public virtual Skeleton, public virtual PortableServer::RefCountServantBase
  {
  public:
    explicit BareHandler(JobCompletion& completion) : m_completion(completion) {}
    void Queued(CORBA::Long) override {}
    void Progress(CORBA::Double) override { m_completion.OnProgress(); }
    void Finished() override { m_completion.OnFinished(); }

  private:
    JobCompletion& m_completion;  // the client thread's; outlives the activation
  };

  using BareTwoWayHandler = BareHandler<POA_BareBench::TwoWayHandler>;
  using BareOnewayHandler = BareHandler<POA_BareBench::OnewayHandler>;
}

#endif
