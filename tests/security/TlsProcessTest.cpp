// TLS across processes: the asynchronous example server on omniORB's SSL
// transport, with the example clients as its callers, and a CA of the
// test's own making (the openssl command, in a temporary directory).
#include "TlsTestSupport.h"

#include <gtest/gtest.h>

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
