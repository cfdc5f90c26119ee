// What the operation registry (the status endpoint's view of the
// operations) costs: one operation's whole life as the pool and a relay see
// it (tracked at construction, Queued -> Running -> Finished, ten progress
// and status notes from its own thread, deleted), with the registry off and
// on, on 1 and 4 threads at once; and one read of the registry (a scrape of
// /api/operations or /metrics) with 100 and 1000 live operations, during
// which tracking waits for the registry's lock. Off runs first: the registry
// cannot be switched off again.
#include "KroServer/OpnType.h"
#include "KroServer/OperationRegistry.h"
#include "KroServer/SyncServerImpl.h"
#include "KroServer/SynchronousOperation.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

namespace
{
  // An ORB, a POA and one server object of user "u1", made once.
  struct ServerObject
  {
    ServerObject()
    {
      int argc = 0;
      orb = CORBA::ORB_init(argc, nullptr);
      CORBA::Object_var object = orb->resolve_initial_references("RootPOA");
      PortableServer::POA_var root = PortableServer::POA::_narrow(object.in());
      servant = new Krovane::SyncServerImpl(root.in(), 0);
      const std::string user = "u1";
      Krovane::UserToken token(static_cast<CORBA::ULong>(user.size()));
      token.length(static_cast<CORBA::ULong>(user.size()));
      for (CORBA::ULong i = 0; i < token.length(); ++i)
        token[i] = static_cast<CORBA::Octet>(user[i]);
      servant->SetUserToken(token);
    }

    CORBA::ORB_var orb;
    Krovane::SyncServerImpl* servant;  // kept for the process
  };

  ServerObject& TheObject()
  {
    static ServerObject* object = new ServerObject;  // lives to process end, as the ORB
    return *object;
  }

  // An operation tracked as an asynchronous operation of object is.
  class TrackedOperation : public Krovane::SynchronousOperation
  {
  public:
    TrackedOperation(Krovane::SyncServerImpl* object, int id)
      : Krovane::SynchronousOperation(CORBA::Object::_nil(), "Compute")
    {
      if (Watched())
        TrackFor(object, object->UserName(), id);
    }
  };

  void OneLife(Krovane::SyncServerImpl* object, int id)
  {
    std::unique_ptr<TrackedOperation> operation(new TrackedOperation(object, id));
    operation->SetState(Krovane::Queued);
    operation->SetState(Krovane::Running);
    Krovane::threadLocalOperation->m_operation = operation.get();
    for (int step = 1; step <= 10; ++step)
    {
      Krovane::OperationRegistry::NoteProgressOfCurrent(step / 10.0);
      Krovane::OperationRegistry::NoteStatusOfCurrent("pi ~ 3.14159251 after 34 steps");
    }
    operation->FinishUnlessCancelled();
    Krovane::threadLocalOperation->m_operation = nullptr;
  }

  void OperationLifeRegistryOff(benchmark::State& state)
  {
    Krovane::SyncServerImpl* object = TheObject().servant;
    int id = 0;
    for (auto _ : state)
      OneLife(object, ++id);
  }
  BENCHMARK(OperationLifeRegistryOff)->Threads(1)->Threads(4)->UseRealTime();

  void OperationLifeRegistryOn(benchmark::State& state)
  {
    Krovane::SyncServerImpl* object = TheObject().servant;
    if (state.thread_index() == 0)
      Krovane::OperationRegistry::Instance().Enable(200);
    int id = 0;
    for (auto _ : state)
      OneLife(object, ++id);
  }
  BENCHMARK(OperationLifeRegistryOn)->Threads(1)->Threads(4)->UseRealTime();

  void ReadRegistry(benchmark::State& state)
  {
    Krovane::OperationRegistry::Instance().Enable(200);
    std::vector<std::unique_ptr<TrackedOperation>> live;
    for (int id = 1; id <= state.range(0); ++id)
      live.emplace_back(new TrackedOperation(TheObject().servant, id));
    for (auto _ : state)
      benchmark::DoNotOptimize(Krovane::OperationRegistry::Instance().Read());
  }
  BENCHMARK(ReadRegistry)->Arg(100)->Arg(1000);
}
