#include "KroServer/UserVerifier.h"

#include "KroServer/UserLimits.h"

#include <ace/Log_Msg.h>

#include <atomic>
#include <ctime>

namespace Krovane
{
  namespace
  {
    // The process's verifier; read with atomic loads, replaced whole.
    std::shared_ptr<UserVerifier> s_verifier;
  }

  UserVerifier::~UserVerifier() {}

  std::string UserVerifier::UserName(const std::string& tokenText) const
  {
    return tokenText;
  }

  bool UserVerifier::StillValid(const std::string&, long long) const
  {
    return true;
  }

  bool UserVerifier::StillHolds(const std::string& tokenText)
  {
    std::shared_ptr<UserVerifier> verifier = Installed();
    if (!verifier || verifier->StillValid(tokenText, static_cast<long long>(std::time(nullptr))))
      return true;
    ACE_DEBUG((LM_NOTICE, ACE_TEXT("(%P|%t) UserVerifier: the token of user \"%C\" has expired\n"),
               verifier->UserName(tokenText).c_str()));
    return false;
  }

  void UserVerifier::InstallForProcess(std::shared_ptr<UserVerifier> verifier)
  {
    if (verifier)
      KroOrb::CallerIdentity::Install();
    std::atomic_store(&s_verifier, std::move(verifier));
  }

  std::shared_ptr<UserVerifier> UserVerifier::Installed()
  {
    return std::atomic_load(&s_verifier);
  }

  void UserVerifier::RefuseBeyondBound(const Krovane::UserToken& token)
  {
    // Every object keeps its token: a client's megabyte token would stay as
    // long as the object.
    const int most = UserLimits::MaxTokenOctets();
    if (most > 0 && token.length() > static_cast<CORBA::ULong>(most))
    {
      ACE_DEBUG((LM_NOTICE, ACE_TEXT("(%P|%t) UserVerifier: token of %u octets refused, the most is %d\n"),
                 static_cast<unsigned>(token.length()), most));
      throw CORBA::NO_PERMISSION(0, CORBA::COMPLETED_NO);
    }
  }

  void UserVerifier::Check(const Krovane::UserToken& token)
  {
    std::shared_ptr<UserVerifier> verifier = Installed();
    if (!verifier)
    {
      RefuseBeyondBound(token);
      return;
    }
    const KroOrb::CallerIdentity caller = KroOrb::CallerIdentity::OfThisRequest();
    if (verifier->Verify(token, caller))
    {
      RefuseBeyondBound(token);
      return;
    }
    ACE_DEBUG((LM_NOTICE, ACE_TEXT("(%P|%t) UserVerifier: token of %u octets refused for caller \"%C\"\n"),
               static_cast<unsigned>(token.length()), caller.address.c_str()));
    throw CORBA::NO_PERMISSION(0, CORBA::COMPLETED_NO);
  }

  std::string UserVerifier::UserOf(const std::string& tokenText)
  {
    std::shared_ptr<UserVerifier> verifier = Installed();
    return verifier ? verifier->UserName(tokenText) : tokenText;
  }
}
