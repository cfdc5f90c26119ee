// StatusLabServer: the calculators of the asynchronous example with the
// status endpoint on --status-port (127.0.0.1; 0: any free port, logged).
#include "CalculatorFactory.h"
#include "KroKit/ServerObjectPOA.h"
#include "KroKit/ServerOptions.h"
#include "KroKit/ServerProcess.h"
#include "KroKit/ServingThreads.h"
#include "KroStatus/StatusEndpoint.h"

#include <cstdio>
#include <cstdlib>

#include <unistd.h>

int main(int argc, char** argv)
{
  KroKit::ServingThreads::PrepareProcess();
  KroKit::ServerOptions options;
  KroExample::CalculatorSettings calculators;
  int statusPort = 0;
  options.AddNumber("--status-port", statusPort, 0, 65535);
  options.AddValue("--step-ms", [&](const char* ms) { calculators.stepTime.msec(std::atol(ms)); return true; });
  if (!options.ParseOrExplain(argc, argv))
    return options.UsageStatus();
  calculators.maxThreads = options.pool.maxThreads;

  KroKit::ServerProcess process("StatusLabServer");
  const int status = process.Run(options.orbArgs, [&]() {
    PortableServer::POA_var serverObjectPOA = KroKit::CreateServerObjectPOA(process.RootPOA(), "ServerObjects");
    PortableServer::ServantBase_var factory = new KroExample::CalculatorFactory(serverObjectPOA.in(), calculators);
    CORBA::Object_var factoryReference = process.ActivateFactory(factory.in());
    KroStatus::StatusEndpoint endpoint(process.Orb(), "127.0.0.1", statusPort);
    process.Publish(factoryReference.in(), options);
    process.Serve(options);
  });
  std::fflush(stdout);
  std::fflush(stderr);
  _exit(status);
}
