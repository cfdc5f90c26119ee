// LibJobHandler: the benchmark client's callback object for jobs on the
// library server (an IAsyncHandler servant); it hands Progress and Finished
// to the thread's JobCompletion and ignores the rest.
//
// Ownership: reference counted, active in the client's root POA.
// Threads: the client ORB's threads.
#ifndef KRO_BENCH_LIBJOBHANDLER_H
#define KRO_BENCH_LIBJOBHANDLER_H

#include "JobCompletion.h"

#include "AsyncHandlerServant.h"

namespace KroBench
{
  class LibJobHandler : public KroExample::AsyncHandlerServant
  {
  public:
    explicit LibJobHandler(JobCompletion& completion);

    void Queued(CORBA::Long position) override;
    void Status(const char* text) override;
    void Progress(CORBA::Double progress) override;
    void Results(const CORBA::Any& data) override;
    void Finished(const CORBA::Any& data) override;
    void Error(Krovane::IAsyncExceptionHolder_ptr holder) override;

  private:
    JobCompletion& m_completion;  // the client thread's; outlives the servant's activation
  };
}

#endif
