// TierServerOptions: the command line of the tier servers.
//
//   --name NAME        the back end's name in the directory (back end only)
//   --ior-file PATH    write the factory's IOR there once the server serves
//   --threads N        event-loop threads (default 4)
//   --idle-seconds N   idle interval of the shutdown task (default 300)
//   --step-ms N        how long one step of work takes (back end; default 250)
//   --wait-seconds N   bound of one forwarded operation (front end; default 120)
//   anything else      for the ORB, e.g. -ORBendPoint giop:tcp:HOST:PORT and
//                      -ORBInitRef NameService=corbaloc::HOST:PORT/NameService
//
// A plain value type; main parses it once.
#ifndef KRO_EXAMPLES_TIERS_TIERSERVEROPTIONS_H
#define KRO_EXAMPLES_TIERS_TIERSERVEROPTIONS_H

#include <string>
#include <vector>

namespace KroTiers
{
  struct TierServerOptions
  {
    std::string name;             // the back end's name; empty for the front end
    std::string iorFile;          // where to write the factory's IOR; empty: nowhere
    int threads = 4;              // event-loop threads
    int idleSeconds = 300;        // idle interval of the shutdown task
    int stepMilliseconds = 250;   // length of one step of work (back end)
    int waitSeconds = 120;        // bound of one forwarded operation (front end)
    std::vector<char*> orbArgs;   // argv[0], the ORB's options, then a null

    // Takes our options out of argv; the rest is for the ORB. False on a
    // usage error.
    bool Parse(int argc, char** argv);
    // The usage line for program.
    static std::string Usage(const char* program);
  };
}

#endif
