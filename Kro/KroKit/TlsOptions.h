// TlsOptions: the TLS options of the examples' servers and clients, and
// their hand-over to the ORB layer (KroOrb::TlsTransport).
//
//   --tls-ca FILE              certificate authorities trusted (PEM); switches TLS on
//   --tls-cert FILE            this process's certificate (PEM)
//   --tls-key FILE             its private key (PEM; may be the --tls-cert file)
//   --tls-key-password-file FILE  the key's pass phrase, from FILE (or from
//                              the environment: KRO_TLS_KEY_PASSWORD, taken
//                              out of the environment once read)
//   --tls-key-password TEXT    the same on the command line, where every local
//                              user can read it (a warning says so)
//   --tls-ciphers LIST         OpenSSL's cipher list for TLS 1.2 (default: the
//                              forward-secret AEAD suites only)
//   --tls-require-client-cert  refuse callers without a valid certificate
//   --tls-only                 accept and make TLS connections only
//   --tls-plain-to HOST        with --tls-only, still call HOST in plain TCP
//                              (a naming service that cannot speak TLS)
//
// Endpoints stay ORB options: -ORBendPoint giop:ssl:HOST:PORT listens with
// TLS. A client whose server takes TLS only needs such an endpoint too when
// it receives callbacks.
//
// Ownership and threads: main owns one and uses it on its own thread:
// Take (or ServerOptions) while parsing, then Apply once before ORB_init.
// The ORB arguments it adds point into the object, which must outlive the ORB.
#ifndef KROKIT_TLSOPTIONS_H
#define KROKIT_TLSOPTIONS_H

#include "KroKit/OptionHelp.h"
#include "OrbLayer/TlsSettings.h"

#include <string>
#include <vector>

namespace KroKit
{
  class TlsOptions
  {
  public:
    // The usage text of the options, one line.
    static const char* Usage();
    // One --help row per option.
    static void DescribeIn(OptionHelp& help);

    // When argv[i] is a TLS option, takes it (and its value), leaving i on
    // the last argument taken, and returns true; bad is set when its value
    // is missing. False for any other argument.
    bool Take(int argc, char** argv, int& i, bool& bad);
    // Takes the pass phrase from KRO_TLS_KEY_PASSWORD when no option gave
    // one, and removes it from the environment (children do not inherit it).
    void TakeEnvironment();
    // Whether the options given make sense together (a certificate needs
    // its key, and anything needs --tls-ca).
    bool Valid() const;

    // Hands the settings to the ORB layer and inserts the ORB options that
    // go with them before orbArgs' final null. Nothing when TLS is off.
    void Apply(std::vector<char*>& orbArgs);

    KroOrb::TlsSettings settings;      // what the options said
    std::vector<std::string> plainTo;  // --tls-plain-to hosts

  private:
    bool m_given = false;                 // any TLS option seen
    std::vector<std::string> m_orbArgs;   // the ORB options added by Apply (orbArgs point here)
  };
}

#endif
