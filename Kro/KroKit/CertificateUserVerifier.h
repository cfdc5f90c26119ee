// CertificateUserVerifier: binds the user to the client's certificate.
// A token is accepted only on a TLS connection whose client certificate the
// ORB verified, and only when the token's text is exactly the certificate
// subject's common name (CN), the identity omniORB gives for the peer; the
// rest of the subject is not compared. The server must ask for client
// certificates (otherwise every token is refused).
//
// Free of state: any thread.
#ifndef KROKIT_CERTIFICATEUSERVERIFIER_H
#define KROKIT_CERTIFICATEUSERVERIFIER_H

#include "KroServer/UserVerifier.h"

namespace KroKit
{
  class CertificateUserVerifier : public Krovane::UserVerifier
  {
  public:
    // Logs the reason of a refusal.
    bool Verify(const Krovane::UserToken& token, const KroOrb::CallerIdentity& caller) override;
  };
}

#endif
