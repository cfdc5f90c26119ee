// TLS across processes: the asynchronous example server on omniORB's SSL
// transport, with the example clients as its callers, and a CA of the
// test's own making (the openssl command, in a temporary directory).
#include "TlsTestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace
{
  using KroTest::Arguments;
  using KroTest::ClientRun;
  using KroTest::Joined;
  using KroTest::RunSyncClient;

  const std::string kCreated = "CalculatorFactory created a calculator for user";
  const Arguments kSslEndpoint = {"-ORBendPoint", "giop:ssl:127.0.0.1:"};

  class TlsProcessTest : public ::testing::Test
  {
  protected:
    void SetUp() override
    {
      ASSERT_NO_FATAL_FAILURE(m_ca.Issue("server"));
      ASSERT_NO_FATAL_FAILURE(m_ca.Issue("client"));
      ASSERT_NO_FATAL_FAILURE(m_stranger.Issue("intruder"));
    }

    // TLS options trusting the test's CA, presenting name's certificate
    // (none for an empty name).
    Arguments Tls(const std::string& name) const
    {
      const Arguments trust = {"--tls-ca", m_ca.CaFile()};
      return name.empty() ? trust : Joined(trust, m_ca.Identity(name));
    }

    KroTest::TestAuthority m_ca{"kro-test-ca"};            // trusted by the servers and clients
    KroTest::TestAuthority m_stranger{"kro-stranger-ca"};  // trusted by nobody
  };
}

// The server also listens in plain TCP (the harness's endpoint), so that a
// plain client really tries and is refused there.
TEST_F(TlsProcessTest, TlsOnlyServerWithClientCertificatesServesTheirHoldersAndRefusesEveryOtherCaller)
{
  KroTest::ServerProcess server(KRO_EXAMPLE_ASYNC_SERVER,
                                Joined(Joined(Tls("server"), {"--tls-only", "--tls-require-client-cert",
                                                              "--max-threads", "2", "--idle-seconds", "300"}),
                                       kSslEndpoint));

  // The whole example session: the callbacks come to the client's handlers,
  // which listen with TLS only, so they travel over TLS as well.
  KroTest::ChildProcess client(KRO_EXAMPLE_ASYNC_CLIENT,
                               Joined(Joined({"--ior-file", server.IorFile(), "--tls-only"}, Tls("client")),
                                      kSslEndpoint));
  const auto status = client.WaitForExit(120s);
  ASSERT_TRUE(status.has_value()) << client.Describe();
  EXPECT_TRUE(status->exited && status->code == 0) << client.Describe();
  const std::string said = client.Stdout().Text();
  EXPECT_NE(std::string::npos, said.find("client: summary: 3 finished, 2 cancelled, 1 failed\n")) << said;
  EXPECT_NE(std::string::npos, said.find("<- new handler")) << said;

  struct Refused
  {
    const char* who;
    Arguments args;
  };
  const Refused refused[] = {
    {"plain TCP client", {}},
    {"TLS client without a certificate", Joined(Tls(""), {"--tls-only"})},
    {"TLS client with a certificate of another CA",
     Joined({"--tls-ca", m_ca.CaFile(), "--tls-only"}, m_stranger.Identity("intruder"))},
  };
  for (const Refused& caller : refused)
  {
    const ClientRun run = RunSyncClient(server.IorFile(), caller.args);
    EXPECT_EQ(1, run.code) << caller.who << ":\n" << run.output;
    EXPECT_TRUE(run.output.find("failed: TRANSIENT") != std::string::npos ||
                run.output.find("failed: COMM_FAILURE") != std::string::npos)
      << caller.who << ":\n" << run.output;
  }

  // Only the certificate holder's request reached the factory.
  EXPECT_TRUE(server.Process().Stderr().WaitFor(kCreated, 10s, 1)) << server.Process().Stderr().Text();
  EXPECT_EQ(1, server.Process().Stderr().Count(kCreated)) << server.Process().Stderr().Text();
}

TEST_F(TlsProcessTest, ServerOfferingTlsBesidePlainTcpServesBothAndCallersWithoutCertificates)
{
  KroTest::ServerProcess server(KRO_EXAMPLE_ASYNC_SERVER,
                                Joined(Joined(Tls("server"), {"--idle-seconds", "300"}), kSslEndpoint));

  const ClientRun plain = RunSyncClient(server.IorFile(), {});
  EXPECT_EQ(0, plain.code) << plain.output;
  const ClientRun tlsWithoutCertificate = RunSyncClient(server.IorFile(), Joined(Tls(""), {"--tls-only"}));
  EXPECT_EQ(0, tlsWithoutCertificate.code) << tlsWithoutCertificate.output;
  // A certificate that is sent must still verify.
  const ClientRun stranger = RunSyncClient(
    server.IorFile(), Joined({"--tls-ca", m_ca.CaFile(), "--tls-only"}, m_stranger.Identity("intruder")));
  EXPECT_EQ(1, stranger.code) << stranger.output;

  EXPECT_TRUE(server.Process().Stderr().WaitFor(kCreated, 10s, 2)) << server.Process().Stderr().Text();
  EXPECT_EQ(2, server.Process().Stderr().Count(kCreated)) << server.Process().Stderr().Text();
}

// One server on its defaults: a TLS 1.2 handshake succeeds only with a
// forward-secret AEAD suite (the openssl command asks for one at a time).
TEST_F(TlsProcessTest, Tls12AgreesOnlyToForwardSecretAeadSuites)
{
  KroTest::ServerProcess server(KRO_EXAMPLE_ASYNC_SERVER,
                                Joined(Joined(Tls("server"), {"--idle-seconds", "300", "-ORBtraceLevel", "25"}),
                                       kSslEndpoint));
  const std::string log = server.Process().Stderr().Text();
  std::smatch found;
  ASSERT_TRUE(std::regex_search(log, found, std::regex("Publish endpoint 'giop:ssl:127\\.0\\.0\\.1:(\\d+)'"))) << log;
  const std::string address = "127.0.0.1:" + found[1].str();

  struct Suite
  {
    const char* name;
    bool agreed;
  };
  const Suite suites[] = {
    {"AES128-SHA", false},                   // static RSA, CBC
    {"AES256-GCM-SHA384", false},            // static RSA key exchange
    {"ECDHE-RSA-AES128-SHA", false},         // forward secret, but CBC with SHA-1
    {"ECDHE-RSA-AES128-GCM-SHA256", true},
    {"ECDHE-RSA-CHACHA20-POLY1305", true},
  };
  for (const Suite& suite : suites)
  {
    SCOPED_TRACE(suite.name);
    KroTest::ChildProcess handshake(KRO_OPENSSL, {"s_client", "-connect", address, "-tls1_2", "-cipher", suite.name});
    if (!handshake.WaitForExit(20s))
      handshake.Kill();
    ASSERT_TRUE(handshake.Stdout().WaitForEnd(5s));
    const bool agreed = handshake.Stdout().Text().find(std::string("Cipher is ") + suite.name) != std::string::npos;
    EXPECT_EQ(agreed, suite.agreed) << handshake.Describe();
  }
}

// A key that cannot be used ends the server with the reason, not with a
// guess at a taken port; an encrypted key opens with its pass phrase from a
// file or from the environment.
TEST_F(TlsProcessTest, KeyPassPhrasesComeFromFilesOrTheEnvironmentAndARefusedKeySaysSo)
{
  KroTest::TemporaryDirectory folder;
  const std::string plainKey = m_ca.Identity("server")[3];
  const std::string encryptedKey = folder.File("encrypted.key");
  KroTest::ChildProcess encrypt(KRO_OPENSSL, {"pkey", "-in", plainKey, "-aes256", "-passout", "pass:open sesame",
                                              "-out", encryptedKey});
  const auto encrypted = encrypt.WaitForExit(30s);
  ASSERT_TRUE(encrypted && encrypted->exited && encrypted->code == 0) << encrypt.Describe();
  const auto write = [&](const std::string& name, const std::string& text) {
    const std::string path = folder.File(name);
    std::ofstream(path) << text;
    ::chmod(path.c_str(), 0600);
    return path;
  };
  const std::string rightPass = write("right", "open sesame\n");
  const std::string wrongPass = write("wrong", "open barley\n");
  const std::string garbageKey = write("garbage.key", "not a key\n");

  struct Case
  {
    const char* name;
    Arguments args;
    const char* environment;  // KRO_TLS_KEY_PASSWORD, or null
    bool starts;
  };
  const std::string certificate = m_ca.Identity("server")[1];
  const Arguments trust = {"--tls-ca", m_ca.CaFile(), "--tls-cert", certificate, "--tls-key"};
  const Case cases[] = {
    {"pass phrase file", Joined(trust, {encryptedKey, "--tls-key-password-file", rightPass}), nullptr, true},
    {"pass phrase in the environment", Joined(trust, {encryptedKey}), "open sesame", true},
    {"wrong pass phrase", Joined(trust, {encryptedKey, "--tls-key-password-file", wrongPass}), nullptr, false},
    {"not a key", Joined(trust, {garbageKey}), nullptr, false},
  };
  for (const Case& c : cases)
  {
    SCOPED_TRACE(c.name);
    if (c.environment)
      ::setenv("KRO_TLS_KEY_PASSWORD", c.environment, 1);
    const std::string iorFile = folder.File(std::string(c.name) + ".ior");
    KroTest::ChildProcess server(KRO_EXAMPLE_ASYNC_SERVER,
                                 Joined(c.args, {"--ior-file", iorFile, "--idle-seconds", "300",
                                                 "-ORBendPoint", "giop:ssl:127.0.0.1:"}));
    ::unsetenv("KRO_TLS_KEY_PASSWORD");
    if (c.starts)
    {
      EXPECT_TRUE(KroTest::WaitForFile(iorFile, 20s, &server)) << server.Describe();
      EXPECT_FALSE(server.HasExited()) << server.Describe();
      server.Kill();
      continue;
    }
    const auto exit = server.WaitForExit(20s);
    ASSERT_TRUE(exit) << server.Describe();
    EXPECT_TRUE(exit->exited && exit->code == 1) << server.Describe();
    ASSERT_TRUE(server.Stderr().WaitForEnd(5s));
    EXPECT_NE(server.Stderr().Text().find("TLS: cannot use the private key"), std::string::npos) << server.Describe();
    EXPECT_EQ(server.Stderr().Text().find("is the port taken?"), std::string::npos) << server.Describe();
  }
}
