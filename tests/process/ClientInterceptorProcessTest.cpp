// The client request interceptor across processes. This test process runs
// the library's client interceptor on its own ORB (initialised through
// KroSystem, as a server of the family would) and calls real KroProbeServers
// on 127.0.0.1, which log the user-token context of every request they
// receive as it arrived.
//
// Behind the library's interceptor the test installs a second one that
// overwrites the calling thread's token and current operation once the
// request is on its way, as nested requests served by a waiting thread would.
// Whatever ends the call (a reply, a user exception, a time-out, a dead
// server), the thread must find its own state again.
#include "support/LogLines.h"
#include "ProbeText.h"
#include "support/ProcessHarness.h"

#include "Probe.hh"

#include "KroDazadared/KroSystem.h"
#include "KroServer/KroClientInterceptor.h"
#include "KroServer/KroClient_ORBInitializer.h"
#include "KroServer/OperationHandles.h"
#include "KroServer/OpnType.h"
#include "KroServer/SynchronousOperation.h"
#include "OrbLayer/ClientRequestInterceptor.h"
#include "OrbLayer/ORBInitInfo.h"
#include "OrbLayer/ORBInitializer.h"

#include "Dazadared/threadLocalUserPacket.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using Krovane::SynchronousOperation;

namespace
{
  // What the scrambling interceptor does and has seen; the test's thread
  // sets it, the interceptor runs in that same thread.
  struct Scrambling
  {
    std::atomic<bool> operation{false};  // overwrite the current operation on send
    std::atomic<bool> token{false};      // overwrite the user token on send
    std::atomic<int> sent{0};            // send_request calls
    std::atomic<int> replies{0};         // receive_reply calls
    std::atomic<int> exceptions{0};      // receive_exception calls
  };
  Scrambling s_scrambling;

  // Stands for the requests a waiting thread would serve meanwhile.
  SynchronousOperation s_strangerOperation(CORBA::Object::_nil(), "Stranger");

  class ScramblingInterceptor : public virtual PortableInterceptor::ClientRequestInterceptor
  {
  public:
    char* name() override { return CORBA::string_dup("ScramblingInterceptor"); }
    void destroy() override {}

    void send_request(PortableInterceptor::ClientRequestInfo_ptr) override
    {
      ++s_scrambling.sent;
      if (s_scrambling.operation.load())
        Krovane::threadLocalOperation->m_operation = &s_strangerOperation;
      if (s_scrambling.token.load())
        Halvern_Utilities::threadLocalUserPacket->SetToken("stranger");
    }
    void send_poll(PortableInterceptor::ClientRequestInfo_ptr) override {}
    void receive_reply(PortableInterceptor::ClientRequestInfo_ptr) override { ++s_scrambling.replies; }
    void receive_exception(PortableInterceptor::ClientRequestInfo_ptr) override { ++s_scrambling.exceptions; }
    void receive_other(PortableInterceptor::ClientRequestInfo_ptr) override {}

  protected:
    ~ScramblingInterceptor() override {}
  };

  class ScramblingInitializer : public virtual PortableInterceptor::ORBInitializer
  {
  public:
    void pre_init(PortableInterceptor::ORBInitInfo*) override {}
    void post_init(PortableInterceptor::ORBInitInfo* info) override
    {
      PortableInterceptor::ClientRequestInterceptor_var interceptor = new ScramblingInterceptor;
      info->add_client_request_interceptor(interceptor.in());
    }

  protected:
    ~ScramblingInitializer() override {}
  };

  // The process ORB, with the library's client interceptor and then the
  // scrambling one; destroyed when the test program ends.
  class InterceptedOrbEnvironment : public ::testing::Environment
  {
  public:
    void SetUp() override
    {
      PortableInterceptor::ClientRequestInterceptor_var interceptor = new Krovane::KroClientInterceptor;
      PortableInterceptor::ORBInitializer_var library = new Krovane::KroClient_ORBInitializer(interceptor.in());
      PortableInterceptor::register_orb_initializer(library.in());
      PortableInterceptor::ORBInitializer_var scrambling = new ScramblingInitializer;
      PortableInterceptor::register_orb_initializer(scrambling.in());

      const char* options[] = {"kro-client-interceptor-test",
                               "-ORBendPoint", "giop:tcp:127.0.0.1:",
                               "-ORBclientCallTimeOutPeriod", "20000",
                               nullptr};
      int argc = 5;
      Krovane::KroSystem::Instance(1)->InitOrb(argc, const_cast<char**>(options));
    }

    void TearDown() override
    {
      Krovane::KroSystem::Instance(1)->Destroy();
    }
  };

  ::testing::Environment* const s_environment =
    ::testing::AddGlobalTestEnvironment(new InterceptedOrbEnvironment);

  CORBA::Object_ptr ObjectFromIor(const std::string& ior)
  {
    CORBA::ORB_var orb = Krovane::KroSystem::Instance(1)->GetOrb();
    return orb->string_to_object(ior.c_str());
  }

  std::string ThreadToken()
  {
    return Halvern_Utilities::threadLocalUserPacket->GetToken();
  }

  // The handle of operation as the context carries it, in hex.
  std::string HandleHex(SynchronousOperation* operation)
  {
    const CORBA::ULong handle = Krovane::OperationHandles::HandleOf(operation);
    return KroProbe::Hex(std::string(reinterpret_cast<const char*>(&handle), sizeof handle));
  }

  // A probe server and one of its objects; the thread's state is cleared
  // after each test.
  class ClientInterceptor : public ::testing::Test
  {
  protected:
    ClientInterceptor() : m_server(KRO_PROBE_SERVER, {"--log-contexts"}) {}

    void SetUp() override
    {
      m_probe = CreateProbe(m_server, "alice");
      s_scrambling.operation = false;
      s_scrambling.token = false;
    }

    void TearDown() override
    {
      s_scrambling.operation = false;
      s_scrambling.token = false;
      Halvern_Utilities::threadLocalUserPacket->SetToken("");
      Krovane::threadLocalOperation->m_operation = nullptr;
    }

    static KroProbe::IProbe_ptr CreateProbe(KroTest::ServerProcess& server, const std::string& token)
    {
      CORBA::Object_var object = ObjectFromIor(server.Ior());
      Krovane::IServerFactory_var factory = Krovane::IServerFactory::_narrow(object.in());
      Krovane::ISyncServer_var created = factory->CreateObject(KroTest::Token(token));
      return KroProbe::IProbe::_narrow(created.in());
    }

    // The user-token contexts of the server's UserTokenSeen requests, in
    // hex, once it has logged count of them.
    static std::vector<std::string> ReceivedContexts(KroTest::ServerProcess& server, int count)
    {
      const std::string head = " ProbeServer UserTokenSeen context 0xDEADBEEF: ";
      EXPECT_TRUE(server.Process().Stderr().WaitFor(")" + head, 20s, count)) << server.Process().Describe();
      std::vector<std::string> contexts;
      const std::string log = server.Process().Stderr().Text();
      for (const std::string& line : KroTest::PrefixedLines(log, server.Process().Pid()))
        if (line.compare(0, head.size(), head) == 0)
          contexts.push_back(line.substr(head.size()));
      return contexts;
    }

    void SetThread(const std::string& token, SynchronousOperation* operation)
    {
      Halvern_Utilities::threadLocalUserPacket->SetToken(token);
      Krovane::threadLocalOperation->m_operation = operation;
    }

    KroTest::ServerProcess m_server;
    KroProbe::IProbe_var m_probe;
    SynchronousOperation m_operation{CORBA::Object::_nil(), "Outer"};
  };

  const std::string kAliceSeen = KroProbe::Hex(std::string("alice"));
}

TEST_F(ClientInterceptor, ContextCarriesTheOperationAndEveryOctetOfTheToken)
{
  SetThread("", nullptr);
  CORBA::String_var seen = m_probe->UserTokenSeen();
  EXPECT_EQ(kAliceSeen, seen.in());  // the server takes the user from its object

  SetThread(std::string("ab\0cd", 5), &m_operation);
  seen = m_probe->UserTokenSeen();
  EXPECT_EQ(kAliceSeen, seen.in());

  SetThread("bob", nullptr);
  seen = m_probe->UserTokenSeen();
  EXPECT_EQ(kAliceSeen, seen.in());

  const std::vector<std::string> contexts = ReceivedContexts(m_server, 3);
  ASSERT_EQ(3u, contexts.size()) << m_server.Process().Describe();
  EXPECT_EQ("00000000", contexts[0]);                              // 4 octets: no operation, no token
  EXPECT_EQ(HandleHex(&m_operation) + "6162006364", contexts[1]);  // the NUL is an octet like any other
  EXPECT_EQ("00000000" "626f62", contexts[2]);
  EXPECT_NE("00000000", HandleHex(&m_operation));
}

TEST_F(ClientInterceptor, ThreadGetsItsStateBackAfterReplyUserExceptionAndTimeOut)
{
  // A token with a NUL inside, left alone during the call, is kept whole.
  SetThread(std::string("bob\0x", 5), &m_operation);
  s_scrambling.operation = true;
  const int replies = s_scrambling.replies;
  const int exceptions = s_scrambling.exceptions;

  CORBA::String_var seen = m_probe->UserTokenSeen();
  EXPECT_EQ(kAliceSeen, seen.in());
  EXPECT_EQ(std::string("bob\0x", 5), ThreadToken());
  EXPECT_EQ(&m_operation, Krovane::threadLocalOperation->m_operation);
  EXPECT_EQ(replies + 1, s_scrambling.replies);

  // Overwritten during the call, it comes back as it was sent: every octet.
  s_scrambling.token = true;
  const std::string token("bob\0x", 5);
  seen = m_probe->UserTokenSeen();
  EXPECT_EQ(token, ThreadToken());
  EXPECT_EQ(&m_operation, Krovane::threadLocalOperation->m_operation);
  EXPECT_EQ(replies + 2, s_scrambling.replies);

  EXPECT_THROW(m_probe->Fail("no"), Krovane::SysException);
  EXPECT_EQ(token, ThreadToken());
  EXPECT_EQ(&m_operation, Krovane::threadLocalOperation->m_operation);
  EXPECT_EQ(exceptions + 1, s_scrambling.exceptions);

  // A time-out is raised in this process; the server's work goes on until
  // released.
  omniORB::setClientCallTimeout(m_probe.in(), 200);
  EXPECT_THROW(m_probe->Work(20000), CORBA::TIMEOUT);
  EXPECT_EQ(token, ThreadToken());
  EXPECT_EQ(&m_operation, Krovane::threadLocalOperation->m_operation);
  EXPECT_EQ(exceptions + 2, s_scrambling.exceptions);
  omniORB::setClientCallTimeout(m_probe.in(), 20000);
  m_probe->ReleaseWork();
  EXPECT_TRUE(m_server.Process().Stderr().WaitFor(") ProbeObject Work released\n", 20s));
}

TEST_F(ClientInterceptor, ThreadGetsItsStateBackWhenTheServerIsGone)
{
  CORBA::String_var seen = m_probe->UserTokenSeen();  // a connection is open
  m_server.Process().Kill();

  SetThread("carol", &m_operation);
  s_scrambling.operation = true;
  s_scrambling.token = true;
  const int exceptions = s_scrambling.exceptions;

  // Through the connection the server left behind (COMM_FAILURE), then with
  // no server to connect to (TRANSIENT).
  for (int attempt = 0; attempt < 2; ++attempt)
  {
    EXPECT_THROW(m_probe->UserTokenSeen(), CORBA::SystemException) << "attempt " << attempt;
    EXPECT_EQ("carol", ThreadToken()) << "attempt " << attempt;
    EXPECT_EQ(&m_operation, Krovane::threadLocalOperation->m_operation) << "attempt " << attempt;
  }
  EXPECT_EQ(exceptions + 2, s_scrambling.exceptions);
}

TEST_F(ClientInterceptor, ServerCallingAnotherServerSendsItsObjectsUserAndGetsItsStateBack)
{
  KroTest::ServerProcess caller(KRO_PROBE_SERVER, {"--client-interceptor"});
  KroProbe::IProbe_var callerProbe = CreateProbe(caller, "carol");

  CORBA::String_var report = callerProbe->CallOther(m_probe.in());
  EXPECT_EQ("inner " + kAliceSeen + ", token kept, operation kept", std::string(report.in()));

  // The caller's request thread sends its request's handle and its object's
  // user, exactly the octets the client gave (nothing added).
  const std::vector<std::string> contexts = ReceivedContexts(m_server, 1);
  ASSERT_EQ(1u, contexts.size()) << m_server.Process().Describe();
  ASSERT_EQ(8u + 10u, contexts[0].size()) << contexts[0];
  EXPECT_NE("00000000", contexts[0].substr(0, 8));
  EXPECT_EQ(KroProbe::Hex("carol"), contexts[0].substr(8));

  // A failed nested call gives the thread its state back as well.
  m_server.Process().Kill();
  report = callerProbe->CallOther(m_probe.in());
  const std::string failed = report.in();
  EXPECT_TRUE(failed == "inner COMM_FAILURE, token kept, operation kept" ||
              failed == "inner TRANSIENT, token kept, operation kept") << failed;
  EXPECT_EQ(1, callerProbe->NumOperationsSeen());
}
