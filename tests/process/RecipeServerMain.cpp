// KroRecipeServer: a server written line for line as docs/building-with-the-library.md's recipe
// ("Building an application server on it"), with the idle-shutdown task
// opened in exit(0) mode, so that the tests run the recipe exactly as an
// application would: main waits for the request loop, destroys the ORB and
// returns while the idle task ends the server.
//
//   KroRecipeServer --ior-file PATH [--idle-seconds N] [ORB options]
//
// Only what the recipe leaves to the application is filled in: the factory
// (the probe's) and the IOR file. The idle interval is an option so that a
// test need not wait a minute. Exit handlers write "RecipeServer exit
// handlers ran" to standard error.
#include "ProbeServants.h"

#include "KroKit/IorFile.h"
#include "KroKit/ServerObjectPOA.h"

#include "KroDazadared/KroSystem.h"
#include "KroServer/KroServerEventHandler.h"
#include "KroServer/KroServerInterceptor.h"
#include "KroServer/KroServerShutdownTask.h"
#include "KroServer/KroServer_ORBInitializer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace
{
  void ReportExitHandlers()
  {
    std::fputs("RecipeServer exit handlers ran\n", stderr);
  }
}

int main(int argc, char** argv)
{
  // Our options out, the ORB's left for InitOrb.
  std::string iorFile;
  long idleSeconds = 60;
  std::vector<char*> orbArgs{argv[0]};
  for (int i = 1; i < argc; ++i)
  {
    if (std::strcmp(argv[i], "--ior-file") == 0 && i + 1 < argc)
      iorFile = argv[++i];
    else if (std::strcmp(argv[i], "--idle-seconds") == 0 && i + 1 < argc)
      idleSeconds = std::atol(argv[++i]);
    else
      orbArgs.push_back(argv[i]);
  }
  if (iorFile.empty())
  {
    std::fprintf(stderr, "usage: %s --ior-file PATH [--idle-seconds N] [ORB options]\n", argv[0]);
    return 2;
  }
  orbArgs.push_back(nullptr);
  argc = static_cast<int>(orbArgs.size()) - 1;
  argv = orbArgs.data();
  std::atexit(ReportExitHandlers);

  // 1. the interceptors, then the ORB
  PortableInterceptor::ServerRequestInterceptor_var interceptor = new Krovane::KroServerInterceptor;
  PortableInterceptor::ORBInitializer_var initializer = new Krovane::KroServer_ORBInitializer(interceptor.in());
  PortableInterceptor::register_orb_initializer(initializer.in());
  Krovane::KroSystem::Instance(1)->InitOrb(argc, argv);
  CORBA::ORB_var orb = Krovane::KroSystem::Instance(1)->GetOrb();

  // 2. and 3. the server-object POA and the factory, published
  PortableServer::POA_var root = Krovane::KroSystem::Instance(1)->GetRootPOA();
  PortableServer::POA_var objects = KroKit::CreateServerObjectPOA(root.in(), "RecipeObjects");
  PortableServer::ServantBase_var factory = new KroProbe::ProbeFactory(objects.in());
  PortableServer::ObjectId_var factoryId = root->activate_object(factory.in());
  CORBA::Object_var factoryReference = root->id_to_reference(factoryId.in());
  CORBA::String_var ior = orb->object_to_string(factoryReference.in());
  KroKit::WriteIorFile(iorFile, ior.in());

  // 4. as the recipe writes it
  Krovane::KroServerEventHandler events(orb, 4 /* threads */, 0 /* default stack */);
  Krovane::KroServerShutdownTask idle(orb, ACE_Time_Value(idleSeconds));
  events.open();
  idle.open((void*)-2);
  events.wait();        // returns once the ORB is shut down
  Krovane::KroSystem::Instance(1)->Destroy();
  return 0;
}
