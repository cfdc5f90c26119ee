// The relay in one process: what each of the twelve callbacks does with
// each kind of failure of the client's handler, whether it is called on the
// servant, through an operation's RelayLink straight to the servant or
// through the link's reference, and in the non-waiting delivery; and how
// the time-out is formed and replaced (the exception holders are tested across processes,
// in RelayProcessTest). The client's handler here is a local servant whose failures are
// scripted; RelayProcessTest shows the same failures arising for real.
#include "support/LogCapture.h"

#include "KroDazadared/KroSystem.h"
#include "KroServer/AsyncExceptionHolderImpl.h"
#include "KroServer/AsynchronousHandler.h"
#include "KroServer/RelayDelivery.h"
#include "KroServer/RelayLink.h"
#include "KroServer/ServerMetrics.h"
#include "OrbLayer/PrintException.h"
#include "OrbLayer/RoundtripTimeoutPolicy.h"

#include <omniORB4/minorCode.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace
{
  // The process ORB, through KroSystem, for the whole program.
  class OrbEnvironment : public ::testing::Environment
  {
  public:
    void SetUp() override
    {
      static char program[] = "ClientCallbacksTest";
      char* argv[] = {program, nullptr};
      int argc = 1;
      Krovane::KroSystem::Instance(1)->InitOrb(argc, argv);
    }
    void TearDown() override { Krovane::KroSystem::Instance(1)->Destroy(); }
  };
  ::testing::Environment* const s_environment = ::testing::AddGlobalTestEnvironment(new OrbEnvironment);

  // How the scripted handler answers.
  enum class Reply { Answer, TimeOut, Fail, FailOnce, Refuse, Crash };  // FailOnce: then Answer

  // A client's handler that answers every callback as told and counts them.
  class ScriptedHandler : public virtual POA_Krovane::IAsyncHandler,
                          public virtual PortableServer::RefCountServantBase
  {
  public:
    void Queued(CORBA::Long position) override
    {
      {
        std::lock_guard<std::mutex> guard(m_positionsLock);
        m_positions.push_back(position);
      }
      Act();
    }
    void Status(const char*) override { Act(); }
    void Progress(CORBA::Double) override { Act(); }
    void Results(const CORBA::Any&) override { Act(); }
    void Finished(const CORBA::Any&) override { Act(); }
    void Error(Krovane::IAsyncExceptionHolder_ptr) override { Act(); }
    void SyncQueued(CORBA::Long) override { Act(); }
    void SyncStatus(const char*) override { Act(); }
    void SyncProgress(CORBA::Double) override { Act(); }
    void SyncResults(const CORBA::Any&) override { Act(); }
    void SyncFinished(const CORBA::Any&) override { Act(); }
    void SyncError(Krovane::IAsyncExceptionHolder_ptr) override { Act(); }

    std::atomic<Reply> reply{Reply::Answer};  // how the next callbacks answer
    std::atomic<int> calls{0};                // callbacks that reached it

    // Waits (at most 10 s) until count callbacks have reached it and ended.
    bool WaitForCalls(int count)
    {
      std::unique_lock<std::mutex> guard(m_endedLock);
      return m_endedChanged.wait_for(guard, std::chrono::seconds(10), [&] { return m_ended >= count; });
    }
    std::vector<CORBA::Long> Positions()
    {
      std::lock_guard<std::mutex> guard(m_positionsLock);
      return m_positions;
    }

  private:
    // Counts the callback as ended when it leaves, however it leaves.
    struct Ended
    {
      ScriptedHandler& handler;
      ~Ended()
      {
        std::lock_guard<std::mutex> guard(handler.m_endedLock);
        ++handler.m_ended;
        handler.m_endedChanged.notify_all();
      }
    };

    void Act()
    {
      Ended ended{*this};
      ++calls;
      switch (reply.load())
      {
        case Reply::Answer: return;
        case Reply::TimeOut: throw CORBA::TIMEOUT(omni::TIMEOUT_CallTimedOutOnClient, CORBA::COMPLETED_MAYBE);
        case Reply::Fail: throw CORBA::COMM_FAILURE(0, CORBA::COMPLETED_MAYBE);
        case Reply::FailOnce:
          reply = Reply::Answer;
          throw CORBA::COMM_FAILURE(0, CORBA::COMPLETED_MAYBE);
        case Reply::Refuse: throw Krovane::AsyncOperationException("refused");
        case Reply::Crash: throw std::runtime_error("crash");
      }
    }

    std::mutex m_endedLock;
    std::condition_variable m_endedChanged;  // signalled as m_ended grows
    int m_ended = 0;                         // guarded by m_endedLock; callbacks ended
    std::mutex m_positionsLock;
    std::vector<CORBA::Long> m_positions;    // guarded by m_positionsLock; Queued's, in arrival order
  };

  // A scripted handler active in the root POA, and its reference.
  class ActiveHandler
  {
  public:
    ActiveHandler() : m_servant(new ScriptedHandler)
    {
      m_poa = Krovane::KroSystem::Instance(1)->GetRootPOA();
      m_owner = m_servant;
      m_id = m_poa->activate_object(m_servant);
      CORBA::Object_var object = m_poa->id_to_reference(m_id.in());
      m_reference = Krovane::IAsyncHandler::_narrow(object.in());
    }
    ~ActiveHandler() { m_poa->deactivate_object(m_id.in()); }

    ScriptedHandler& Servant() { return *m_servant; }
    Krovane::IAsyncHandler_ptr Ref() { return m_reference.in(); }

  private:
    ScriptedHandler* m_servant;                   // owned through m_owner
    PortableServer::ServantBase_var m_owner;      // the creator's reference
    PortableServer::POA_var m_poa;                // where it is active
    PortableServer::ObjectId_var m_id;            // its id there
    Krovane::IAsyncHandler_var m_reference;       // its reference
  };

  // What PrintException writes for ex after info.
  std::string PrintedAs(const char* info, const CORBA::Exception& ex)
  {
    const std::string place = info;
    return place + (place.back() == '\n' ? "" : ": ") + KroOrb::DescribeException(ex) + "\n";
  }

  // One callback of the relay and what it reports.
  struct Callback
  {
    const char* name;                                          // the callback
    std::function<void(Krovane::AsynchronousHandler&)> call;   // makes it
    std::function<void(const Krovane::RelayLink&)> link;       // the same through a link; null: none
    const char* timedOut;                                      // printed with a TIMEOUT
    const char* systemFailure;                                 // printed with another system exception, or null
    const char* userFailure;                                   // printed with a user exception, or null
  };

  std::vector<Callback> Callbacks()
  {
    using Relay = Krovane::AsynchronousHandler;
    using Link = Krovane::RelayLink;
    CORBA::Any data;
    data <<= "data";
    return {
      {"Queued", [](Relay& r) { r.Queued(3); }, [](const Link& l) { l.Queued(3); },
       "Queued method timed out\n", nullptr, nullptr},
      {"Status", [](Relay& r) { r.Status("text"); }, [](const Link& l) { l.Status("text"); },
       "Status method timed out\n", "m_proxy->Status", "AsynchronousHandler::Status Exception"},
      {"Progress", [](Relay& r) { r.Progress(0.5); }, [](const Link& l) { l.Progress(0.5); },
       "Progress method timed out\n", "m_proxy->Progress", "AsynchronousHandler::Progress Exception"},
      {"Results", [data](Relay& r) { r.Results(data); }, [data](const Link& l) { l.Results(data); },
       "Results method timed out\n", nullptr, nullptr},
      {"Finished", [data](Relay& r) { r.Finished(data); }, [data](const Link& l) { l.Finished(data); },
       "Finished method timed out\n", nullptr, nullptr},
      {"Error", [](Relay& r) { r.Error(Krovane::IAsyncExceptionHolder::_nil()); },
       [](const Link& l) { l.Error(Krovane::IAsyncExceptionHolder::_nil()); }, "Error method timed out\n",
       nullptr, nullptr},
      {"SyncQueued", [](Relay& r) { r.SyncQueued(3); }, nullptr, "SyncQueued method timed out\n", nullptr,
       nullptr},
      {"SyncStatus", [](Relay& r) { r.SyncStatus("text"); }, nullptr, "SyncStatus method timed out\n",
       "m_proxy->SyncStatus", "AsynchronousHandler::SyncStatus Exception"},
      {"SyncProgress", [](Relay& r) { r.SyncProgress(0.5); }, nullptr, "SyncProgress method timed out\n",
       "m_proxy->SyncProgress", "AsynchronousHandler::SyncProgress Exception"},
      {"SyncResults", [data](Relay& r) { r.SyncResults(data); }, nullptr, "SyncResults method timed out\n",
       nullptr, nullptr},
      {"SyncFinished", [data](Relay& r) { r.SyncFinished(data); }, nullptr, "SyncFinished method timed out\n",
       nullptr, nullptr},
      {"SyncError", [](Relay& r) { r.SyncError(Krovane::IAsyncExceptionHolder::_nil()); }, nullptr,
       "SyncError method timed out\n", nullptr, nullptr},
    };
  }

  bool Attached(Krovane::AsynchronousHandler& relay)
  {
    Krovane::IAsyncHandler_var proxy = relay.getProxyHandler();
    return !CORBA::is_nil(proxy.in());
  }

  // A relay around a handler, active in the root POA as an operation's relay
  // is in its router's, and deactivated at the end of the scope.
  class ActiveRelay
  {
  public:
    explicit ActiveRelay(Krovane::IAsyncHandler_ptr handler)
      : m_relay(new Krovane::AsynchronousHandler(handler)), m_owner(m_relay)
    {
      m_poa = Krovane::KroSystem::Instance(1)->GetRootPOA();
      m_id = m_poa->activate_object(m_relay);
      CORBA::Object_var object = m_poa->id_to_reference(m_id.in());
      m_reference = Krovane::IAsyncHandler::_narrow(object.in());
    }
    ~ActiveRelay() { m_poa->deactivate_object(m_id.in()); }

    Krovane::AsynchronousHandler& Servant() { return *m_relay; }
    Krovane::IAsyncHandler_ptr Ref() { return m_reference.in(); }
    PortableServer::POA_ptr Poa() { return m_poa.in(); }

  private:
    Krovane::AsynchronousHandler* m_relay;     // owned through m_owner
    PortableServer::ServantBase_var m_owner;   // the creator's reference
    PortableServer::POA_var m_poa;             // where it is active
    PortableServer::ObjectId_var m_id;         // its id there
    Krovane::IAsyncHandler_var m_reference;    // its reference
  };

  // How a test reaches the relay: on its servant, as the lab and the
  // library's own look-ups do, or through an operation's link.
  enum class Path { kServant, kLinkToServant, kLinkThroughReference };

  Krovane::ServerMetrics::Snapshot Counts() { return Krovane::ServerMetrics::Instance().Read(); }
}

TEST(AsynchronousHandler, EachCallbackTreatsEachFailureOfTheClientAsItsTableSaysOnEveryPath)
{
  for (const Path path : {Path::kServant, Path::kLinkToServant, Path::kLinkThroughReference})
  for (const Callback& callback : Callbacks())
  {
    if (path != Path::kServant && !callback.link)
      continue;
    SCOPED_TRACE(std::string(callback.name) + " on path " + std::to_string(static_cast<int>(path)));
    ActiveHandler handler;
    ScriptedHandler& client = handler.Servant();
    ActiveRelay active(handler.Ref());
    Krovane::AsynchronousHandler& relay = active.Servant();
    const Krovane::RelayLink link(active.Ref(), path == Path::kLinkToServant ? active.Poa() : nullptr);
    ASSERT_EQ(path == Path::kLinkToServant, link.IsDirect());
    struct
    {
      const Callback& callback;
      const Krovane::RelayLink& link;
      Path path;
      void operator()(Krovane::AsynchronousHandler& relay) const
      {
        if (path == Path::kServant)
          callback.call(relay);
        else
          callback.link(link);
      }
    } const call{callback, link, path};
    KroTest::LogCapture log;
    const Krovane::ServerMetrics::Snapshot before = Counts();

    // Answered: forwarded once, nothing reported.
    ::testing::internal::CaptureStdout();
    call(relay);
    EXPECT_EQ("", ::testing::internal::GetCapturedStdout());
    EXPECT_EQ(1, client.calls.load());

    // Timed out: printed, returns, stays attached.
    client.reply = Reply::TimeOut;
    ::testing::internal::CaptureStdout();
    call(relay);
    EXPECT_EQ(PrintedAs(callback.timedOut,
                        CORBA::TIMEOUT(omni::TIMEOUT_CallTimedOutOnClient, CORBA::COMPLETED_MAYBE)),
              ::testing::internal::GetCapturedStdout());
    EXPECT_TRUE(Attached(relay));

    // Refused: the client's exception reaches the caller; stays attached.
    client.reply = Reply::Refuse;
    ::testing::internal::CaptureStdout();
    try
    {
      call(relay);
      ADD_FAILURE() << "the refusal did not reach the caller";
    }
    catch (const Krovane::AsyncOperationException& ex)
    {
      EXPECT_STREQ("refused", ex.reason.in());
    }
    EXPECT_EQ(callback.userFailure ? PrintedAs(callback.userFailure, Krovane::AsyncOperationException("refused"))
                                   : std::string(),
              ::testing::internal::GetCapturedStdout());
    EXPECT_TRUE(Attached(relay));

    // A C++ exception of the client's servant reaches the relay as
    // CORBA::UNKNOWN, a system exception like any other: detached.
    client.reply = Reply::Crash;
    ::testing::internal::CaptureStdout();
    EXPECT_NO_THROW(callback.call(relay));
    const std::string crashed = ::testing::internal::GetCapturedStdout();
    if (callback.systemFailure)
      EXPECT_EQ(0u, crashed.rfind(std::string(callback.systemFailure) + ": UNKNOWN (IDL:omg.org/CORBA/UNKNOWN:1.0)", 0))
        << crashed;
    else
      EXPECT_EQ("", crashed);
    EXPECT_FALSE(Attached(relay));
    EXPECT_TRUE(log.Lines().empty());
    relay.setProxyHandler(handler.Ref());

    // Failed once, as on a pooled connection the client had closed: sent
    // again, answered, still attached.
    client.reply = Reply::FailOnce;
    const int beforeStale = client.calls.load();
    ::testing::internal::CaptureStdout();
    call(relay);
    EXPECT_EQ("", ::testing::internal::GetCapturedStdout());
    EXPECT_TRUE(Attached(relay));
    EXPECT_EQ(beforeStale + 2, client.calls.load());

    // Failed: detached (printed first by four of them); later callbacks call nothing.
    client.reply = Reply::Fail;
    ::testing::internal::CaptureStdout();
    call(relay);
    EXPECT_EQ(callback.systemFailure
                ? PrintedAs(callback.systemFailure, CORBA::COMM_FAILURE(0, CORBA::COMPLETED_MAYBE))
                : std::string(),
              ::testing::internal::GetCapturedStdout());
    EXPECT_FALSE(Attached(relay));
    client.reply = Reply::Answer;
    const int calls = client.calls.load();
    call(relay);
    EXPECT_EQ(calls, client.calls.load());

    // A handler set again is called again; an outcome (Results, Error) that
    // found none reaches it first.
    const std::string name = callback.name;
    const int kept = name == "Results" || name == "Error" ? 1 : 0;
    relay.setProxyHandler(handler.Ref());
    EXPECT_EQ(calls + kept, client.calls.load());
    call(relay);
    EXPECT_EQ(calls + kept + 1, client.calls.load());

    // Counted for operators: three answered (one on its second try), one
    // timed out, three failed, of which two detached the client.
    const Krovane::ServerMetrics::Snapshot after = Counts();
    EXPECT_EQ(3u + kept, after.callbacksSent - before.callbacksSent);
    EXPECT_EQ(1u, after.callbacksTimedOut - before.callbacksTimedOut);
    EXPECT_EQ(3u, after.callbacksFailed - before.callbacksFailed);
    EXPECT_EQ(2u, after.clientsDetached - before.clientsDetached);
  }
}

// The non-waiting delivery: the caller does not wait for the client, and
// the client still sees every callback in order under the same rules.
TEST(AsynchronousHandler, NonWaitingDeliveryKeepsOrderAndRulesAndReportsARefusalAtTheNextCallback)
{
  ActiveHandler handler;
  ScriptedHandler& client = handler.Servant();
  ActiveRelay active(handler.Ref());
  Krovane::AsynchronousHandler& relay = active.Servant();
  relay.setDelivery(Krovane::AsynchronousHandler::Delivery::kNonWaiting);
  const Krovane::RelayLink link(active.Ref(), active.Poa());
  const Krovane::ServerMetrics::Snapshot before = Counts();

  // In order, even past the outbox's bound (its caller then sends it).
  std::vector<CORBA::Long> sent;
  for (CORBA::Long position = 1; position <= 600; ++position)
  {
    link.Queued(position);
    sent.push_back(position);
  }
  ASSERT_TRUE(client.WaitForCalls(600));
  EXPECT_EQ(sent, client.Positions());

  // Timed out: printed, stays attached.
  client.reply = Reply::TimeOut;
  ::testing::internal::CaptureStdout();
  link.Progress(0.5);
  ASSERT_TRUE(client.WaitForCalls(601));
  EXPECT_TRUE(Attached(relay));  // its lock: the delivery has handled the answer
  EXPECT_EQ(PrintedAs("Progress method timed out\n",
                      CORBA::TIMEOUT(omni::TIMEOUT_CallTimedOutOnClient, CORBA::COMPLETED_MAYBE)),
            ::testing::internal::GetCapturedStdout());

  // Refused: the caller goes on; the refusal reaches the next callback,
  // which is sent all the same.
  client.reply = Reply::Refuse;
  ::testing::internal::CaptureStdout();
  EXPECT_NO_THROW(link.Status("text"));
  ASSERT_TRUE(client.WaitForCalls(602));
  EXPECT_TRUE(Attached(relay));
  EXPECT_EQ(PrintedAs("AsynchronousHandler::Status Exception", Krovane::AsyncOperationException("refused")),
            ::testing::internal::GetCapturedStdout());
  client.reply = Reply::Answer;
  EXPECT_THROW(link.Progress(0.6), Krovane::AsyncOperationException);
  EXPECT_NO_THROW(link.Progress(0.7));
  ASSERT_TRUE(client.WaitForCalls(604));

  // Failed: tried again, 8 tries in all (each stale pooled connection to
  // the client fails once), then detached; later callbacks call nothing
  // until a handler is set.
  client.reply = Reply::Fail;
  ::testing::internal::CaptureStdout();
  link.Progress(0.8);
  ASSERT_TRUE(client.WaitForCalls(612));
  EXPECT_FALSE(Attached(relay));
  EXPECT_EQ(PrintedAs("m_proxy->Progress", CORBA::COMM_FAILURE(0, CORBA::COMPLETED_MAYBE)),
            ::testing::internal::GetCapturedStdout());
  client.reply = Reply::Answer;
  link.Finished(CORBA::Any());
  relay.setProxyHandler(handler.Ref());
  link.Finished(CORBA::Any());
  ASSERT_TRUE(client.WaitForCalls(613));
  EXPECT_TRUE(Attached(relay));
  EXPECT_EQ(613, client.calls.load());

  const Krovane::ServerMetrics::Snapshot after = Counts();
  EXPECT_EQ(603u, after.callbacksSent - before.callbacksSent);
  EXPECT_EQ(1u, after.callbacksTimedOut - before.callbacksTimedOut);
  EXPECT_EQ(2u, after.callbacksFailed - before.callbacksFailed);
  EXPECT_EQ(1u, after.clientsDetached - before.clientsDetached);
  // The delivery lets the relay go before the test's ORB does.
  EXPECT_TRUE(Krovane::RelayDelivery::Instance().WaitUntilIdle(std::chrono::seconds(10)));
}

// A client that attaches between an operation's outcome and its end (after
// a restart, say) hears the outcome first, then the end; in either delivery.
TEST(AsynchronousHandler, AnOutcomeThatFoundNoHandlerGoesFirstToTheNextHandlerAttached)
{
  // Records the names of the callbacks that reach it.
  class NamesHandler : public virtual POA_Krovane::IAsyncHandler, public virtual PortableServer::RefCountServantBase
  {
  public:
    void Queued(CORBA::Long) override { Add("Queued"); }
    void Status(const char*) override { Add("Status"); }
    void Progress(CORBA::Double) override { Add("Progress"); }
    void Results(const CORBA::Any&) override { Add("Results"); }
    void Finished(const CORBA::Any&) override { Add("Finished"); }
    void Error(Krovane::IAsyncExceptionHolder_ptr) override { Add("Error"); }
    void SyncQueued(CORBA::Long) override {}
    void SyncStatus(const char*) override {}
    void SyncProgress(CORBA::Double) override {}
    void SyncResults(const CORBA::Any&) override {}
    void SyncFinished(const CORBA::Any&) override {}
    void SyncError(Krovane::IAsyncExceptionHolder_ptr) override {}
    std::vector<std::string> Names()
    {
      std::lock_guard<std::mutex> guard(m_lock);
      return m_names;
    }

  private:
    void Add(const char* name)
    {
      std::lock_guard<std::mutex> guard(m_lock);
      m_names.push_back(name);
    }
    std::mutex m_lock;
    std::vector<std::string> m_names;  // guarded by m_lock
  };
  using Delivery = Krovane::AsynchronousHandler::Delivery;
  struct Case
  {
    const char* outcome;
    std::function<void(Krovane::AsynchronousHandler&)> make;
    Delivery delivery;
  };
  CORBA::Any data;
  data <<= static_cast<CORBA::Long>(7);
  const auto results = [data](Krovane::AsynchronousHandler& r) { r.Results(data); };
  const auto error = [](Krovane::AsynchronousHandler& r) { r.Error(Krovane::IAsyncExceptionHolder::_nil()); };
  for (const Case& test : std::vector<Case>{{"Results", results, Delivery::kWaiting},
                                            {"Error", error, Delivery::kWaiting},
                                            {"Results", results, Delivery::kNonWaiting},
                                            {"Error", error, Delivery::kNonWaiting}})
  {
    SCOPED_TRACE(std::string(test.outcome) + (test.delivery == Delivery::kWaiting ? ", waiting" : ", non-waiting"));
    ActiveRelay active(Krovane::IAsyncHandler::_nil());
    Krovane::AsynchronousHandler& relay = active.Servant();
    relay.setDelivery(test.delivery);
    relay.Progress(0.5);  // superseded: not kept
    test.make(relay);
    ASSERT_TRUE(Krovane::RelayDelivery::Instance().WaitUntilIdle(std::chrono::seconds(10)));

    NamesHandler* first = new NamesHandler;
    const PortableServer::ServantBase_var firstOwner = first;
    Krovane::IAsyncHandler_var firstRef = first->_this();
    relay.setProxyHandler(firstRef.in());
    relay.Finished(CORBA::Any());
    ASSERT_TRUE(Krovane::RelayDelivery::Instance().WaitUntilIdle(std::chrono::seconds(10)));
    EXPECT_EQ((std::vector<std::string>{test.outcome, "Finished"}), first->Names());

    NamesHandler* second = new NamesHandler;  // told once only
    const PortableServer::ServantBase_var secondOwner = second;
    Krovane::IAsyncHandler_var secondRef = second->_this();
    relay.setProxyHandler(secondRef.in());
    EXPECT_TRUE(second->Names().empty());
    PortableServer::POA_var poa = Krovane::KroSystem::Instance(1)->GetRootPOA();
    for (NamesHandler* servant : {first, second})
    {
      PortableServer::ObjectId_var id = poa->servant_to_id(servant);
      poa->deactivate_object(id.in());
    }
  }
}

// The bound itself (units, replacement, refused values, kept while
// detached) is checked across processes in RelayProcessTest; here, that it
// goes on the relay's own proxy and never on the caller's reference.
TEST(AsynchronousHandler, TimeoutIsPutOnTheRelaysOwnProxyOnly)
{
  ActiveHandler handler;
  Krovane::AsynchronousHandler& relay = *new Krovane::AsynchronousHandler(handler.Ref());
  PortableServer::ServantBase_var owner = &relay;  // the creator's reference
  relay.setTimeout(30);
  Krovane::IAsyncHandler_var proxy = relay.getProxyHandler();
  EXPECT_EQ(300000000ULL, KroOrb::RoundtripTimeoutOf(proxy.in()));
  EXPECT_TRUE(proxy->_is_equivalent(handler.Ref()));
  EXPECT_EQ(0u, KroOrb::RoundtripTimeoutOf(handler.Ref()));
}

// A relay left to activate itself is active only once its reference is
// asked for, under one reference; retiring it deactivates it then, and
// otherwise only ends it: no reference is made for it afterwards.
TEST(AsynchronousHandler, ActivatesItselfOnlyWhenItsReferenceIsAskedForAndIsRetiredOnce)
{
  PortableServer::POA_var poa = Krovane::KroSystem::Instance(1)->GetRootPOA();
  for (const bool asked : {false, true})
  {
    SCOPED_TRACE(asked ? "reference asked for" : "never asked");
    Krovane::AsynchronousHandler& relay = *new Krovane::AsynchronousHandler();
    const PortableServer::ServantBase_var owner = &relay;  // the creator's reference
    relay.ActivateOnDemandIn(poa.in());
    const Krovane::RelayLink link(relay);
    EXPECT_TRUE(link.IsDirect() && !link.IsEmpty());
    Krovane::IAsyncHandler_ptr reference = asked ? link.Reference() : Krovane::IAsyncHandler::_nil();
    if (asked)
    {
      ASSERT_FALSE(CORBA::is_nil(reference));
      EXPECT_EQ(reference, link.Reference());
      PortableServer::ServantBase_var servant = poa->reference_to_servant(reference);
      EXPECT_EQ(static_cast<PortableServer::Servant>(&relay), servant.in());
    }
    EXPECT_NO_THROW(link.DeactivateIn(poa.in()));
    if (asked)
    {
      EXPECT_THROW(PortableServer::ServantBase_var(poa->reference_to_servant(reference)),
                   PortableServer::POA::ObjectNotActive);
      EXPECT_THROW(link.DeactivateIn(poa.in()), PortableServer::POA::ObjectNotActive);
    }
    else
      EXPECT_TRUE(CORBA::is_nil(link.Reference()));
  }

  // Retired in a POA it does not belong to: refused, and not activated for it.
  const CORBA::PolicyList none;
  PortableServer::POAManager_var manager = poa->the_POAManager();
  PortableServer::POA_var other = poa->create_POA("OtherThanTheRelays", manager.in(), none);
  Krovane::AsynchronousHandler& relay = *new Krovane::AsynchronousHandler();
  const PortableServer::ServantBase_var owner = &relay;
  relay.ActivateOnDemandIn(poa.in());
  const Krovane::RelayLink link(relay);
  EXPECT_THROW(link.DeactivateIn(other.in()), PortableServer::POA::WrongAdapter);
  EXPECT_NO_THROW(link.DeactivateIn(poa.in()));
  EXPECT_TRUE(CORBA::is_nil(link.Reference()));  // retired before it was ever active
  other->destroy(false, false);
}

TEST(RoundtripTimeoutPolicy, IsMadeOnlyFromATimeTAndNeverBecomesNoBound)
{
  CORBA::ORB_var orb = Krovane::KroSystem::Instance(1)->GetOrb();
  CORBA::Any seconds;
  seconds <<= static_cast<CORBA::Long>(30);  // not a TimeT
  CORBA::Any units;
  units <<= static_cast<KroOrb::TimeT>(15000);
  try
  {
    KroOrb::CreatePolicy(orb.in(), 33, units);
    ADD_FAILURE() << "another policy type was accepted";
  }
  catch (const CORBA::PolicyError& ex)
  {
    EXPECT_EQ(CORBA::BAD_POLICY_TYPE, ex.reason);
  }
  try
  {
    KroOrb::CreatePolicy(orb.in(), KroOrb::RELATIVE_RT_TIMEOUT_POLICY_TYPE, seconds);
    ADD_FAILURE() << "a value that is no TimeT was accepted";
  }
  catch (const CORBA::PolicyError& ex)
  {
    EXPECT_EQ(CORBA::BAD_POLICY_VALUE, ex.reason);
  }
  const KroOrb::RoundtripTimeoutPolicy policy =
    KroOrb::CreatePolicy(orb.in(), KroOrb::RELATIVE_RT_TIMEOUT_POLICY_TYPE, units);
  EXPECT_EQ(15000u, policy.relative_expiry());
  EXPECT_EQ(KroOrb::RELATIVE_RT_TIMEOUT_POLICY_TYPE, policy.policy_type());

  // omniORB counts whole milliseconds and reads 0 as "no bound".
  EXPECT_EQ(2u, policy.CallTimeoutMillis());
  EXPECT_EQ(1u, KroOrb::RoundtripTimeoutPolicy(0).CallTimeoutMillis());
  EXPECT_EQ(1u, KroOrb::RoundtripTimeoutPolicy(1).CallTimeoutMillis());
  EXPECT_EQ(1u, KroOrb::RoundtripTimeoutPolicy(10000).CallTimeoutMillis());
  EXPECT_EQ(4294967295u, KroOrb::RoundtripTimeoutPolicy(~0ULL).CallTimeoutMillis());

  EXPECT_THROW(KroOrb::NewProxy(orb.in(), CORBA::Object::_nil()), CORBA::BAD_PARAM);
  EXPECT_THROW(KroOrb::ApplyPolicy(CORBA::Object::_nil(), policy), CORBA::BAD_PARAM);
}
