// Users bound to client certificates, across processes: the asynchronous
// example server with TLS only, client certificates required and
// --user-from-cert serves a caller as the CN of its certificate and as no
// other user, on CreateObject and on UpdateUserToken alike.
#include "TlsTestSupport.h"

#include <gtest/gtest.h>

#include <string>

using namespace std::chrono_literals;

namespace
{
  using KroTest::Arguments;
  using KroTest::Joined;

  const Arguments kSslEndpoint = {"-ORBendPoint", "giop:ssl:127.0.0.1:"};
  const std::string kRefused = "failed: NO_PERMISSION";

  // A line of the server's log, after its process and thread prefix.
  std::string Logged(const std::string& text) { return ") " + text + "\n"; }

  std::string CreatedFor(const std::string& user)
  {
    return Logged("CalculatorFactory created a calculator for user \"" + user + "\"");
  }

  // One run of the synchronous example client: CreateObject(token), then
  // UpdateUserToken(newToken), with certificate's identity.
  struct Caller
  {
    const char* what;
    std::string certificate;  // the CN of the certificate it presents
    std::string token;        // the user it asks for
    std::string newToken;     // the user it renames itself to
    bool created;             // CreateObject is accepted
    bool renamed;             // UpdateUserToken is accepted
  };
}

TEST(CertificateUsers, ACallerIsServedAsItsCertificatesCommonNameAndAsNoOtherUser)
{
  KroTest::TestAuthority ca("kro-users-ca");
  for (const char* name : {"server", "alice", "bob"})
    ASSERT_NO_FATAL_FAILURE(ca.Issue(name));
  const auto tls = [&](const std::string& name) {
    return Joined({"--tls-ca", ca.CaFile(), "--tls-only"}, ca.Identity(name));
  };

  // The example session counts on the server's default pace (its cancels
  // aim at operations that still wait or run).
  KroTest::ServerProcess server(
    KRO_EXAMPLE_ASYNC_SERVER,
    Joined(Joined(tls("server"), {"--tls-require-client-cert", "--user-from-cert", "--idle-seconds", "300"}),
           kSslEndpoint));
  const KroTest::OutputCollector& log = server.Process().Stderr();

  // alice's whole example session: its computations run as alice.
  KroTest::ChildProcess session(
    KRO_EXAMPLE_ASYNC_CLIENT,
    Joined(Joined({"--ior-file", server.IorFile(), "--token", "alice"}, tls("alice")), kSslEndpoint));
  const auto status = session.WaitForExit(120s);
  ASSERT_TRUE(status.has_value()) << session.Describe();
  EXPECT_TRUE(status->exited && status->code == 0) << session.Describe();
  EXPECT_TRUE(log.WaitFor(Logged("operation 1: pi in 12 steps for \"alice\""), 10s)) << log.Text();

  const Caller callers[] = {
    {"alice as alice", "alice", "alice", "alice", true, true},
    {"bob asking for alice", "bob", "alice", "bob", false, false},
    {"bob renaming itself alice", "bob", "bob", "alice", true, false},
  };
  for (const Caller& caller : callers)
  {
    SCOPED_TRACE(caller.what);
    const KroTest::ClientRun run = KroTest::RunSyncClient(
      server.IorFile(), Joined({"--token", caller.token, "--new-token", caller.newToken}, tls(caller.certificate)));
    const bool refused = !caller.created || !caller.renamed;
    EXPECT_EQ(refused ? 1 : 0, run.code) << run.output;
    EXPECT_EQ(refused, run.output.find(kRefused) != std::string::npos) << run.output;
    EXPECT_EQ(caller.created, run.output.find("CreateObject(\"" + caller.token + "\") -> a server object") !=
                                std::string::npos) << run.output;
    EXPECT_EQ(caller.renamed, run.output.find("UpdateUserToken(\"" + caller.newToken + "\") -> done") !=
                                std::string::npos) << run.output;
  }

  // Only the certificates' own users were made; both refusals name the CN
  // (the log reaches us on its own pipe, perhaps after the client's end).
  EXPECT_TRUE(log.WaitFor(CreatedFor("alice"), 10s, 2)) << log.Text();
  EXPECT_EQ(2, log.Count(CreatedFor("alice"))) << log.Text();
  EXPECT_EQ(1, log.Count(CreatedFor("bob"))) << log.Text();
  EXPECT_EQ(2, log.Count(Logged("CertificateUserVerifier: token is not the certificate's CN \"bob\"; refused")))
    << log.Text();
}
