// TlsTestSupport: what the cross-process TLS tests share: a certificate
// authority of the test's own making with certificates signed by it (made
// with the openssl command in a temporary directory that goes with the
// object), and runs of the synchronous example client.
//
// Ownership and threads: one authority per test, everything used from the
// test's thread.
#ifndef KRO_TESTS_SECURITY_TLSTESTSUPPORT_H
#define KRO_TESTS_SECURITY_TLSTESTSUPPORT_H

#include "support/ProcessHarness.h"

#include <string>
#include <vector>

namespace KroTest
{
  using Arguments = std::vector<std::string>;

  // first followed by second.
  Arguments Joined(Arguments first, const Arguments& second);

  // How a client run to its end went: its exit status (-1 when it did not
  // end by itself in time) and its output, standard output then error.
  struct ClientRun
  {
    int code;
    std::string output;
  };

  // Runs the synchronous example client on the factory in iorFile, with a
  // call bound of 10 s and args, to its end (at most a minute).
  ClientRun RunSyncClient(const std::string& iorFile, const Arguments& args);

  // A certificate authority and the certificates it signs.
  class TestAuthority
  {
  public:
    // Makes the authority's own certificate and key; fails the test (a
    // gtest failure, not fatal to the caller) when openssl fails.
    explicit TestAuthority(const std::string& name);

    // The authority's certificate, for --tls-ca.
    std::string CaFile() const;
    // Makes a certificate whose subject is CN=name (name.pem) and its
    // unencrypted key (name.key). Use with ASSERT_NO_FATAL_FAILURE.
    void Issue(const std::string& name);
    // The options that present name's certificate.
    Arguments Identity(const std::string& name) const;

  private:
    std::string File(const std::string& file) const;

    TemporaryDirectory m_directory;  // the keys and certificates
    const std::string m_name;        // the authority's name, in every file name
  };
}

#endif
