// BareSession: a client of the bare baseline server: its own Jobs object
// and a two-way or oneway callback object.
//
// Ownership and threads: as ClientSession.
#ifndef KRO_BENCH_BARESESSION_H
#define KRO_BENCH_BARESESSION_H

#include "BareHandler.h"
#include "ClientSession.h"
#include "JobCompletion.h"

#include "KroKit/ActiveServant.h"

#include "BareJobs.hh"

namespace KroBench
{
  class BareSession : public ClientSession
  {
  public:
    enum Mode { kTwoWay, kOneway, kPing };

    BareSession(CORBA::Object_ptr factory, PortableServer::POA_ptr poa, int steps, Mode mode);

    bool Operation() override;

  private:
    const int m_steps;            // steps per job
    const Mode m_mode;            // which callbacks, or ping
    JobCompletion m_completion;   // what the handler heard
    BareBench::Jobs_var m_jobs;   // our server object
    KroKit::ActiveServant<BareTwoWayHandler, BareBench::TwoWayHandler> m_twoWay;  // callback objects
    KroKit::ActiveServant<BareOnewayHandler, BareBench::OnewayHandler> m_oneway;
  };
}

#endif
