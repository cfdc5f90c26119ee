// The synchronous server object: its list of requests, removal, the user
// token, operation ids, cancellation and the machine description.
#include "OrbFixture.h"

#include "KroServer/OpnType.h"
#include "KroServer/SynchronousOperation.h"
#include "support/LogCapture.h"
#include "support/LogLines.h"

#include <ace/Thread.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

using Krovane::SynchronousOperation;
using Krovane::SyncServerImpl;
using KroTest::ActiveServant;
using KroTest::InTable;
using KroTest::LogCapture;
using KroTest::OrbEnvironment;
using KroTest::Token;

namespace
{
  const std::string kThreadNotValid = "Operation::Cancel() Thread isn't valid.\n";

  std::string Octets(const Krovane::UserToken& token)
  {
    return std::string(reinterpret_cast<const char*>(token.get_buffer()), token.length());
  }

  // A server object not yet active anywhere, freed with its last reference.
  struct LooseServer
  {
    explicit LooseServer(int trackOperations)
      : servant(new SyncServerImpl(OrbEnvironment::TablePOA(), trackOperations)), holder(servant)
    {
    }
    SyncServerImpl* servant;
    PortableServer::ServantBase_var holder;
  };

  // A record that tells when it is cancelled and when it is deleted.
  class WatchedOperation : public SynchronousOperation
  {
  public:
    WatchedOperation(std::vector<std::string>* events, std::string name)
      : SynchronousOperation(CORBA::Object::_nil(), name.c_str()), m_events(events)
    {
    }
    ~WatchedOperation() override { m_events->push_back("deleted " + GetName()); }
    void Cancel() override { m_events->push_back("cancelled " + GetName()); }

  private:
    std::vector<std::string>* m_events;
  };

  class IdServer : public SyncServerImpl
  {
  public:
    IdServer() : SyncServerImpl(OrbEnvironment::TablePOA(), 1) {}
    int NextId() { return MakeNewOperationID(); }
  };

  // A server object that works for another packet than its own.
  class RoutedServer : public SyncServerImpl
  {
  public:
    RoutedServer() : SyncServerImpl(OrbEnvironment::TablePOA(), 0) {}
    const Halvern_Utilities::UserPacket& GetUserPacket() const override { return m_routed; }
    Halvern_Utilities::UserPacket m_routed;
  };

  // Sets this thread's current operation for a scope.
  struct CurrentOperation
  {
    explicit CurrentOperation(SynchronousOperation* operation)
    {
      Krovane::threadLocalOperation->m_operation = operation;
    }
    ~CurrentOperation() { Krovane::threadLocalOperation->m_operation = nullptr; }
  };
}

// Remove refused while another request runs, and the lock given back, is
// checked across processes (ServerInterceptorProcessTest).
TEST(SyncServerImpl, WithoutTrackingKeepsNoRecordsAndRemoveAlwaysLeavesTheTable)
{
  PortableServer::POA_ptr poa = OrbEnvironment::TablePOA();
  SyncServerImpl* servant = new SyncServerImpl(poa, 0);
  ActiveServant server(poa, servant);
  ASSERT_EQ(1, OrbEnvironment::Table()->AddObject(server.Ref()));
  SynchronousOperation first(server.Ref(), "Remove"), second(server.Ref(), "work");
  second.SetState(Krovane::Running);
  servant->AddOperation(&first);
  servant->AddOperation(&second);
  servant->AddOperation(&second);
  EXPECT_EQ(0, servant->NumOperations());
  servant->RemoveOperation(&second);
  servant->CancelAllOperations();
  EXPECT_EQ(Krovane::Running, second.GetState());
  EXPECT_EQ(0, servant->NumOperations());

  EXPECT_NO_THROW(servant->Remove());
  EXPECT_FALSE(InTable(server.Id()));
}

TEST(SyncServerImpl, SameRecordTwiceIsListedTwiceAndRemovedAtOnce)
{
  LooseServer server(1);
  SynchronousOperation operation(CORBA::Object::_nil(), "work");
  server.servant->AddOperation(&operation);
  server.servant->AddOperation(&operation);
  server.servant->AddOperation(nullptr);
  EXPECT_EQ(2, server.servant->NumOperations());
  server.servant->RemoveOperation(&operation);
  EXPECT_EQ(0, server.servant->NumOperations());
  EXPECT_EQ("work", operation.GetName());  // not deleted by the server object
}

TEST(SyncServerImpl, DeletesTheRecordsStillListedWhenDestroyed)
{
  std::vector<std::string> events;
  WatchedOperation* removed = new WatchedOperation(&events, "removed");
  {
    LooseServer server(1);
    server.servant->AddOperation(new WatchedOperation(&events, "left"));
    server.servant->AddOperation(removed);
    server.servant->RemoveOperation(removed);
  }
  EXPECT_EQ(std::vector<std::string>{"deleted left"}, events);
  delete removed;
}

TEST(SyncServerImpl, RemoveWithOnlyItsOwnRequestLeavesTheTable)
{
  PortableServer::POA_ptr poa = OrbEnvironment::TablePOA();
  SyncServerImpl* servant = new SyncServerImpl(poa, 1);
  ActiveServant server(poa, servant);
  ASSERT_EQ(1, OrbEnvironment::Table()->AddObject(server.Ref()));
  SynchronousOperation removal(server.Ref(), "Remove");
  servant->AddOperation(&removal);

  LogCapture capture;
  EXPECT_NO_THROW(servant->Remove());
  EXPECT_FALSE(InTable(server.Id()));
  EXPECT_EQ(1, capture.Count("(%P|%t) ServerObjectTable::RemoveObject() removed object\n"));
  // Still active: deactivation is the server interceptor's business.
  PortableServer::ServantBase_var active = poa->id_to_servant(server.Id());
  EXPECT_EQ(static_cast<PortableServer::ServantBase*>(servant), active.in());
  servant->RemoveOperation(&removal);
}

// The token is kept and handed back octet for octet: nothing added, nothing
// cut at a NUL (a forwarded signed token must arrive unchanged).
TEST(SyncServerImpl, UserTokenIsKeptAndComesBackOctetForOctet)
{
  LooseServer server(0);
  const struct
  {
    const char* what;
    std::string octets;
  } tokens[] = {
    {"plain", "abc"},
    {"empty", ""},
    {"NULs inside and a high octet", std::string("\0x\0\xff", 4)},
    {"a NUL at the end", std::string("abc\0", 4)},
    {"signed", "alice|1796695852|acf3"},
  };
  for (const auto& token : tokens)
  {
    SCOPED_TRACE(token.what);
    server.servant->UpdateUserToken(Token(token.octets));
    EXPECT_EQ(token.octets, server.servant->GetUserPacket().GetToken());
    Krovane::UserToken_var back = server.servant->GetUserToken();
    EXPECT_EQ(token.octets, Octets(back.in()));
    if (back->length() > 0)  // omniORB frees the buffer of an empty sequence
      EXPECT_EQ(0, back->get_buffer()[back->length()]);  // readable as a C string
  }

  Halvern_Utilities::UserPacket packet;
  packet.SetToken(std::string("p\0q", 3));
  server.servant->SetUserPacket(packet);
  Krovane::UserToken_var token = server.servant->GetUserToken();
  EXPECT_EQ(std::string("p\0q", 3), Octets(token.in()));

  // A subclass that works for another packet answers with that one.
  RoutedServer* routed = new RoutedServer;
  PortableServer::ServantBase_var holder(routed);
  routed->SetUserToken(Token("own"));
  routed->m_routed.SetToken(std::string("routed\0", 7));
  token = routed->GetUserToken();
  EXPECT_EQ(std::string("routed\0", 7), Octets(token.in()));
}

TEST(SyncServerImpl, OperationIdsStartAtOneInEachObject)
{
  IdServer* first = new IdServer;
  PortableServer::ServantBase_var firstHolder(first);
  EXPECT_EQ(1, first->NextId());
  EXPECT_EQ(2, first->NextId());
  EXPECT_EQ(3, first->NextId());
  IdServer* second = new IdServer;
  PortableServer::ServantBase_var secondHolder(second);
  EXPECT_EQ(1, second->NextId());
}

TEST(SyncServerImpl, ServiceCancellationRaisesOnlyForACancelledCurrentOperation)
{
  LooseServer server(1);
  EXPECT_NO_THROW(server.servant->ServiceCancellation());  // no current operation

  SynchronousOperation operation(CORBA::Object::_nil(), "work");
  CurrentOperation current(&operation);
  operation.SetState(Krovane::Running);
  EXPECT_NO_THROW(server.servant->ServiceCancellation());

  operation.SetState(Krovane::Cancelled);
  try
  {
    server.servant->ServiceCancellation();
    ADD_FAILURE() << "no OperationCancelled";
  }
  catch (const Krovane::OperationCancelled& ex)
  {
    EXPECT_STREQ("", ex.reason.in());
  }

  // Another thread serves no operation of its own.
  bool raised = true;
  std::thread other([&] {
    try
    {
      server.servant->ServiceCancellation();
      raised = false;
    }
    catch (...)
    {
    }
  });
  other.join();
  EXPECT_FALSE(raised);
}

TEST(SyncServerImpl, CancelAllOperationsCancelsEveryRecordInOrderAndEmptiesTheList)
{
  std::vector<std::string> events;
  LooseServer server(1);
  WatchedOperation first(&events, "first"), second(&events, "second");
  server.servant->AddOperation(&first);
  server.servant->AddOperation(&second);
  const unsigned long self = static_cast<unsigned long>(ACE_Thread::self());
  std::unique_ptr<SynchronousOperation> running(new SynchronousOperation(CORBA::Object::_nil(), "a"));
  std::unique_ptr<SynchronousOperation> queued(new SynchronousOperation(CORBA::Object::_nil(), "b"));
  running->SetThreadId(self);
  running->SetState(Krovane::Running);
  server.servant->AddOperation(running.get());
  server.servant->AddOperation(queued.get());

  LogCapture capture;
  server.servant->CancelAllOperations();
  EXPECT_EQ((std::vector<std::string>{"cancelled first", "cancelled second"}), events);
  EXPECT_EQ(std::vector<std::string>{kThreadNotValid}, capture.Lines());
  EXPECT_EQ(Krovane::Cancelled, running->GetState());
  EXPECT_EQ(Krovane::Queued, queued->GetState());
  EXPECT_EQ(0, server.servant->NumOperations());

  // The request's work then notices it.
  CurrentOperation current(running.get());
  EXPECT_THROW(server.servant->ServiceCancellation(), Krovane::OperationCancelled);
}

