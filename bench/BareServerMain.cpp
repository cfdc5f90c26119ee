// KroBenchBareServer: the benchmark's baseline, the same job server on
// omniORB alone: a factory of Jobs objects and a pool of worker threads.
//
//   KroBenchBareServer --ior-file PATH [--pool-threads N] [ORB options]
//
// Serves until it is killed (the benchmark's driver ends it).
#include "BareFactoryServant.h"
#include "BareWorkerPool.h"

#include "KroKit/IorFile.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv)
{
  std::string iorFile;
  int poolThreads = 5;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--ior-file") == 0)
      iorFile = argv[++i];
    else if (std::strcmp(argv[i], "--pool-threads") == 0)
      poolThreads = std::atoi(argv[++i]);
  if (iorFile.empty() || poolThreads < 1)
  {
    std::fprintf(stderr, "usage: %s --ior-file PATH [--pool-threads N] [ORB options]\n", argv[0]);
    return 2;
  }
  try
  {
    CORBA::ORB_var orb = CORBA::ORB_init(argc, argv);
    CORBA::Object_var object = orb->resolve_initial_references("RootPOA");
    PortableServer::POA_var root = PortableServer::POA::_narrow(object.in());
    KroBench::BareWorkerPool pool(poolThreads);
    PortableServer::ServantBase_var factory = new KroBench::BareFactoryServant(root.in(), pool);
    PortableServer::ObjectId_var id = root->activate_object(factory.in());
    CORBA::Object_var reference = root->id_to_reference(id.in());
    CORBA::String_var ior = orb->object_to_string(reference.in());
    KroKit::WriteIorFile(iorFile, ior.in());
    PortableServer::POAManager_var manager = root->the_POAManager();
    manager->activate();
    orb->run();
  }
  catch (const CORBA::Exception& ex)
  {
    std::fprintf(stderr, "KroBenchBareServer: CORBA exception %s\n", ex._name());
    return 1;
  }
  return 0;
}
