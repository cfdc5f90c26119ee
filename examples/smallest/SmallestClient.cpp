// KroSmallestClient: asks the smallest server for three counts, shows their
// progress, cancels one that waits in line and one that runs, and prints how
// each ended ("count 2  Finished").
//
//   KroSmallestClient IOR-OR-FILE [-ORB options]
#include "KroClient/KroClient.h"
#include "Smallest.hh"

#include <vector>

int main(int argc, char** argv)
{
  return KroClient::RunClient(argc, argv, [](KroClient::ClientOrb& orb, int argc, char** argv) {
    if (argc != 2)
      return std::fprintf(stderr, "usage: %s IOR-OR-FILE [-ORB options]\n", argv[0]), 2;
    Krovane::IServerFactory_var factory = orb.Resolve<Krovane::IServerFactory>(argv[1]);
    Krovane::ISyncServer_var object = factory->CreateObject(Krovane::UserToken());
    Smallest::IWorker_var worker = Smallest::IWorker::_narrow(object.in());
    KroClient::AsyncClient client(orb.Poa());
    std::vector<KroClient::Operation> counts;
    for (int n = 1; n <= 3; ++n)  // more than the server runs at once: the last one waits
      counts.push_back(client.Submit(worker.in(), [&](Krovane::IAsyncHandler_ptr handler)
                                     { return worker->Count(20, 50, handler); },
                                     KroClient::ShownOnBar("count " + std::to_string(n))));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    counts[2].Cancel();  // while it waits
    if (counts[0].WaitForProgress(0.3, deadline))
      counts[0].Cancel();  // while it runs
    for (const KroClient::Operation& count : counts)
      count.WaitForEnd(deadline);
    worker->Remove();
    return 0;
  });
}
