// LibSession: a client of the library job server: its own IJobs object
// (CreateObject) and LibJobHandler; removes the object when it ends.
//
// Ownership and threads: as ClientSession.
#ifndef KRO_BENCH_LIBSESSION_H
#define KRO_BENCH_LIBSESSION_H

#include "ClientSession.h"
#include "JobCompletion.h"
#include "LibJobHandler.h"

#include "KroKit/ActiveServant.h"

#include "KroBenchJobs.hh"

namespace KroBench
{
  class LibSession : public ClientSession
  {
  public:
    // factory: the server's IServerFactory; poa: where the handler lives;
    // ping: Operation pings instead of running a job of steps steps.
    LibSession(CORBA::Object_ptr factory, PortableServer::POA_ptr poa, int steps, bool ping);
    ~LibSession() override;

    bool Operation() override;
    int PoolThreads() override;

  private:
    const int m_steps;            // steps per job
    const bool m_ping;            // ping instead of jobs
    JobCompletion m_completion;   // what the handler heard
    KroBench::IJobs_var m_jobs;   // our server object
    KroKit::ActiveServant<LibJobHandler, Krovane::IAsyncHandler> m_handler;  // our callback object
  };
}

#endif
