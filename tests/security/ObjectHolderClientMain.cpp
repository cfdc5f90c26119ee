// A client for the limits tests that holds server objects and then stays,
// in use, until it is killed:
//   SecurityObjectHolder IOR USER COUNT [ORB options]
// creates COUNT calculators for USER, prints "holding COUNT", and asks each
// for its machine description twice a second (a live client), printing
// "used for N s" each second, for at most ten minutes.
#include "support/ClientOrb.h"
#include "support/LogLines.h"

#include "Calculator.hh"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

int main(int argc, char** argv)
{
  if (argc < 4)
  {
    std::fprintf(stderr, "usage: %s IOR USER COUNT [ORB options]\n", argv[0]);
    return 2;
  }
  try
  {
    CORBA::Object_var object = KroTest::ObjectFromIor(argv[1]);
    Krovane::IServerFactory_var factory = Krovane::IServerFactory::_narrow(object.in());
    std::vector<Krovane::ISyncServer_var> held;
    for (int i = 0; i < std::atoi(argv[3]); ++i)
      held.push_back(factory->CreateObject(KroTest::Token(argv[2])));
    std::printf("holding %d\n", static_cast<int>(held.size()));
    std::fflush(stdout);
    for (int round = 0; round < 1200; ++round)
    {
      for (Krovane::ISyncServer_var& server : held)
        CORBA::String_var info = server->GetMachineInfo();
      if (round % 2 == 1)
      {
        std::printf("used for %d s\n", (round + 1) / 2);
        std::fflush(stdout);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the pace of a live client
    }
  }
  catch (const CORBA::Exception& ex)
  {
    std::fprintf(stderr, "holder: %s\n", ex._name());
    return 1;
  }
  return 0;
}
