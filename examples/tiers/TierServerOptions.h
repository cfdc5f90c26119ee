// TierServerOptions: the command line of the tier servers.
//
//   --name NAME        the server's name in the directory (a front end's
//                      default: HOST-PID)
//   --ior-file PATH    write the factory's IOR there once the server serves
//   --threads N        event-loop threads (default 4)
//   --idle-seconds N   idle interval of the shutdown task (default 300)
//   --step-ms N        how long one step of work takes (back end; default 250)
//   --wait-seconds N   bound of one forwarded operation (front end; default 120)
//   --refresh-ms N     between two re-reads of the back ends (front end; default 5000)
//   --call-ms N        bound of every call to another server (front end; default 10000)
//   --tls-...          TLS (see TlsOptions.h)
//   --token-key FILE, --user-from-cert, --max-objects-per-user N,
//   --max-queued-per-user N, --reclaim-seconds N, --reclaim-interval N
//                      the user safeguards (see UserSafeguards.h); a back
//                      end's caller is the front end, so --user-from-cert
//                      is for the front end only
//   anything else      for the ORB, e.g. -ORBendPoint giop:tcp:HOST:PORT and
//                      -ORBInitRef NameService=corbaloc::HOST:PORT/NameService
//
// Ownership and threads: main owns one, parses it once on its own thread,
// then only reads it, but for the safeguards' Apply and StartReclaim (on
// that thread, inside ServerProcess::Run).
#ifndef KRO_EXAMPLES_TIERS_TIERSERVEROPTIONS_H
#define KRO_EXAMPLES_TIERS_TIERSERVEROPTIONS_H

#include "KroKit/ServerOptions.h"
#include "KroKit/UserSafeguards.h"

#include <string>

namespace KroTiers
{
  class TierServerOptions
  {
  public:
    TierServerOptions();

    // Takes our options out of argv; the rest is for the ORB. False on a
    // usage error.
    bool Parse(int argc, char** argv);
    // The usage line for program.
    static std::string Usage(const char* program);

    KroKit::ServerOptions server;  // --ior-file, --threads, --idle-seconds and the ORB's options
    std::string name;                  // the server's name; empty: the front end's default
    int stepMilliseconds = 250;        // length of one step of work (back end)
    int waitSeconds = 120;             // bound of one forwarded operation (front end)
    int refreshMilliseconds = 5000;    // between two re-reads of the back ends (front end)
    int callMilliseconds = 10000;      // bound of every call to another server (front end)
    KroKit::UserSafeguards safeguards;  // verified users, per-user bounds, reclaim
  };
}

#endif
