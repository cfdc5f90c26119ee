// Costs paid on every request: the record of a request, the user token
// copied into the thread, the object table's order, the job loop of a
// cancellation.
#include "KroServer/ObjectIdComparer.h"
#include "KroServer/SynchronousOperation.h"
#include "KroServer/SyncServerImpl.h"

#include "Dazadared/Job.h"
#include "Dazadared/JobController.h"
#include "Dazadared/JobGuard.h"
#include "Dazadared/threadLocalUserPacket.h"

#include <benchmark/benchmark.h>

#include <ace/Thread.h>

namespace
{
  void RecordOfARequest(benchmark::State& state)
  {
    for (auto _ : state)
    {
      Krovane::SynchronousOperation* record =
        new Krovane::SynchronousOperation(CORBA::Object::_nil(), "GetMachineInfo");
      record->SetState(Krovane::Running);
      benchmark::DoNotOptimize(record->GetState());
      delete record;
    }
  }
  BENCHMARK(RecordOfARequest);

  void TokenIntoThread(benchmark::State& state)
  {
    Halvern_Utilities::UserPacket packet;
    packet.SetToken(std::string("user-token-of-some-length", 25) + '\0');
    for (auto _ : state)
      Halvern_Utilities::threadLocalUserPacket->SetToken(packet.GetToken());
  }
  BENCHMARK(TokenIntoThread);

  void CompareObjectIds(benchmark::State& state)
  {
    PortableServer::ObjectId a(12), b(12);
    a.length(12);
    b.length(12);
    for (CORBA::ULong i = 0; i < 12; ++i)
      a[i] = b[i] = static_cast<CORBA::Octet>(i);
    b[11] = 99;
    Krovane::ObjectIdComparer less;
    for (auto _ : state)
      benchmark::DoNotOptimize(less(a, b));
  }
  BENCHMARK(CompareObjectIds);

  void FindAndCancelJobs(benchmark::State& state)
  {
    Halvern_Utilities::JobController* controller = Halvern_Utilities::JobController::Instance();
    const unsigned long self = static_cast<unsigned long>(ACE_Thread::self());
    for (auto _ : state)
    {
      Halvern_Utilities::Job job;
      Halvern_Utilities::JobGuard registration(job);
      while (Halvern_Utilities::Job* found = controller->FindJob(self))
        found->Cancel();
    }
  }
  BENCHMARK(FindAndCancelJobs);
}
