// KroFaultHandlerHost: a client process holding one FaultyHandler, for the
// fault tests whose handler ends its process in the middle of a callback.
//
//   KroFaultHandlerHost --ior-file PATH --fault Callback:count:action ...
//                       [--block-ms N] [--lifetime-seconds N] [ORB options]
//
// Writes the handler's IOR to PATH, prints each callback it receives as
// "handler: <event>", and ends when a fault makes it exit (status 3), on
// SIGTERM or SIGINT, or after the lifetime (default 120 s).
#include "FaultyHandler.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <time.h>

int main(int argc, char** argv)
{
  std::string iorFile;
  std::vector<KroTest::Fault> faults;
  int blockMs = 2500;
  int lifetimeSeconds = 120;
  std::vector<char*> orbArgs = {argv[0]};
  for (int i = 1; i < argc; ++i)
  {
    const bool hasValue = i + 1 < argc;
    if (std::strcmp(argv[i], "--ior-file") == 0 && hasValue)
      iorFile = argv[++i];
    else if (std::strcmp(argv[i], "--fault") == 0 && hasValue)
      faults.push_back(KroTest::Fault::Parse(argv[++i]));
    else if (std::strcmp(argv[i], "--block-ms") == 0 && hasValue)
      blockMs = std::atoi(argv[++i]);
    else if (std::strcmp(argv[i], "--lifetime-seconds") == 0 && hasValue)
      lifetimeSeconds = std::atoi(argv[++i]);
    else
      orbArgs.push_back(argv[i]);
  }
  if (iorFile.empty())
  {
    std::fprintf(stderr, "usage: %s --ior-file PATH --fault Callback:count:action ... [ORB options]\n", argv[0]);
    return 2;
  }
  orbArgs.push_back(nullptr);

  // Before the ORB's threads exist, so that only main takes these signals.
  sigset_t endSignals;
  sigemptyset(&endSignals);
  sigaddset(&endSignals, SIGTERM);
  sigaddset(&endSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);

  int orbArgc = static_cast<int>(orbArgs.size()) - 1;
  CORBA::ORB_var orb = CORBA::ORB_init(orbArgc, orbArgs.data());
  {
    CORBA::Object_var object = orb->resolve_initial_references("RootPOA");
    PortableServer::POA_var root = PortableServer::POA::_narrow(object.in());
    PortableServer::POAManager_var manager = root->the_POAManager();
    manager->activate();

    PortableServer::ServantBase_var handler = new KroTest::FaultyHandler(
      faults, std::chrono::milliseconds(blockMs), [](const std::string& event)
      {
        std::printf("handler: %s\n", event.c_str());
        std::fflush(stdout);
      });
    PortableServer::ObjectId_var id = root->activate_object(handler.in());
    CORBA::Object_var reference = root->id_to_reference(id.in());
    CORBA::String_var ior = orb->object_to_string(reference.in());
    {
      // Written aside and renamed: whoever waits for the file reads it whole.
      std::ofstream out(iorFile + ".part");
      out << ior.in() << "\n";
    }
    std::rename((iorFile + ".part").c_str(), iorFile.c_str());

    const timespec lifetime = {lifetimeSeconds, 0};
    sigtimedwait(&endSignals, nullptr, &lifetime);
  }
  orb->destroy();
  return 0;
}
