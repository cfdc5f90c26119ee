// The journal's record, in one process: what a reopened journal gives back
// (parameters, results, the user, the highest id), what it ends on opening
// (work that may not run again) and what it prunes.
#include "KroJournal/Journal.h"
#include "KroJournal/JournalError.h"
#include "KroJournal/RecordLog.h"

#include "support/ProcessHarness.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sqlite3.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <thread>

namespace
{
  using Halvern_Utilities::Variant;
  using KroJournal::Journal;

  const Journal::OperationRecord* Find(const std::vector<Journal::OperationRecord>& records, int id)
  {
    for (const Journal::OperationRecord& record : records)
      if (record.id == id)
        return &record;
    return nullptr;
  }

  // What a killed process leaves: the file, its log and its record log as
  // they are now. The journal's thread may apply records or checkpoint
  // meanwhile: each file is copied before those that take what it holds,
  // so that the copy has everything twice rather than nothing.
  void CopyAsKilled(const std::string& from, const std::string& to)
  {
    for (const char* suffix : {"-records", "-wal", ""})
    {
      std::ifstream in(from + suffix, std::ios::binary);
      std::ofstream out(to + suffix, std::ios::binary | std::ios::trunc);
      out << in.rdbuf();
    }
  }

  // A copy of from, cut to size octets.
  void CopyCutShort(const std::string& from, const std::string& to, std::uintmax_t size)
  {
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::resize_file(to, size);
  }

  // Asserts that ring gives back the records of unapplied, in order: all
  // of them when whole, else a prefix (a file cut short).
  void ExpectGivesBack(const KroJournal::RecordLog& ring, const std::deque<std::string>& unapplied, bool whole)
  {
    const KroJournal::RecordLog::Batch batch = ring.Unapplied();
    ASSERT_LE(batch.records.size(), unapplied.size());
    if (whole)
    {
      ASSERT_EQ(unapplied.size(), batch.records.size());
    }
    for (std::size_t i = 0; i < batch.records.size(); ++i)
      ASSERT_TRUE(unapplied[i] == std::string(batch.records[i])) << "record " << i << " of " << unapplied.size();
  }

  off_t FileSize(const std::string& path)
  {
    struct stat status = {};
    return stat(path.c_str(), &status) == 0 ? status.st_size : -1;
  }

  // Waits until done() holds, looking again each time file is written, for
  // 60 s at most; done()'s last answer.
  template <typename Done>
  bool WhenWritten(const std::string& file, Done done)
  {
    const int watcher = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (watcher < 0 || inotify_add_watch(watcher, file.c_str(), IN_MODIFY) < 0)
      return done();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    bool held = done();
    while (!held && std::chrono::steady_clock::now() < deadline)
    {
      pollfd ready = {watcher, POLLIN, 0};
      poll(&ready, 1, 1000);
      char events[4096];
      while (read(watcher, events, sizeof events) > 0)
      {
      }
      held = done();
    }
    close(watcher);
    return held;
  }
}

TEST(JournalRecord, ReopenedItGivesBackWhatWasKeptAndEndsWorkThatMayNotRunAgain)
{
  KroTest::TemporaryDirectory directory;
  const std::string path = directory.File("journal.db");
  const std::string token("alice\0", 6);
  const std::vector<Variant> parameters = {Variant(), Variant(true), Variant(-7), Variant(2.5), Variant("t\0x"),
                                           Variant(Variant::ByteVector{0, 255, 3})};
  {
    Journal journal(path, 24);
    journal.ObjectCreated("a1", token);
    journal.Submitted("a1", 1, "Count", parameters, true);
    journal.Submitted("a1", 2, "Once", {Variant(5)}, false);
    journal.Submitted("a1", 3, "Count", {Variant(1)}, true);
    journal.Submitted("a1", 4, "Count", {Variant(1)}, false);
    journal.Place("a1", 1, 3);
    journal.Place("a1", 2, 1);
    journal.Place("a1", 1, 2);  // the latest place is kept
    journal.Started("a1", 2);   // in line no more
    journal.Progress("a1", 2, 0.5);
    CORBA::Any data;
    data <<= static_cast<CORBA::Long>(42);
    journal.Results("a1", 3, data);
    journal.Ended("a1", 3, Krovane::Finished);
    journal.Failed("a1", 4, "no luck");
    journal.Ended("a1", 4, Krovane::Finished);
  }
  {
    Journal journal(path, 24);
    Journal::ObjectRecord object;
    ASSERT_TRUE(journal.FindObject("a1", object));
    EXPECT_EQ(token, object.userToken);
    EXPECT_EQ(4, object.highest);
    const std::vector<Journal::OperationRecord> records = journal.OperationsOf("a1");
    ASSERT_EQ(4u, records.size());
    EXPECT_EQ(1, records[0].id);  // in the order of submission
    EXPECT_EQ(parameters, Find(records, 1)->parameters);
    EXPECT_FALSE(Find(records, 1)->ended);  // restartable: runs again
    EXPECT_EQ(2, Find(records, 1)->place);
    EXPECT_EQ(0, Find(records, 2)->place);

    SCOPED_TRACE("operation 2: not restartable, running at the crash");
    ASSERT_TRUE(Find(records, 2)->ended);
    Krovane::OperationJournal::End end;
    ASSERT_TRUE(journal.EndOf("a1", 2, end));
    EXPECT_EQ(Krovane::Finished, end.state);
    EXPECT_EQ("interrupted by a server restart", end.failure);
    EXPECT_FALSE(end.hasResults);

    ASSERT_TRUE(journal.EndOf("a1", 3, end));
    CORBA::Long value = 0;
    ASSERT_TRUE(end.hasResults && (end.data >>= value));
    EXPECT_EQ(42, value);
    EXPECT_TRUE(end.failure.empty());
    ASSERT_TRUE(journal.EndOf("a1", 4, end));
    EXPECT_EQ("no luck", end.failure);
    EXPECT_FALSE(journal.EndOf("a1", 1, end));  // not ended
    EXPECT_EQ(std::vector<std::string>{"a1"}, journal.ObjectsWithWaitingWork());
    journal.UserChanged("a1", std::string("bob\0", 4));
  }
  {
    // Kept no hours: ended operations go, the highest id stays.
    Journal journal(path, 0);
    Journal::ObjectRecord object;
    ASSERT_TRUE(journal.FindObject("a1", object));
    EXPECT_EQ(4, object.highest);
    EXPECT_EQ(std::string("bob\0", 4), object.userToken);
    const std::vector<Journal::OperationRecord> records = journal.OperationsOf("a1");
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(1, records[0].id);
    journal.Removed("a1");
    EXPECT_FALSE(journal.FindObject("a1", object));
    EXPECT_TRUE(journal.OperationsOf("a1").empty());
    EXPECT_TRUE(journal.ObjectsWithWaitingWork().empty());
  }
}

TEST(JournalRecord, ASecondServerOnTheSameJournalIsRefused)
{
  KroTest::TemporaryDirectory directory;
  Journal first(directory.File("journal.db"), 24);
  first.ObjectCreated("a1", "u");
  EXPECT_THROW(Journal(directory.File("journal.db"), 24), KroJournal::JournalError);
}

// A disk that fills up: every submission the journal took is there after a
// reopen, the first it could not take was refused with Unavailable (and
// nothing of it kept), and later ends are only logged.
TEST(JournalRecord, AFullDiskRefusesSubmissionsWithUnavailableAndLosesNoneItTook)
{
  KroTest::TemporaryDirectory directory;
  const std::string path = directory.File("journal.db");
  int taken = 0;
  {
    Journal journal(path, 24);
    journal.ObjectCreated("a1", "u");
    // The file size limit stands in for the full disk; its signal would end the test.
    struct sigaction ignore = {}, old = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &old);
    rlimit saved = {};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 256 * 1024;
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
    const std::vector<Variant> bulky = {Variant(std::string(4000, 'p'))};
    bool refused = false;
    for (int id = 1; id <= 1000 && !refused; ++id)  // 4 MB at most: the limit comes first
    {
      try
      {
        journal.Submitted("a1", id, "Count", bulky, true);
        taken = id;
      }
      catch (const Krovane::Unavailable& ex)
      {
        refused = true;
        EXPECT_NE(std::string::npos, std::string(ex.reason.in()).find("cannot record")) << ex.reason.in();
      }
    }
    EXPECT_TRUE(refused);
    // Short ones go to the record log, allocated whole, until it is full.
    refused = false;
    for (int id = taken + 1; id <= taken + 200000 && !refused; ++id)
    {
      try
      {
        journal.Submitted("a1", id, "Count", {}, true);
        ++taken;
      }
      catch (const Krovane::Unavailable&)
      {
        refused = true;
      }
    }
    EXPECT_TRUE(refused);
    journal.Ended("a1", 1, Krovane::Finished);  // logged, not thrown
    setrlimit(RLIMIT_FSIZE, &saved);
    sigaction(SIGXFSZ, &old, nullptr);
    ASSERT_GT(taken, 1000);
  }
  Journal journal(path, 24);
  const std::vector<Journal::OperationRecord> records = journal.OperationsOf("a1");
  ASSERT_EQ(static_cast<std::size_t>(taken), records.size());
  for (int id = 1; id <= taken; ++id)
    EXPECT_EQ(id, records[id - 1].id);
  Journal::ObjectRecord object;
  ASSERT_TRUE(journal.FindObject("a1", object));
  EXPECT_EQ(taken, object.highest);
}

// Submissions and ends from many threads at once share commits: each one
// returned is in the journal, with its own object's order and its own end.
TEST(JournalRecord, ConcurrentSubmissionsAndEndsAreEachCommittedBeforeTheyReturn)
{
  KroTest::TemporaryDirectory directory;
  const std::string path = directory.File("journal.db");
  constexpr int kThreads = 8;
  constexpr int kEach = 60;
  {
    Journal journal(path, 24);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back([&journal, t] {
        const std::string key = "o" + std::to_string(t);
        journal.ObjectCreated(key, "u");
        for (int id = 1; id <= kEach; ++id)
        {
          journal.Submitted(key, id, "Count", {Variant(id)}, true);
          journal.Started(key, id);
          CORBA::Any data;
          data <<= static_cast<CORBA::Long>(id * 10 + t);
          journal.Results(key, id, data);
          if (id % 3 != 0)  // every third left waiting
            journal.Ended(key, id, id % 2 ? Krovane::Finished : Krovane::Cancelled);
        }
      });
    for (std::thread& thread : threads)
      thread.join();
  }
  Journal journal(path, 24);
  for (int t = 0; t < kThreads; ++t)
  {
    const std::string key = "o" + std::to_string(t);
    SCOPED_TRACE(key);
    const std::vector<Journal::OperationRecord> records = journal.OperationsOf(key);
    ASSERT_EQ(static_cast<std::size_t>(kEach), records.size());
    for (int id = 1; id <= kEach; ++id)
    {
      const Journal::OperationRecord& record = records[id - 1];
      ASSERT_EQ(id, record.id);  // in the order of submission
      if (!record.ended)
      {
        EXPECT_EQ(std::vector<Variant>{Variant(id)}, record.parameters);  // kept to run again
      }
      EXPECT_EQ(id % 3 != 0, record.ended) << id;
      if (!record.ended)
        continue;
      Krovane::OperationJournal::End end;
      ASSERT_TRUE(journal.EndOf(key, id, end));
      EXPECT_EQ(id % 2 ? Krovane::Finished : Krovane::Cancelled, end.state);
      CORBA::Long value = 0;
      ASSERT_TRUE(end.hasResults && (end.data >>= value)) << id;
      EXPECT_EQ(id * 10 + t, value);
    }
  }
}

// A journal written by the previous format (operations ordered by their
// rowid, an index on object and id) is used as it is.
TEST(JournalRecord, AJournalOfTheFormerFormatKeepsItsOperationsAndTakesNewOnes)
{
  KroTest::TemporaryDirectory directory;
  const std::string path = directory.File("journal.db");
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(path.c_str(), &db));
    const char* const former =
      "PRAGMA journal_mode=WAL; PRAGMA user_version=1;"
      "CREATE TABLE objects(key TEXT PRIMARY KEY, user BLOB NOT NULL, highest INTEGER NOT NULL DEFAULT 0);"
      "CREATE TABLE operations(seq INTEGER PRIMARY KEY AUTOINCREMENT, object TEXT NOT NULL, id INTEGER NOT NULL,"
      " name TEXT NOT NULL, parameters BLOB NOT NULL, user BLOB, restartable INTEGER NOT NULL,"
      " state INTEGER NOT NULL, ended INTEGER NOT NULL DEFAULT 0, progress REAL, status TEXT, results BLOB,"
      " failure TEXT, submitted_at REAL NOT NULL, started_at REAL, ended_at REAL, UNIQUE(object, id));"
      "INSERT INTO objects(key, user) VALUES('b1', 'u'), ('a1', 'u');"
      "INSERT INTO operations(object, id, name, parameters, restartable, state, submitted_at)"
      " VALUES('b1', 7, 'Count', x'', 1, 0, 1.0), ('a1', 3, 'Count', x'', 1, 0, 2.0);";
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, former, nullptr, nullptr, nullptr)) << sqlite3_errmsg(db);
    sqlite3_close(db);
  }
  {
    Journal journal(path, 24);
    journal.Submitted("a1", 4, "Count", {}, true);
    journal.Place("a1", 4, 1);
    journal.Submitted("b1", 8, "Count", {}, true);
    journal.Ended("a1", 3, Krovane::Finished);
  }
  Journal journal(path, 24);
  const std::vector<Journal::OperationRecord> a = journal.OperationsOf("a1");
  ASSERT_EQ(2u, a.size());
  EXPECT_EQ(3, a[0].id);
  EXPECT_TRUE(a[0].ended);
  EXPECT_EQ(4, a[1].id);
  EXPECT_EQ(1, a[1].place);  // a column the former format gained
  const std::vector<Journal::OperationRecord> b = journal.OperationsOf("b1");
  ASSERT_EQ(2u, b.size());
  EXPECT_EQ(8, b[1].id);
  EXPECT_EQ((std::vector<std::string>{"b1", "a1"}), journal.ObjectsWithWaitingWork());  // first submitted first
}

// The log does not grow without end: once it is long, it is checkpointed
// into the file (by the journal's own thread, so that the commits that fill
// it do not wait for the disk). Only a checkpoint writes the file.
TEST(JournalRecord, ALongLogIsCheckpointedIntoTheFile)
{
  KroTest::TemporaryDirectory directory;
  const std::string path = directory.File("journal.db");
  Journal journal(path, 24);
  journal.ObjectCreated("a1", "u");
  const off_t before = FileSize(path);
  // About 20 MB of rows, applied in batches: past the checkpoint's 4000
  // frames, short of the 16000 at which a commit would checkpoint itself.
  const std::vector<Variant> bulky = {Variant(std::string(1200, 'p'))};
  for (int id = 1; id <= 16000; ++id)
  {
    journal.Submitted("a1", id, "Count", bulky, true);
    journal.Ended("a1", id, Krovane::Finished);
  }
  EXPECT_TRUE(WhenWritten(path, [&] { return FileSize(path) > before; })) << before;
  EXPECT_EQ(16000u, journal.OperationsOf("a1").size());
}

// Each submission and end is in the files (the operating system's hands)
// when it returns, in commits of one page or of several (bulky parameters,
// failures): a copy taken then, as a kill would leave it, holds it.
TEST(JournalRecord, EachSubmissionAndEndIsInTheFilesWhenItReturns)
{
  KroTest::TemporaryDirectory directory;
  const std::string path = directory.File("journal.db");
  const std::string copy = directory.File("copy.db");
  Journal journal(path, 24);
  journal.ObjectCreated("a1", "u");
  for (int id = 1; id <= 40; ++id)
  {
    SCOPED_TRACE(id);
    const std::size_t bulk = id % 4 == 0 ? 9000 : id % 4 == 1 ? 100 : 0;
    journal.Submitted("a1", id, "Count", {Variant(std::string(bulk, 'p'))}, true);
    CopyAsKilled(path, copy);
    {
      Journal killed(copy, 24);
      const std::vector<Journal::OperationRecord> records = killed.OperationsOf("a1");
      ASSERT_EQ(static_cast<std::size_t>(id), records.size());
      EXPECT_FALSE(records.back().ended);
    }
    CORBA::Any data;
    data <<= static_cast<CORBA::Long>(id);
    journal.Results("a1", id, data);
    journal.Failed("a1", id, std::string(bulk, 'f'));
    journal.Ended("a1", id, Krovane::Finished);
    CopyAsKilled(path, copy);
    Journal killed(copy, 24);
    Krovane::OperationJournal::End end;
    ASSERT_TRUE(killed.EndOf("a1", id, end));
    CORBA::Long value = 0;
    ASSERT_TRUE(end.hasResults && (end.data >>= value));
    EXPECT_EQ(id, value);
    EXPECT_EQ(std::string(bulk, 'f'), end.failure);
  }
}

// Reports wait in memory, but not for long: with nothing else happening,
// the journal's own thread writes them about a second later.
TEST(JournalRecord, AReportIsWrittenWithinAboutASecondWhenNothingElseHappens)
{
  KroTest::TemporaryDirectory directory;
  const std::string path = directory.File("journal.db");
  const std::string copy = directory.File("copy.db");
  Journal journal(path, 24);
  journal.ObjectCreated("a1", "u");
  journal.Submitted("a1", 1, "Count", {}, true);
  journal.Submitted("a1", 2, "Count", {}, true);
  journal.Place("a1", 1, 2);  // written at once: the first report in a second
  journal.Place("a1", 2, 1);  // waits
  const auto reported = std::chrono::steady_clock::now();
  const bool written = WhenWritten(path + "-wal", [&] {
    CopyAsKilled(path, copy);
    Journal killed(copy, 24);
    const std::vector<Journal::OperationRecord> records = killed.OperationsOf("a1");
    return records.size() == 2 && records[1].place == 1;
  });
  EXPECT_TRUE(written);
  EXPECT_LT(std::chrono::steady_clock::now() - reported, std::chrono::seconds(10));
}

// The record log's ring, laps over: records of many sizes (some leaving a
// wrap mark, some too short a gap for one), applied at random moments. A
// copy of the file taken at any moment, as a kill leaves it, gives back
// exactly the records appended and not yet applied, in order; a copy cut
// short gives back a whole prefix of them.
TEST(JournalRecord, TheRecordLogGivesBackWhatWasNotAppliedAtAnyMomentAcrossItsLaps)
{
  using KroJournal::RecordLog;
  KroTest::TemporaryDirectory directory;
  const std::string path = directory.File("ring");
  const std::string copy = directory.File("copy");
  RecordLog ring(path);
  std::deque<std::string> unapplied;
  unsigned seed = 12345;
  auto next = [&seed](unsigned bound) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % bound;
  };
  auto expectCopyHolds = [&](std::size_t cut) {
    CopyCutShort(path, copy, cut);
    RecordLog recovered(copy);
    EXPECT_EQ(cut == RecordLog::kFileSize ? 0 : cut, recovered.CutShortAt());
    ExpectGivesBack(recovered, unapplied, cut == RecordLog::kFileSize);
  };
  std::uint64_t appended = 0;
  for (int step = 0; step < 40000 && appended < 5 * RecordLog::kFileSize / 2; ++step)
  {
    SCOPED_TRACE(step);
    const std::size_t size = next(3) == 0 ? next(40) : next(RecordLog::kMaxPayload + 1);
    std::string payload(size, static_cast<char>('a' + step % 26));
    if (size >= 8)
      std::memcpy(&payload[0], &step, sizeof step);
    if (ring.Append(payload) != 0)
    {
      unapplied.push_back(payload);
      appended += size;
    }
    else
      ASSERT_GT(ring.Used() + size + 64, RecordLog::kFileSize - 4096);  // refused only when full
    if (next(4) == 0 || ring.Used() > RecordLog::kFileSize / 2)
    {
      // The journal applies a batch: all that was there when it looked.
      const RecordLog::Batch batch = ring.Unapplied();
      ASSERT_EQ(unapplied.size(), batch.records.size());
      ring.MarkApplied(batch);
      unapplied.clear();
    }
    if (step % 2000 == 0)
      expectCopyHolds(RecordLog::kFileSize);
  }
  EXPECT_GE(appended, 2 * RecordLog::kFileSize);  // lapped
  expectCopyHolds(RecordLog::kFileSize);
  for (std::size_t cut : {std::size_t(4000), std::size_t(RecordLog::kFileSize / 2), RecordLog::kFileSize - 100})
    expectCopyHolds(cut);

  // Records of one size that the ring holds a whole number of: one ends at
  // the very end of the file, and the next must go at the start, not past
  // the end.
  const std::size_t ringSize = RecordLog::kFileSize - RecordLog::kRingStart;
  std::size_t size = RecordLog::kMaxPayload;
  while (size > 8 && ringSize % RecordLog::Footprint(size) != 0)
    --size;
  ASSERT_EQ(0u, ringSize % RecordLog::Footprint(size));
  const std::string exact = directory.File("exact");
  RecordLog filled(exact);
  std::deque<std::string> kept;
  for (std::size_t i = 0; i < ringSize / RecordLog::Footprint(size) + 50; ++i)
  {
    std::string payload(size, static_cast<char>('a' + i % 26));
    std::memcpy(&payload[0], &i, sizeof i);
    ASSERT_NE(0u, filled.Append(payload)) << i;
    kept.push_back(payload);
    if (kept.size() == 1000)
    {
      filled.MarkApplied(filled.Unapplied());
      kept.clear();
    }
  }
  CopyCutShort(exact, copy, RecordLog::kFileSize);
  ExpectGivesBack(filled, kept, true);
  ExpectGivesBack(RecordLog(copy), kept, true);
}

// A process killed after a batch of records was committed but before the
// record log marked them applied: they are applied again at the next
// start, and each operation stays one, with its end; so is an end that
// came after such a batch, with its submission (written together when
// both are new).
TEST(JournalRecord, RecordsAppliedAgainAfterAKillLeaveEachOperationOnceWithItsEnd)
{
  KroTest::TemporaryDirectory directory;
  const std::string path = directory.File("journal.db");
  const std::string copy = directory.File("copy.db");
  const std::string submitted = directory.File("submitted.db");
  const std::string ended = directory.File("ended.db");
  auto replaceDatabase = [](const std::string& from, const std::string& to) {
    for (const char* suffix : {"-wal", ""})
      if (std::filesystem::exists(from + suffix))
        std::filesystem::copy_file(from + suffix, to + suffix, std::filesystem::copy_options::overwrite_existing);
      else
        std::filesystem::remove(to + suffix);  // a journal closed in order leaves no log
  };
  auto expectEnd = [](Journal& journal, int id, CORBA::Long result) {
    SCOPED_TRACE(id);
    const std::vector<Journal::OperationRecord> records = journal.OperationsOf("a1");
    ASSERT_EQ(3u, records.size());
    for (int each = 1; each <= 3; ++each)
      EXPECT_EQ(each, records[each - 1].id);
    Krovane::OperationJournal::End end;
    ASSERT_TRUE(journal.EndOf("a1", id, end));
    EXPECT_EQ(Krovane::Finished, end.state);
    EXPECT_TRUE(end.failure.empty()) << end.failure;
    CORBA::Long value = 0;
    EXPECT_EQ(result != 0, end.hasResults && (end.data >>= value));
    EXPECT_EQ(result, value);
  };
  Journal journal(path, 24);
  journal.ObjectCreated("a1", "u");
  for (int id = 1; id <= 3; ++id)
    journal.Submitted("a1", id, "Count", {Variant(id)}, true);
  CopyAsKilled(path, copy);       // the submissions not applied yet
  CopyAsKilled(path, submitted);
  journal.Ended("a1", 3, Krovane::Finished);
  CopyAsKilled(path, ended);      // the submissions and an end not applied yet
  CORBA::Any data;
  data <<= static_cast<CORBA::Long>(42);
  journal.Results("a1", 2, data);
  journal.Ended("a1", 2, Krovane::Finished);
  expectEnd(journal, 2, 42);      // all applied and marked

  replaceDatabase(path, copy);    // the database as committed, the record log as before its mark
  {
    Journal killed(copy, 24);
    expectEnd(killed, 2, 42);
  }
  {
    Journal applied(submitted, 24);  // its submissions applied, not ended
    ASSERT_EQ(3u, applied.OperationsOf("a1").size());
  }
  replaceDatabase(submitted, ended);
  Journal killed(ended, 24);
  expectEnd(killed, 3, 0);
}
