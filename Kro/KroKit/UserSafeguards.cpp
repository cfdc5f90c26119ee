#include "KroKit/UserSafeguards.h"

#include "KroKit/CertificateUserVerifier.h"
#include "KroKit/HmacTokenVerifier.h"
#include "KroServer/UserLimits.h"
#include "KroServer/UserVerifier.h"

#include <ace/Log_Msg.h>

#include <algorithm>
#include <climits>
#include <stdexcept>

namespace KroKit
{
  void UserSafeguards::AddOptions(ServerOptions& options)
  {
    options.AddValue("--token-key", [this](const char* path) { m_tokenKeyFile = path; return true; }, "FILE",
                     "accept only user tokens signed with the key in FILE (mint them with KroMintToken)",
                     "any token");
    options.AddFlag("--user-from-cert", m_userFromCertificate,
                    "accept only a token equal to the CN of the client's verified certificate");
    options.AddNumber("--max-objects-per-user", m_maxObjects, 0, INT_MAX, "live server objects per user (0: no bound)");
    options.AddNumber("--max-queued-per-user", m_maxQueued, 0, INT_MAX,
                      "operations per user waiting in the queue (0: no bound)");
    options.AddNumber("--reclaim-seconds", m_reclaimSeconds, 0, INT_MAX,
                      "remove server objects unused for N seconds (0: never)");
    options.AddNumber("--reclaim-interval", m_reclaimInterval, 0, INT_MAX,
                      "seconds between looks for unused server objects", "--reclaim-seconds/10, at least 1");
    options.AddNumber("--max-token-octets", m_maxTokenOctets, 0, INT_MAX,
                      "octets of a user token (0: no bound)");
  }

  void UserSafeguards::Apply()
  {
    if (!m_tokenKeyFile.empty() && m_userFromCertificate)
      throw std::runtime_error("--token-key and --user-from-cert exclude each other");
    if (!m_tokenKeyFile.empty())
      Krovane::UserVerifier::InstallForProcess(KroKit::HmacTokenVerifier::FromKeyFile(m_tokenKeyFile));
    else if (m_userFromCertificate)
      Krovane::UserVerifier::InstallForProcess(std::make_shared<KroKit::CertificateUserVerifier>());
    Krovane::UserLimits::SetMaxObjectsPerUser(m_maxObjects);
    Krovane::UserLimits::SetMaxQueuedOperationsPerUser(m_maxQueued);
    Krovane::UserLimits::SetMaxTokenOctets(m_maxTokenOctets);
  }

  std::unique_ptr<Krovane::ServerObjectReclaimTask> UserSafeguards::StartReclaim()
  {
    if (m_reclaimSeconds <= 0)
      return nullptr;
    const int interval = m_reclaimInterval > 0 ? m_reclaimInterval : std::max(1, m_reclaimSeconds / 10);
    std::unique_ptr<Krovane::ServerObjectReclaimTask> task(
      new Krovane::ServerObjectReclaimTask(ACE_Time_Value(interval), ACE_Time_Value(m_reclaimSeconds)));
    if (task->open() != 0)
      throw std::runtime_error("the reclaim task did not start");
    ACE_DEBUG((LM_INFO, ACE_TEXT("(%P|%t) reclaiming server objects unused for %d s, looking every %d s\n"),
               m_reclaimSeconds, interval));
    return task;
  }
}
