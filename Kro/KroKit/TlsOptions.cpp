#include "KroKit/TlsOptions.h"

#include "KroKit/SecretFile.h"
#include "OrbLayer/TlsTransport.h"

#include <ace/Log_Msg.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace KroKit
{
  const char* TlsOptions::Usage()
  {
    return "[--tls-ca FILE [--tls-cert FILE --tls-key FILE [--tls-key-password-file FILE]]"
           " [--tls-ciphers LIST]"
           " [--tls-require-client-cert] [--tls-only [--tls-plain-to HOST]...]]";
  }

  void TlsOptions::DescribeIn(OptionHelp& help)
  {
    help.Add({"--tls-ca", "FILE", "certificate authorities trusted (PEM); switches TLS on", "TLS off", nullptr});
    help.Add({"--tls-cert", "FILE", "this process's certificate (PEM)", "none", nullptr});
    help.Add({"--tls-key", "FILE", "its private key (PEM; may be the --tls-cert file)", "none", nullptr});
    help.Add({"--tls-key-password", "TEXT", "the key's pass phrase (every local user can read it: prefer the next)",
              "none", nullptr});
    help.Add({"--tls-key-password-file", "FILE", "read the key's pass phrase from FILE (or set KRO_TLS_KEY_PASSWORD)",
              "none", nullptr});
    help.Add({"--tls-ciphers", "LIST", "OpenSSL cipher list for TLS 1.2", "ECDHE+AESGCM:ECDHE+CHACHA20", nullptr});
    help.Add({"--tls-require-client-cert", "", "refuse callers without a certificate signed by the CA", "", nullptr});
    help.Add({"--tls-only", "", "accept and make TLS connections only (no plain TCP)", "", nullptr});
    help.Add({"--tls-plain-to", "HOST", "with --tls-only, still call HOST in plain TCP (a naming service)", "none",
              nullptr});
  }

  bool TlsOptions::Take(int argc, char** argv, int& i, bool& bad)
  {
    const char* name = argv[i];
    if (std::strncmp(name, "--tls-", 6) != 0)
      return false;
    m_given = true;
    if (std::strcmp(name, "--tls-require-client-cert") == 0)
      settings.requireClientCertificate = true;
    else if (std::strcmp(name, "--tls-only") == 0)
      settings.plainTcpToo = false;
    else if (i + 1 >= argc)
      bad = true;
    else if (std::strcmp(name, "--tls-ca") == 0)
      settings.caFile = argv[++i];
    else if (std::strcmp(name, "--tls-cert") == 0)
      settings.certificateFile = argv[++i];
    else if (std::strcmp(name, "--tls-key") == 0)
      settings.keyFile = argv[++i];
    else if (std::strcmp(name, "--tls-key-password") == 0)
    {
      settings.keyPassword = argv[++i];
      ACE_DEBUG((LM_WARNING, ACE_TEXT("(%P|%t) --tls-key-password can be read by every local user; "
                                      "use --tls-key-password-file or KRO_TLS_KEY_PASSWORD\n")));
    }
    else if (std::strcmp(name, "--tls-key-password-file") == 0)
    {
      try
      {
        settings.keyPassword = ReadSecretFile(argv[++i], "the key's pass phrase file");
      }
      catch (const std::runtime_error& ex)
      {
        std::fprintf(stderr, "%s\n", ex.what());
        bad = true;
      }
    }
    else if (std::strcmp(name, "--tls-ciphers") == 0)
      settings.cipherList = argv[++i];
    else if (std::strcmp(name, "--tls-plain-to") == 0)
      plainTo.emplace_back(argv[++i]);
    else
      bad = true;
    return true;
  }

  void TlsOptions::TakeEnvironment()
  {
    const char* password = std::getenv("KRO_TLS_KEY_PASSWORD");
    if (password == nullptr)
      return;
    if (settings.keyPassword.empty())
      settings.keyPassword = password;
    ::unsetenv("KRO_TLS_KEY_PASSWORD");
  }

  bool TlsOptions::Valid() const
  {
    if (!m_given)
      return true;
    return settings.Enabled() && settings.certificateFile.empty() == settings.keyFile.empty() &&
           (plainTo.empty() || !settings.plainTcpToo);
  }

  void TlsOptions::Apply(std::vector<char*>& orbArgs)
  {
    if (!settings.Enabled())
      return;
    KroOrb::TlsTransport::Install(settings);
    // Client rules are tried in order: the plain exceptions come first.
    for (const std::string& host : plainTo)
    {
      m_orbArgs.push_back("-ORBclientTransportRule");
      m_orbArgs.push_back(host + " ssl,tcp");
    }
    for (const std::string& option : KroOrb::TlsTransport::OrbOptions(settings))
      m_orbArgs.push_back(option);
    const auto end = orbArgs.empty() ? orbArgs.end() : orbArgs.end() - 1;  // before the final null
    std::vector<char*> added;
    for (std::string& argument : m_orbArgs)
      added.push_back(&argument[0]);
    orbArgs.insert(end, added.begin(), added.end());
  }
}
