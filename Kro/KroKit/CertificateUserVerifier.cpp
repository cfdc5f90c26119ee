#include "KroKit/CertificateUserVerifier.h"

#include "KroServer/UserTokenOctets.h"

#include <ace/Log_Msg.h>

#include <string>

namespace KroKit
{
  bool CertificateUserVerifier::Verify(const Krovane::UserToken& token, const KroOrb::CallerIdentity& caller)
  {
    if (caller.certificateName.empty())
    {
      ACE_DEBUG((LM_NOTICE, ACE_TEXT("(%P|%t) CertificateUserVerifier: no verified client certificate; token refused\n")));
      return false;
    }
    const std::string user = Krovane::UserTokenOctets::Text(token);
    if (user != caller.certificateName)
    {
      ACE_DEBUG((LM_NOTICE, ACE_TEXT("(%P|%t) CertificateUserVerifier: token is not the certificate's CN \"%C\"; refused\n"),
                 caller.certificateName.c_str()));
      return false;
    }
    return true;
  }
}
