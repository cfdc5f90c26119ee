// UserSafeguards: the command-line options of a server that verify users
// and bound what each may hold, and their set-up:
//   --token-key FILE          accept only tokens signed with the key in FILE
//                             (KroKit::HmacTokenVerifier; mint them with KroMintToken)
//   --user-from-cert          accept only a token equal to the CN of the
//                             client's verified certificate (needs TLS with
//                             client certificates)
//   --max-objects-per-user N  live server objects per user (default 1000; 0: no bound)
//   --max-queued-per-user N   operations per user waiting in the queue (0: no bound)
//   --max-token-octets N      octets of a user token (default 4096; 0: no bound)
//   --reclaim-seconds N       remove server objects unused for N seconds
//                             (default 3600, so the objects of a client that
//                             was killed are not kept for ever; 0: never)
//   --reclaim-interval N      seconds between looks for them (default N/10, at least 1)
//
// Ownership and threads: main owns one, adds the options before Parse, and,
// on its thread inside ServerProcess::Run, calls Apply before the factory is
// published and StartReclaim once the factory exists.
#ifndef KROKIT_USERSAFEGUARDS_H
#define KROKIT_USERSAFEGUARDS_H

#include "KroKit/ServerOptions.h"

#include "KroServer/ServerObjectReclaimTask.h"

#include <memory>
#include <string>

namespace KroKit
{
  class UserSafeguards
  {
  public:
    // Adds the options above to options.
    void AddOptions(ServerOptions& options);
    // Installs the verifier chosen and sets the limits, after the ORB is
    // initialised. std::runtime_error for an unusable key file or for both
    // verifiers at once.
    void Apply();
    // The reclaim task, started, when --reclaim-seconds was given; else
    // null. The caller keeps it while serving and drops it before the ORB goes.
    std::unique_ptr<Krovane::ServerObjectReclaimTask> StartReclaim();

  private:
    std::string m_tokenKeyFile;      // --token-key
    bool m_userFromCertificate = false;  // --user-from-cert
    int m_maxObjects = 1000;         // --max-objects-per-user
    int m_maxQueued = 0;             // --max-queued-per-user
    int m_maxTokenOctets = 4096;     // --max-token-octets
    int m_reclaimSeconds = 3600;     // --reclaim-seconds
    int m_reclaimInterval = 0;       // --reclaim-interval
  };
}

#endif
