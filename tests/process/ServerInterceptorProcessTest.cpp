// The server request interceptor across processes: a real KroProbeServer on
// 127.0.0.1, called by this test process through its own plain ORB (no
// interceptors of its own). The probe objects report what the interceptor
// did to the thread that ran each request.
#include "support/ClientOrb.h"
#include "support/LogLines.h"
#include "ProbeText.h"
#include "support/ProcessHarness.h"

#include "Probe.hh"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>

using namespace std::chrono_literals;

namespace
{
  // How a request that the test runs in another thread ended.
  enum class Ending { Returned, Cancelled, OtherUserException, SystemException };

  // Runs probe->Work(maxMilliseconds) in a thread of its own.
  std::future<Ending> WorkInAnotherThread(KroProbe::IProbe_ptr probe, CORBA::Long maxMilliseconds)
  {
    KroProbe::IProbe_var own = KroProbe::IProbe::_duplicate(probe);
    return std::async(std::launch::async, [own, maxMilliseconds]()
    {
      try
      {
        own->Work(maxMilliseconds);
        return Ending::Returned;
      }
      catch (const Krovane::OperationCancelled&)
      {
        return Ending::Cancelled;
      }
      catch (const CORBA::UserException&)
      {
        return Ending::OtherUserException;
      }
      catch (const CORBA::SystemException&)
      {
        return Ending::SystemException;
      }
    });
  }

  class ServerInterceptor : public ::testing::Test
  {
  protected:
    ServerInterceptor() : m_server(KRO_PROBE_SERVER)
    {
      CORBA::Object_var object = KroTest::ObjectFromIor(m_server.Ior());
      m_factory = Krovane::IServerFactory::_narrow(object.in());
    }

    // Every test ends with a clean stop of the server: no crash, no leak
    // report, exit code 0.
    void TearDown() override
    {
      const auto status = m_server.Stop(20s);
      ASSERT_TRUE(status.has_value()) << Describe();
      EXPECT_TRUE(status->exited && status->code == 0) << Describe();
    }

    KroProbe::IProbe_ptr CreateProbe(const std::string& token)
    {
      Krovane::ISyncServer_var server = m_factory->CreateObject(KroTest::Token(token));
      return KroProbe::IProbe::_narrow(server.in());
    }

    // Waits until the server has logged body (after its prefix) times times.
    bool WaitForLog(const std::string& body, int times = 1)
    {
      return m_server.Process().Stderr().WaitFor(") " + body.substr(1) + "\n", 20s, times);
    }

    // Waits until the server has printed text (on its standard output).
    bool WaitForPrinted(const std::string& text)
    {
      return m_server.Process().Stdout().WaitFor(text, 20s);
    }

    // The server's output is read as it comes: once the ping that follows
    // them is in, every line logged before it is in as well.
    void Settle(KroProbe::IProbe_ptr probe)
    {
      const std::string marker = ") ProbeObject ping: ";
      const int seen = m_server.Process().Stderr().Count(marker);
      probe->ping();
      ASSERT_TRUE(m_server.Process().Stderr().WaitFor(marker, 20s, seen + 1)) << Describe();
    }

    int CountLog(const std::string& body)
    {
      return KroTest::CountPrefixed(Log(), m_server.Process().Pid(), body);
    }

    std::string Log() { return m_server.Process().Stderr().Text(); }
    std::string Printed() { return m_server.Process().Stdout().Text(); }
    std::string Describe() { return m_server.Process().Describe(); }

    KroTest::ServerProcess m_server;
    Krovane::IServerFactory_var m_factory;
  };

  const std::string kWorkStarted = " ProbeObject Work started as Work";
  const std::string kNotValid = "Operation::Cancel() Thread isn't valid.";
}

TEST_F(ServerInterceptor, RequestRunsAsTheObjectsUserAndIsRecordedWhileItRuns)
{
  KroProbe::IProbe_var alice = CreateProbe("alice");
  KroProbe::IProbe_var bob = CreateProbe(std::string("b\0b", 3));

  // The token as SetUserToken stored it: its octets, nothing added.
  CORBA::String_var seen = alice->UserTokenSeen();
  EXPECT_EQ(KroProbe::Hex(std::string("alice")), seen.in());
  seen = bob->UserTokenSeen();
  EXPECT_EQ(KroProbe::Hex(std::string("b\0b", 3)), seen.in());
  seen = alice->UserTokenSeen();
  EXPECT_EQ(KroProbe::Hex(std::string("alice")), seen.in());

  // Only the request itself is recorded, however many came before it.
  EXPECT_EQ(1, alice->NumOperationsSeen());
  EXPECT_EQ(1, alice->NumOperationsSeen());

  // A new token is the user of the object's next requests.
  alice->UpdateUserToken(KroTest::Token("carol"));
  seen = alice->UserTokenSeen();
  EXPECT_EQ(KroProbe::Hex(std::string("carol")), seen.in());

  // The factory is no server object: its requests run as nobody.
  Settle(alice.in());
  EXPECT_EQ(2, CountLog(" ProbeFactory CreateObject: thread token \"\", current operation none")) << Describe();

  // A call between objects of this process gives the caller its state back.
  CORBA::String_var report = alice->CallOther(bob.in());
  EXPECT_EQ("inner " + KroProbe::Hex(std::string("b\0b", 3)) + ", token kept, operation kept",
            std::string(report.in()));
  EXPECT_EQ(1, alice->NumOperationsSeen());
  EXPECT_EQ(1, bob->NumOperationsSeen());
}

TEST_F(ServerInterceptor, PingOnlyMarksTheProcessAsUsed)
{
  KroProbe::IProbe_var probe = CreateProbe("alice");
  probe->ping();
  ASSERT_TRUE(WaitForLog(" ProbeObject ping: operations 0, current operation none, token \"\"")) << Describe();

  // A ping beside a running request sees that request only.
  std::future<Ending> work = WorkInAnotherThread(probe.in(), 20000);
  ASSERT_TRUE(WaitForLog(kWorkStarted)) << Describe();
  probe->ping();
  EXPECT_TRUE(WaitForLog(" ProbeObject ping: operations 1, current operation none, token \"\"")) << Describe();
  probe->ReleaseWork();
  ASSERT_EQ(std::future_status::ready, work.wait_for(20s));
  EXPECT_EQ(Ending::Returned, work.get());
  EXPECT_EQ(1, probe->NumOperationsSeen());
}

TEST_F(ServerInterceptor, CancelAllOperationsStopsARequestRunningInAnotherThread)
{
  KroProbe::IProbe_var probe = CreateProbe("alice");
  std::future<Ending> work = WorkInAnotherThread(probe.in(), 20000);
  ASSERT_TRUE(WaitForLog(kWorkStarted)) << Describe();
  EXPECT_EQ(2, probe->NumOperationsSeen());

  probe->CancelAllOperations();
  ASSERT_EQ(std::future_status::ready, work.wait_for(20s)) << Describe();
  EXPECT_EQ(Ending::Cancelled, work.get());

  // The request's thread is the ORB's, yet the cancellation reaches the job
  // the request registered. The canceller itself is not in the list, so
  // exactly one record was cancelled.
  Settle(probe.in());
  EXPECT_EQ(0, KroTest::CountLines(Log(), kNotValid)) << Describe();
  EXPECT_EQ(1, CountLog(" ProbeObject Work's job cancelled")) << Describe();
  EXPECT_EQ(1, CountLog(" Operation::Cancel(): Set state to Cancelled")) << Describe();
  EXPECT_EQ(1, CountLog(" ProbeObject Work cancelled")) << Describe();
  EXPECT_EQ(1, probe->NumOperationsSeen());

  // Cancelling with nothing running cancels nothing.
  probe->CancelAllOperations();
  Settle(probe.in());
  EXPECT_EQ(1, CountLog(" Operation::Cancel(): Set state to Cancelled")) << Describe();
}

TEST_F(ServerInterceptor, RemoveIsRefusedWhileAnotherRequestRunsThenTakesTheObjectAway)
{
  KroProbe::IProbe_var probe = CreateProbe("alice");
  std::future<Ending> work = WorkInAnotherThread(probe.in(), 20000);
  ASSERT_TRUE(WaitForLog(kWorkStarted)) << Describe();

  EXPECT_THROW(probe->Remove(), Krovane::OperationsStillActive);
  // The refused Remove left nothing behind and the object serves on.
  EXPECT_EQ(2, probe->NumOperationsSeen());
  CORBA::String_var seen = probe->UserTokenSeen();
  EXPECT_EQ(KroProbe::Hex(std::string("alice")), seen.in());

  probe->ReleaseWork();
  ASSERT_EQ(std::future_status::ready, work.wait_for(20s)) << Describe();
  EXPECT_EQ(Ending::Returned, work.get());

  probe->Remove();
  EXPECT_TRUE(WaitForLog(" ProbeObject destroyed")) << Describe();
  EXPECT_EQ(1, CountLog(" ServerObjectTable::RemoveObject() removed object")) << Describe();
  EXPECT_THROW(probe->ping(), CORBA::OBJECT_NOT_EXIST);
  EXPECT_THROW(probe->NumOperationsSeen(), CORBA::OBJECT_NOT_EXIST);
  EXPECT_EQ("", Printed());
}

TEST_F(ServerInterceptor, RemoveOfAnObjectAlreadyDeactivatedIsReportedAndStillAnswered)
{
  KroProbe::IProbe_var probe = CreateProbe("alice");
  probe->DeactivateOnRemove();
  probe->Remove();
  EXPECT_TRUE(WaitForLog(" ProbeObject destroyed")) << Describe();
  const std::string printed = "SyncServerImpl has already been deactivated\n"
                              "ObjectNotActive (IDL:omg.org/PortableServer/POA/ObjectNotActive:1.0)\n";
  EXPECT_TRUE(WaitForPrinted(printed)) << Describe();
  EXPECT_EQ(printed, Printed());
  EXPECT_THROW(probe->ping(), CORBA::OBJECT_NOT_EXIST);
}

TEST_F(ServerInterceptor, ExceptionHolderAnswersOneRaiseAndUserExceptionsEndTheirRecords)
{
  KroProbe::IProbe_var probe = CreateProbe("alice");
  Krovane::IAsyncExceptionHolder_var holder = probe->CreateExceptionHolder("disk full");

  try
  {
    holder->raise();
    ADD_FAILURE() << "raise() returned";
  }
  catch (const Krovane::SysException& ex)
  {
    EXPECT_STREQ("disk full", ex.reason.in());
  }
  EXPECT_TRUE(WaitForLog(" ProbeExceptionHolder destroyed")) << Describe();
  EXPECT_THROW(holder->raise(), CORBA::OBJECT_NOT_EXIST);

  // The holder is no server object: its request ran as nobody, unrecorded.
  EXPECT_EQ(1, CountLog(" ProbeExceptionHolder raise: thread token \"\", current operation none")) << Describe();
  EXPECT_EQ(1, probe->NumOperationsSeen());

  // A user exception of the server object ends its record all the same.
  for (int i = 0; i < 3; ++i)
    EXPECT_THROW(probe->Fail("no"), Krovane::SysException);
  EXPECT_EQ(1, probe->NumOperationsSeen());
  probe->Remove();  // no record of the failed requests is left to refuse it
  EXPECT_TRUE(WaitForLog(" ProbeObject destroyed")) << Describe();
}

TEST_F(ServerInterceptor, RequestWhoseSetUpFailsStillRunsAndLeavesNothingBehind)
{
  // Both kinds of failure are reported, each in its own way.
  const std::string unknown = "Unknown Exception in KroServerInterceptor::receive_request";
  const std::string printed = "KroServerInterceptor::receive_request\n"
                              "NO_PERMISSION (IDL:omg.org/CORBA/NO_PERMISSION:1.0), minor 0x0, completed NO\n";
  for (const std::string how : {"std", "corba"})
  {
    SCOPED_TRACE(how);
    KroProbe::IProbe_var probe = CreateProbe("alice");
    probe->RefuseUserPacket(how.c_str());

    // The record is made and listed before the user is looked up; the
    // request then runs without a user and is not the thread's operation.
    EXPECT_EQ(1, probe->NumOperationsSeen());
    CORBA::String_var seen = probe->UserTokenSeen();
    EXPECT_EQ("", std::string(seen.in()));
    probe->RefuseUserPacket("");  // its own set-up fails too

    // Nothing of the failed requests is left: neither a record on the
    // object nor a user on the thread.
    EXPECT_EQ(1, probe->NumOperationsSeen());
    seen = probe->UserTokenSeen();
    EXPECT_EQ(KroProbe::Hex(std::string("alice")), seen.in());
    probe->Remove();
    EXPECT_TRUE(WaitForLog(" ProbeObject destroyed", how == "std" ? 1 : 2)) << Describe();
  }

  EXPECT_EQ(3, KroTest::CountLines(Log(), unknown)) << Describe();
  EXPECT_TRUE(m_server.Process().Stdout().WaitFor(printed, 20s, 3)) << Describe();
  KroProbe::IProbe_var probe = CreateProbe("bob");
  Settle(probe.in());
  EXPECT_EQ(3, KroTest::CountLines(Log(), unknown)) << Describe();
  EXPECT_EQ(3, m_server.Process().Stdout().Count(printed)) << Describe();
}

TEST_F(ServerInterceptor, RequestsToAnObjectBeingDeactivatedEndCleanly)
{
  KroProbe::IProbe_var probe = CreateProbe("alice");
  KroProbe::IProbe_var other = CreateProbe("bob");
  std::future<Ending> work = WorkInAnotherThread(probe.in(), 20000);
  ASSERT_TRUE(WaitForLog(kWorkStarted)) << Describe();

  // The running Work keeps the deactivated servant; requests that still
  // reach it are served as its user and recorded on it.
  probe->Deactivate();
  ASSERT_TRUE(WaitForLog(" ProbeObject deactivated")) << Describe();
  CORBA::String_var seen = probe->UserTokenSeen();
  EXPECT_EQ(KroProbe::Hex(std::string("alice")), seen.in());
  EXPECT_EQ(2, probe->NumOperationsSeen());

  // The Work ends normally; its record leaves the servant it ran on before
  // the servant goes (which would otherwise delete it a second time).
  other->ReleaseWork();
  ASSERT_EQ(std::future_status::ready, work.wait_for(20s)) << Describe();
  EXPECT_EQ(Ending::Returned, work.get());
  EXPECT_TRUE(WaitForLog(" ProbeObject destroyed")) << Describe();
  EXPECT_THROW(probe->ping(), CORBA::OBJECT_NOT_EXIST);
}
