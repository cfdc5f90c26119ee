// The journal's record, in one process: what a reopened journal gives back
// (parameters, results, the user, the highest id), what it ends on opening
// (work that may not run again) and what it prunes.
#include "KroJournal/Journal.h"
#include "KroJournal/JournalError.h"

#include "support/ProcessHarness.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>

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
    journal.Started("a1", 2);
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
    journal.Ended("a1", 1, Krovane::Finished);  // logged, not thrown
    setrlimit(RLIMIT_FSIZE, &saved);
    sigaction(SIGXFSZ, &old, nullptr);
    ASSERT_TRUE(refused);
    ASSERT_GT(taken, 0);
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
