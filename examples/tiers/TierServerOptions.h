// TierServerOptions: the command line of the tier servers.
//
//   --name NAME        the server's name in the directory (a front end's
//                      default: HOST-PID)
//   --ior-file PATH    write the factory's IOR there once the server serves
//   --threads N        event-loop threads (default 4)
//   --idle-seconds N   idle interval of the shutdown task (default 300)
//   --step-ms N        how long one step of work takes (back end; default 250)
//   --wait-seconds N   bound of one forwarded operation (front end; default 120)
//   --refresh-ms N     between two re-reads of the back ends (front end), and
//                      two looks at the server's own name (default 5000)
//   --call-ms N        bound of every call to another server (front end; default 10000)
//   --retries N        how often work whose back end was lost runs again on
//                      another free one (front end; default 1; 0: never)
//   --tls-...          TLS (see TlsOptions.h)
//   --verbose, --quiet the log: every priority, or notices and worse only
//   --help             the usage, on standard output
//   --token-key FILE, --user-from-cert, --max-objects-per-user N,
//   --max-queued-per-user N, --reclaim-seconds N, --reclaim-interval N
//                      the user safeguards (see UserSafeguards.h); a back
//                      end's caller is the front end, so --user-from-cert
//                      is for the front end only
//   -ORB...            for the ORB, e.g. -ORBendPoint giop:tcp:HOST:PORT and
//                      -ORBInitRef NameService=corbaloc::HOST:PORT/NameService
// Long options through the kit's ServerOptions: numbers are checked, and
// anything else is a usage error.
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

    // Takes our options out of argv; the ORB's go to server.orbArgs. On a
    // usage error (a back end without --name among them, when nameRequired)
    // prints what was wrong and the usage on standard error, after --help
    // the usage on standard output, and returns false; UsageStatus() is then
    // the exit status.
    bool ParseOrExplain(int argc, char** argv, bool nameRequired);
    // 2 after a usage error, 0 after --help.
    int UsageStatus() const { return m_usageStatus; }

    KroKit::ServerOptions server;  // --ior-file, --threads, --idle-seconds and the ORB's options
    std::string name;                  // the server's name; empty: the front end's default
    int stepMilliseconds = 250;        // length of one step of work (back end)
    int waitSeconds = 120;             // bound of one forwarded operation (front end)
    int refreshMilliseconds = 5000;    // between two re-reads of the back ends (front end)
    int callMilliseconds = 10000;      // bound of every call to another server (front end)
    int retries = 1;                   // runs again of work whose back end was lost (front end)
    KroKit::UserSafeguards safeguards;  // verified users, per-user bounds, reclaim

  private:
    // The kit's usage and where the naming service is given.
    std::string Usage(const char* program) const;

    int m_usageStatus = 2;  // ParseOrExplain's exit status when it fails
  };
}

#endif
