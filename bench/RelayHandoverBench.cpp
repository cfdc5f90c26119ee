// What a relay per operation costs the server in a loop of its own, by the
// two ways an application hands it over: as itself (activated only if its
// reference is asked for) and by reference (activated under a fresh random
// id, a reference made, the relay looked up behind it as the library does,
// deactivated when the scope ends). In the job server the same steps cost
// several times more per instruction: each job finds them cold after the
// thread switches a two-way call makes.
#include "KroKit/ActiveServant.h"
#include "KroKit/ServerObjectPOA.h"

#include "KroServer/AsynchronousHandler.h"

#include <benchmark/benchmark.h>

#include <omniORB4/CORBA.h>

namespace
{
  using Relay = Krovane::AsynchronousHandler;

  // The relays' POA, as the job server makes it; the ORB lives as long as the program.
  PortableServer::POA_ptr RelayPOA()
  {
    static PortableServer::POA_var poa = [] {
      int argc = 0;
      char* argv[] = {nullptr};
      static CORBA::ORB_var orb = CORBA::ORB_init(argc, argv);
      CORBA::Object_var object = orb->resolve_initial_references("RootPOA");
      PortableServer::POA_var root = PortableServer::POA::_narrow(object.in());
      root->the_POAManager()->activate();
      return PortableServer::POA_var(KroKit::CreateServerObjectPOA(root.in(), "Relays"));
    }();
    return poa.in();
  }

  void RelayAsItself(benchmark::State& state)
  {
    PortableServer::POA_ptr poa = RelayPOA();
    for (auto _ : state)
    {
      Relay* relay = new Relay(Krovane::IAsyncHandler::_nil());
      const PortableServer::ServantBase_var ownership = relay;
      relay->ActivateOnDemandIn(poa);
    }
  }
  BENCHMARK(RelayAsItself);

  void RelayActivatedWithoutReference(benchmark::State& state)
  {
    PortableServer::POA_ptr poa = RelayPOA();
    for (auto _ : state)
      KroKit::ActiveRelay<Relay> relay(poa, new Relay(Krovane::IAsyncHandler::_nil()));
  }
  BENCHMARK(RelayActivatedWithoutReference);

  void RelayByReference(benchmark::State& state)
  {
    PortableServer::POA_ptr poa = RelayPOA();
    for (auto _ : state)
    {
      KroKit::ActiveRelay<Relay> relay(poa, new Relay(Krovane::IAsyncHandler::_nil()));
      const PortableServer::ServantBase_var found = poa->reference_to_servant(relay.Reference());
      benchmark::DoNotOptimize(dynamic_cast<Relay*>(found.in()));
    }
  }
  BENCHMARK(RelayByReference);
}
