// HmacTokenVerifier: accepts a user token only when it is an HmacToken
// signed with the server's key and not expired (see HmacToken for the
// format). The user it names is the token's USER part, so that the limits
// of UserLimits count one user's tokens together.
//
// Threads: the key is set at construction and only read afterwards.
#ifndef KROKIT_HMACTOKENVERIFIER_H
#define KROKIT_HMACTOKENVERIFIER_H

#include "KroServer/UserVerifier.h"

#include <memory>
#include <string>

namespace KroKit
{
  class HmacTokenVerifier : public Krovane::UserVerifier
  {
  public:
    // key: at least HmacToken::kMinKeyLength octets (std::invalid_argument otherwise).
    explicit HmacTokenVerifier(const std::string& key);
    // The key is the file's content, without the line ends at its end
    // (ReadSecretFile: a warning when others may read it).
    // std::runtime_error when unreadable, std::invalid_argument when too short.
    static std::shared_ptr<HmacTokenVerifier> FromKeyFile(const std::string& path);

    // Logs the reason of a refusal (never the token).
    bool Verify(const Krovane::UserToken& token, const KroOrb::CallerIdentity& caller) override;
    std::string UserName(const std::string& tokenText) const override;
    // Its expiry only: the signature was checked when the token was set.
    bool StillValid(const std::string& tokenText, long long now) const override;

  private:
    const std::string m_key;  // the signing key
  };

  // The key in path, as FromKeyFile reads it.
  std::string ReadKeyFile(const std::string& path);
}

#endif
