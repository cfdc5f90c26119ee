#include "TlsTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>

namespace KroTest
{
  namespace
  {
    // Runs the openssl command to its end; fails the test when it fails.
    void OpenSsl(const Arguments& args)
    {
      ChildProcess openssl(KRO_OPENSSL, args);
      const auto status = openssl.WaitForExit(std::chrono::seconds(60));
      ASSERT_TRUE(status && status->exited && status->code == 0) << openssl.Describe();
    }
  }

  Arguments Joined(Arguments first, const Arguments& second)
  {
    first.insert(first.end(), second.begin(), second.end());
    return first;
  }

  ClientRun RunSyncClient(const std::string& iorFile, const Arguments& args)
  {
    ChildProcess client(KRO_EXAMPLE_SYNC_CLIENT, Joined({"--ior-file", iorFile, "--timeout-ms", "10000"}, args));
    const auto status = client.WaitForExit(std::chrono::seconds(60));
    if (!status || !status->exited)
      return {-1, client.Describe()};
    return {status->code, client.Stdout().Text() + client.Stderr().Text()};
  }

  TestAuthority::TestAuthority(const std::string& name) : m_name(name)
  {
    OpenSsl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=" + name,
             "-keyout", File("ca.key"), "-out", CaFile()});
  }

  std::string TestAuthority::CaFile() const { return File("ca.pem"); }

  void TestAuthority::Issue(const std::string& name)
  {
    OpenSsl({"req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=" + name, "-keyout", File(name + ".key"),
             "-out", File(name + ".csr")});
    OpenSsl({"x509", "-req", "-days", "2", "-in", File(name + ".csr"), "-CA", CaFile(), "-CAkey", File("ca.key"),
             "-CAcreateserial", "-out", File(name + ".pem")});
  }

  Arguments TestAuthority::Identity(const std::string& name) const
  {
    return {"--tls-cert", File(name + ".pem"), "--tls-key", File(name + ".key")};
  }

  std::string TestAuthority::File(const std::string& file) const { return m_directory.File(m_name + "-" + file); }
}
