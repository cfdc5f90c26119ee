// The smallest server on a journal, across processes: killed with
// operations in every state and restarted on the same endpoint, every
// operation is accounted for with its true result through the references
// the client already held; started on damaged journals, it refuses with
// one line or recovers, and never crashes.
#include "RecordingHandler.h"

#include "KroClient/AsyncClient.h"

#include "support/ClientOrb.h"
#include "support/NamingService.h"
#include "support/ProcessHarness.h"

#include "Smallest.hh"

#include <gtest/gtest.h>

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace
{
  const char* const kCannotUse = "KroSmallestServer: cannot use the journal ";
  std::atomic<int> s_finishedOrder{0};  // across handlers: which Finished came first

  // Records the count a Results carried, and when Finished came among all handlers.
  class CountHandler : public KroTest::RecordingHandler
  {
  public:
    void Results(const CORBA::Any& data) override
    {
      CORBA::Long value = -1;
      data >>= value;
      m_value = value;
      RecordingHandler::Results(data);
    }
    void Finished(const CORBA::Any& data) override
    {
      m_order = ++s_finishedOrder;
      RecordingHandler::Finished(data);
    }
    int Value() const { return m_value; }
    int Order() const { return m_order; }

  private:
    std::atomic<int> m_value{-1};  // from Results; -1 before
    std::atomic<int> m_order{0};   // place of Finished among all handlers; 0 before
  };

  // A handler activated in the test's ORB, with its reference.
  struct Handler
  {
    Handler() : servant(new CountHandler), reference(servant->Activate()) {}
    ~Handler() { servant->_remove_ref(); }
    CountHandler* servant;
    Krovane::IAsyncHandler_var reference;
  };

  // The smallest server on journal at port, serving until killed.
  class JournalServer
  {
  public:
    JournalServer(const KroTest::TemporaryDirectory& directory, const std::string& journal, int port)
      : m_ior(directory.File("server.ior"))
    {
      std::remove(m_ior.c_str());
      m_process = std::make_unique<KroTest::ChildProcess>(
        KRO_SMALLEST_SERVER,
        std::vector<std::string>{"--journal", journal, "--ior-file", m_ior, "--max-threads", "1", "--idle-seconds",
                                 "600", "-ORBendPoint", "giop:tcp:127.0.0.1:" + std::to_string(port)});
      if (!KroTest::WaitForFile(m_ior, 20s, m_process.get()))
        throw std::runtime_error("no IOR: " + m_process->Describe());
    }
    Smallest::IWorker_ptr NewWorker() const
    {
      CORBA::Object_var object = KroTest::ObjectFromIor(KroTest::ReadFileText(m_ior));
      Krovane::IServerFactory_var factory = Krovane::IServerFactory::_narrow(object.in());
      Krovane::ISyncServer_var created = factory->CreateObject(Krovane::UserToken());
      return Smallest::IWorker::_narrow(created.in());
    }
    KroTest::ChildProcess& Process() { return *m_process; }

  private:
    std::string m_ior;
    std::unique_ptr<KroTest::ChildProcess> m_process;
  };

  std::string AsyncFailureOf(Krovane::IAsyncExceptionHolder_ptr holder)
  {
    try
    {
      holder->raise();
    }
    catch (const Krovane::AsyncOperationException& ex)
    {
      return ex.reason.in();
    }
    return "nothing raised";
  }

  // The first call after the server was killed may find the old connection
  // broken (COMM_FAILURE); the next opens a new one. True once one works.
  bool Reconnected(CORBA::Object_ptr object)
  {
    for (int attempt = 0; attempt < 3; ++attempt)
    {
      try
      {
        return !object->_non_existent();
      }
      catch (const CORBA::COMM_FAILURE&)
      {
      }
      catch (const CORBA::TRANSIENT&)
      {
      }
    }
    return false;
  }

  // The test process's root POA, taking requests (for the client library's handlers).
  PortableServer::POA_ptr RootPoa()
  {
    CORBA::ORB_var orb = KroTest::ClientOrb();
    CORBA::Object_var object = orb->resolve_initial_references("RootPOA");
    PortableServer::POA_var root = PortableServer::POA::_narrow(object.in());
    PortableServer::POAManager_var manager = root->the_POAManager();
    manager->activate();
    return root._retn();
  }

  void CopyCutShort(const std::string& from, const std::string& to, std::uintmax_t size)
  {
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::resize_file(to, size);
  }
}

// kill -9 with one count finished, one failed, one cancelled, one running
// and two waiting; restarted on the same port and journal, the worker the
// client held answers for all six, the three unfinished ones run again in
// their old order with their true results, and the next count gets id 7.
static void KilledAndRestarted();
TEST(JournalProcess, KilledWithOperationsInEveryStateARestartAccountsForEachWithItsTrueResult)
{
  // A CORBA exception is named (gtest would only say "unknown").
  try
  {
    KilledAndRestarted();
  }
  catch (const CORBA::Exception& ex)
  {
    FAIL() << ex._name();
  }
}

static void KilledAndRestarted()
{
  KroTest::TemporaryDirectory directory;
  const std::string journal = directory.File("journal.db");
  const int port = KroTest::FreeLoopbackPort();
  Smallest::IWorker_var worker;
  Smallest::IWorker_var idle;  // its one count ended: brought back only when called
  std::map<CORBA::Long, std::unique_ptr<Handler>> before;  // by operation id
  {
    JournalServer server(directory, journal, port);
    worker = server.NewWorker();
    idle = server.NewWorker();
    Handler once;
    ASSERT_EQ(1, idle->Count(2, 1, once.reference.in()));
    ASSERT_TRUE(once.servant->WaitFor("Finished", 20s));
    auto submit = [&](CORBA::Long steps, CORBA::Long stepMillis) {
      auto handler = std::make_unique<Handler>();
      const CORBA::Long id = worker->Count(steps, stepMillis, handler->reference.in());
      before[id] = std::move(handler);
      return id;
    };
    ASSERT_EQ(1, submit(1, 1));
    ASSERT_TRUE(before[1]->servant->WaitFor("Finished", 20s));
    ASSERT_EQ(2, submit(0, 1));  // fails: steps must be 1 to 1000
    ASSERT_TRUE(before[2]->servant->WaitFor("Finished", 20s));
    ASSERT_EQ(3, submit(30, 50));  // runs 1.5 s (one pool thread)
    ASSERT_TRUE(before[3]->servant->WaitFor("Progress", 20s));
    ASSERT_EQ(4, submit(5, 1));
    worker->CancelOperation(4);  // while it waits
    // Long enough that their ends, told by relays of their own, come in the order they are reached.
    ASSERT_EQ(5, submit(2, 100));
    ASSERT_EQ(6, submit(3, 100));
    EXPECT_EQ(Krovane::Running, worker->GetOperationState(3));
    EXPECT_EQ(Krovane::Queued, worker->GetOperationState(6));
    server.Process().Kill();
  }
  for (CORBA::Long id : {3, 5, 6})
    EXPECT_EQ(0, before[id]->servant->Count("Finished")) << id;

  JournalServer server(directory, journal, port);
  ASSERT_TRUE(Reconnected(worker.in())) << server.Process().Describe();
  std::map<CORBA::Long, std::unique_ptr<Handler>> after;
  for (CORBA::Long id = 1; id <= 6; ++id)
  {
    after[id] = std::make_unique<Handler>();
    worker->RegisterNewHandler(id, after[id]->reference.in());  // the reference from before the kill
  }
  for (CORBA::Long id = 1; id <= 6; ++id)
    ASSERT_TRUE(after[id]->servant->WaitFor("Finished", 30s)) << id << "\n" << server.Process().Describe();
  {
    SCOPED_TRACE("operation 1, finished before the kill");
    EXPECT_EQ(Krovane::Finished, worker->GetOperationState(1));
    EXPECT_EQ(1, after[1]->servant->Value());
    EXPECT_EQ((std::vector<std::string>{"Results", "Finished"}), after[1]->servant->Events());
  }
  {
    SCOPED_TRACE("operation 2, failed before the kill");
    EXPECT_EQ(Krovane::Finished, worker->GetOperationState(2));
    EXPECT_EQ((std::vector<std::string>{"Error", "Finished"}), after[2]->servant->Events());
    Krovane::IAsyncExceptionHolder_var holder = after[2]->servant->Holder();
    EXPECT_EQ("steps must be 1 to 1000, not 0", AsyncFailureOf(holder.in()));
  }
  {
    SCOPED_TRACE("operation 4, cancelled while it waited");
    EXPECT_EQ(Krovane::Cancelled, worker->GetOperationState(4));
    EXPECT_EQ(std::vector<std::string>{"Finished"}, after[4]->servant->Events());
  }
  for (CORBA::Long id : {3, 5, 6})
  {
    SCOPED_TRACE(id);  // running or waiting at the kill: run again
    EXPECT_EQ(Krovane::Finished, worker->GetOperationState(id));
    EXPECT_EQ(1, after[id]->servant->Count("Results"));
    EXPECT_EQ(0, after[id]->servant->Count("Error"));
  }
  EXPECT_EQ(30, after[3]->servant->Value());
  EXPECT_EQ(2, after[5]->servant->Value());
  EXPECT_EQ(3, after[6]->servant->Value());
  EXPECT_LT(after[3]->servant->Order(), after[5]->servant->Order());  // old order
  EXPECT_LT(after[5]->servant->Order(), after[6]->servant->Order());

  Handler next;
  EXPECT_EQ(7, worker->Count(1, 1, next.reference.in()));
  ASSERT_TRUE(next.servant->WaitFor("Finished", 20s));
  EXPECT_EQ(1, next.servant->Value());
  EXPECT_THROW(worker->GetOperationState(8), Krovane::InvalidOperationId);

  {
    SCOPED_TRACE("a worker without waiting work, brought back on demand");
    EXPECT_EQ(Krovane::Finished, idle->GetOperationState(1));
    Handler late;
    idle->RegisterNewHandler(1, late.reference.in());
    ASSERT_TRUE(late.servant->WaitFor("Finished", 20s));
    EXPECT_EQ(2, late.servant->Value());
    CORBA::String_var loud = idle->Shout("back");
    EXPECT_STREQ("BACK", loud.in());
    idle->Remove();
    EXPECT_THROW(idle->Shout("gone"), CORBA::OBJECT_NOT_EXIST);
  }

  // A removed worker stays removed across a restart.
  worker->Remove();
  server.Process().Kill();
  JournalServer again(directory, journal, port);
  Reconnected(worker.in());
  EXPECT_THROW(worker->GetOperationState(1), CORBA::OBJECT_NOT_EXIST);
}

// A client on the client library (its watch on) with one count running and
// two waiting outlives a kill -9 of its server: restarted on the same
// endpoint and journal, the server runs the three again and the watch
// attaches them again, so each ends Finished here with its true count; the
// next count gets a new id.
TEST(JournalProcess, AClientLibraryClientSeesEachCountEndWithItsTrueResultAcrossAKill)
{
  KroTest::TemporaryDirectory directory;
  const std::string journal = directory.File("journal.db");
  const int port = KroTest::FreeLoopbackPort();
  auto server = std::make_unique<JournalServer>(directory, journal, port);
  Smallest::IWorker_var worker = server->NewWorker();
  PortableServer::POA_var poa = RootPoa();
  // The bound outlasts a restart: the operations are not given up meanwhile.
  KroClient::AsyncClient client(poa.in(), 8s);
  const std::vector<CORBA::Long> steps = {20, 3, 4};  // the first runs 1 s (one pool thread)
  std::vector<KroClient::Operation> counts;
  for (CORBA::Long n : steps)
    counts.push_back(client.Submit(worker.in(), [&](Krovane::IAsyncHandler_ptr handler)
                                   { return worker->Count(n, 50, handler); }));
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  ASSERT_TRUE(counts[0].WaitForProgress(0.1, deadline));
  EXPECT_EQ(KroClient::Outcome::Pending, counts[2].Now());
  server->Process().Kill();
  server.reset();
  server = std::make_unique<JournalServer>(directory, journal, port);

  for (std::size_t i = 0; i < counts.size(); ++i)
  {
    SCOPED_TRACE(counts[i].Id());
    ASSERT_EQ(KroClient::Outcome::Finished, counts[i].WaitForEnd(std::chrono::steady_clock::now() + 60s))
      << server->Process().Describe();
    CORBA::Long value = -1;
    EXPECT_TRUE(counts[i].Results() >>= value);
    EXPECT_EQ(steps[i], value);
  }
  KroClient::Operation next = client.Submit(worker.in(), [&](Krovane::IAsyncHandler_ptr handler)
                                            { return worker->Count(1, 1, handler); });
  EXPECT_EQ(4, next.Id());
  EXPECT_EQ(KroClient::Outcome::Finished, next.WaitForEnd(std::chrono::steady_clock::now() + 20s));

  // Nothing runs: an orderly stop ends at once, its objects' POA gone
  // before the ORB (omniORB's destruction waited 5 s for the thread of the
  // POA's servant activator while the object table held the POA).
  const auto stopping = std::chrono::steady_clock::now();
  server->Process().Signal(SIGTERM);
  const std::optional<KroTest::ExitStatus> stopped = server->Process().WaitForExit(20s);
  ASSERT_TRUE(stopped && stopped->exited && stopped->code == 0) << server->Process().Describe();
  EXPECT_LT(std::chrono::steady_clock::now() - stopping, 4s);
}

// The same, but the server is back before the watch's next question (its
// bound long, its interval 10 s): no question ever fails, yet the watch
// sees that the server's start has changed and attaches the three again,
// so each ends Finished with its true count.
TEST(JournalProcess, AClientLibraryClientNoticesAServerRestartedBetweenTwoQuestionsOfItsWatch)
{
  KroTest::TemporaryDirectory directory;
  const std::string journal = directory.File("journal.db");
  const int port = KroTest::FreeLoopbackPort();
  auto server = std::make_unique<JournalServer>(directory, journal, port);
  Smallest::IWorker_var worker = server->NewWorker();
  PortableServer::POA_var poa = RootPoa();
  const std::chrono::milliseconds interval(10000);  // a quarter of the bound
  KroClient::AsyncClient client(poa.in(), 4 * interval);
  const std::vector<CORBA::Long> steps = {20, 3, 4};
  std::vector<KroClient::Operation> counts;
  for (CORBA::Long n : steps)
    counts.push_back(client.Submit(worker.in(), [&](Krovane::IAsyncHandler_ptr handler)
                                   { return worker->Count(n, 50, handler); }));
  ASSERT_TRUE(counts[0].WaitForProgress(0.1, std::chrono::steady_clock::now() + 20s));
  const auto killed = std::chrono::steady_clock::now();
  server->Process().Kill();
  server.reset();
  server = std::make_unique<JournalServer>(directory, journal, port);
  const auto away = std::chrono::steady_clock::now() - killed;
  ASSERT_LT(away, interval / 2) << "the restart took over half the watch's interval: it might have asked meanwhile";
  EXPECT_EQ(0u, client.WatchRequests());  // not a question failed: none was asked yet

  for (std::size_t i = 0; i < counts.size(); ++i)
  {
    SCOPED_TRACE(counts[i].Id());
    ASSERT_EQ(KroClient::Outcome::Finished, counts[i].WaitForEnd(std::chrono::steady_clock::now() + 60s))
      << server->Process().Describe();
    CORBA::Long value = -1;
    EXPECT_TRUE(counts[i].Results() >>= value);
    EXPECT_EQ(steps[i], value);
  }
}

// A journal the server cannot use ends it with one line and status 1; a
// copy cut short anywhere is refused the same way or recovered to a
// consistent state (the server then serves); never a crash.
TEST(JournalProcess, ABadOrCutShortJournalIsRefusedWithOneLineOrRecoveredNeverACrash)
{
  KroTest::TemporaryDirectory directory;
  const std::string journal = directory.File("journal.db");
  const int port = KroTest::FreeLoopbackPort();
  {
    JournalServer server(directory, journal, port);
    Smallest::IWorker_var worker = server.NewWorker();
    std::vector<std::unique_ptr<Handler>> handlers;
    for (int i = 0; i < 12; ++i)
    {
      handlers.push_back(std::make_unique<Handler>());
      worker->Count(1 + i % 3, 1, handlers.back()->reference.in());
    }
    ASSERT_TRUE(handlers.back()->servant->WaitFor("Finished", 30s));
    server.Process().Kill();  // the last commits stay in the write-ahead log
  }
  ASSERT_TRUE(std::filesystem::exists(journal + "-wal"));
  const std::uintmax_t dbSize = std::filesystem::file_size(journal);
  const std::uintmax_t walSize = std::filesystem::file_size(journal + "-wal");

  {
    std::ofstream(directory.File("garbage.db")) << std::string(8192, 'x');
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(directory.File("newer.db").c_str(), &db));
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, "PRAGMA user_version=99", nullptr, nullptr, nullptr));
    sqlite3_close(db);
  }
  struct Case
  {
    std::string what;
    std::string file;     // the journal given
    bool mayRecover;      // false: must be refused
  };
  std::vector<Case> cases = {
    {"not a database", directory.File("garbage.db"), false},
    {"a newer format", directory.File("newer.db"), false},
    {"a directory", directory.Path(), false},
  };
  for (std::uintmax_t cut : {std::uintmax_t(0), std::uintmax_t(50), std::uintmax_t(1000), dbSize / 2, dbSize - 1})
  {
    const std::string copy = directory.File("db-cut-" + std::to_string(cut) + ".db");
    CopyCutShort(journal, copy, cut);
    cases.push_back({"the database cut at " + std::to_string(cut), copy, true});
  }
  for (std::uintmax_t cut : {std::uintmax_t(10), std::uintmax_t(100), walSize / 3, walSize / 2, walSize - 7})
  {
    const std::string copy = directory.File("wal-cut-" + std::to_string(cut) + ".db");
    std::filesystem::copy_file(journal, copy);
    CopyCutShort(journal + "-wal", copy + "-wal", cut);
    cases.push_back({"the log cut at " + std::to_string(cut), copy, true});
  }

  std::ofstream(directory.File("garbage-records.db-records")) << std::string(8192, 'x');
  std::filesystem::copy_file(journal, directory.File("garbage-records.db"));
  cases.push_back({"a record log of garbage", directory.File("garbage-records.db"), false});
  for (std::uintmax_t cut : {std::uintmax_t(0), std::uintmax_t(60), std::uintmax_t(200), std::uintmax_t(700),
                             std::uintmax_t(1500)})
  {
    const std::string copy = directory.File("records-cut-" + std::to_string(cut) + ".db");
    std::filesystem::copy_file(journal, copy);
    std::filesystem::copy_file(journal + "-wal", copy + "-wal");
    CopyCutShort(journal + "-records", copy + "-records", cut);
    cases.push_back({"the record log cut at " + std::to_string(cut), copy, true});
  }

  for (const Case& test : cases)
  {
    SCOPED_TRACE(test.what);
    const std::string ior = directory.File("cut.ior");
    std::remove(ior.c_str());
    KroTest::ChildProcess server(KRO_SMALLEST_SERVER, {"--journal", test.file, "--ior-file", ior,
                                                       "-ORBendPoint", "giop:tcp:127.0.0.1:"});
    if (KroTest::WaitForFile(ior, 20s, &server))
    {
      EXPECT_TRUE(test.mayRecover) << server.Describe();
      server.Signal(SIGTERM);
      const std::optional<KroTest::ExitStatus> status = server.WaitForExit(20s);
      EXPECT_TRUE(status && status->exited && status->code == 0) << server.Describe();
      continue;
    }
    const std::optional<KroTest::ExitStatus> status = server.WaitForExit(20s);
    ASSERT_TRUE(status) << server.Describe();
    EXPECT_TRUE(status->exited && status->code == 1) << server.Describe();
    const std::string err = server.Stderr().Text();
    EXPECT_EQ(0u, err.find(kCannotUse)) << err;
    EXPECT_EQ(1, std::count(err.begin(), err.end(), '\n')) << err;
  }
}
