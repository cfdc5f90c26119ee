// UserVerifier: decides whether a client may work as the user its token
// names. The application derives one (Kro/KroKit ships two) and installs it
// for the process; from then on SetUserToken, which every factory calls in
// CreateObject and every server object in UpdateUserToken, asks it first and
// raises CORBA::NO_PERMISSION (logged) when it says no. Without one
// installed, every token is taken as it is.
//
// It also names the user a token stands for (UserName), the key of the
// per-user limits (UserLimits); by default the token's text itself.
//
// Threads: Verify and UserName are called on ORB request threads, several
// at a time: implementations must be thread-safe. Install before the
// factory is published; the verifier installed is kept to process end.
#ifndef KROSERVER_USERVERIFIER_H
#define KROSERVER_USERVERIFIER_H

#include "Krovane.hh"
#include "OrbLayer/CallerIdentity.h"

#include <memory>
#include <string>

namespace Krovane
{
  class UserVerifier
  {
  public:
    virtual ~UserVerifier();

    // True when the caller may work as the user of token.
    virtual bool Verify(const Krovane::UserToken& token, const KroOrb::CallerIdentity& caller) = 0;
    // The user a (verified) token's text names; the text itself by default.
    virtual std::string UserName(const std::string& tokenText) const;
    // Whether a token verified earlier still holds at now (seconds since
    // 1970): asked on every request to the object that keeps it, so it must
    // be cheap (an expiry, no signature). True by default.
    virtual bool StillValid(const std::string& tokenText, long long now) const;

    // Installs verifier for the whole process (null: none); also installs
    // the ORB hooks that tell who the caller is (KroOrb::CallerIdentity).
    static void InstallForProcess(std::shared_ptr<UserVerifier> verifier);
    // The verifier installed, or null.
    static std::shared_ptr<UserVerifier> Installed();
    // Raises CORBA::NO_PERMISSION (logged) when a verifier is installed and
    // refuses token for the caller of this thread's request.
    // Also when the token is longer than UserLimits::MaxTokenOctets.
    static void Check(const Krovane::UserToken& token);
    // False (logged with the user, never the token) when a verifier is
    // installed and says tokenText no longer holds.
    static bool StillHolds(const std::string& tokenText);
    // The user tokenText names, as the installed verifier tells (the text
    // when none is installed).
    static std::string UserOf(const std::string& tokenText);

  private:
    // NO_PERMISSION (logged) for a token longer than UserLimits::MaxTokenOctets.
    static void RefuseBeyondBound(const Krovane::UserToken& token);
  };
}

#endif
