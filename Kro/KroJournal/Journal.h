// Journal: the durable record of a server's objects and their operations,
// in one SQLite file (WAL; one process at a time: a second server on the
// same file is refused). It keeps each server object (key: its object id,
// and its user's token) and each operation (object, id, name, parameters,
// user, whether it may run again, state, progress, status, results or
// failure, times).
//
// What a crash can lose: Submitted and Ended are durable before they
// return (in the operating system's hands: a killed process loses none of
// them). They are copied into the record log (RecordLog, the file beside
// the journal named FILE-records), which the journal's thread applies to
// the database in batches, at least four times a second; one too long for
// the record log, or one that finds it full, is committed to the database
// directly. Progress, status, places, the start and the work's results
// wait in memory; they go with the operation's end, and are written for
// all operations at most once a second: with the first commit or report a
// second after they were last written, or by the journal's own thread
// (JournalWorker) within a quarter second more. Group commit: direct
// submissions and ends that arrive while a transaction is under way wait
// for it and then go together in the next one, which one of their threads
// commits. Commits are not flushed to the disk one by one
// (synchronous=NORMAL), nor is the record log: a machine that loses power
// may lose the commits since the last checkpoint, which the journal's
// thread makes once the log is about 16 MB long, and the records the
// kernel had not written back.
//
// On opening: ended operations older than keepHours are pruned (and again
// at most once a minute as operations end); operations that had not ended
// and may not run again end Failed, "interrupted by a server restart".
//
// Ownership: the process owns it; it outlives every server object that
// records in it. Threads: any. Locks: m_lock (taken under a server
// object's m_asyncLock), then m_pendingLock or the worker's lock, then the
// record log's lock, a leaf.
#ifndef KROJOURNAL_JOURNAL_H
#define KROJOURNAL_JOURNAL_H

#include "KroServer/OperationJournal.h"

#include <sqlite3.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace KroJournal
{
  class Statement;
  class JournalWorker;
  class RecordLog;

  // What the work reported since the last commit, for one operation.
  struct PendingReport
  {
    std::optional<double> startedAt;  // seconds since the epoch
    std::optional<int> place;
    std::optional<double> progress;
    std::optional<std::string> status;
    std::optional<std::string> results;  // marshalled
    std::optional<std::string> failure;
  };

  class Journal : public Krovane::OperationJournal
  {
  public:
    // The format this build writes; a journal of a higher one is refused.
    // 3: a record log beside the file holds what is not applied yet.
    static constexpr int kFormat = 3;

    struct ObjectRecord
    {
      std::string userToken;  // as the object's user packet holds it
      int highest = 0;        // the highest operation id ever given
    };

    struct OperationRecord
    {
      int id = 0;
      std::string name;
      std::vector<Halvern_Utilities::Variant> parameters;
      bool restartable = false;
      Krovane::OperationState state = Krovane::Queued;
      bool ended = false;
      int place = 0;  // the latest place in line it was told (1 = next); 0: none, or it started
    };

    // Opens path, creating it when missing. JournalError, one line naming
    // the file and what is wrong, when it cannot be used.
    Journal(const std::string& path, int keepHours);
    // Stops the writer; commits what waits in memory.
    ~Journal() override;
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    const std::string& Path() const { return m_path; }

    // A server object made for a client: committed before it returns
    // (JournalError when it cannot be).
    void ObjectCreated(const std::string& key, const std::string& userToken);
    // The object kept under key; false when there is none.
    bool FindObject(const std::string& key, ObjectRecord& object);
    // Its operations, in the order they were submitted.
    std::vector<OperationRecord> OperationsOf(const std::string& key);
    // Objects with operations that had not ended, first submitted first.
    std::vector<std::string> ObjectsWithWaitingWork();

    // Krovane::OperationJournal
    void Submitted(const std::string& object, int id, const std::string& name,
                   const std::vector<Halvern_Utilities::Variant>& parameters, bool restartable) override;
    void Place(const std::string& object, int id, int place) override;
    void Started(const std::string& object, int id) override;
    void Progress(const std::string& object, int id, double fraction) override;
    void Status(const std::string& object, int id, const std::string& text) override;
    void Results(const std::string& object, int id, const CORBA::Any& data) override;
    void Failed(const std::string& object, int id, const std::string& reason) override;
    void Ended(const std::string& object, int id, Krovane::OperationState state) override;
    bool EndOf(const std::string& object, int id, End& end) override;
    void UserChanged(const std::string& object, const std::string& token) override;
    void Removed(const std::string& object) override;

  private:
    // What waits for the next commit, per operation.
    using Pending = PendingReport;
    using Key = std::pair<std::string, int>;  // object, operation id
    // Finds a Key by the caller's object name, without a copy of it.
    struct KeyView
    {
      const std::string& object;
      int id;
    };
    struct KeyLess
    {
      using is_transparent = void;
      bool operator()(const Key& a, const Key& b) const { return a < b; }
      bool operator()(const Key& a, const KeyView& b) const
      {
        const int order = a.first.compare(b.object);
        return order < 0 || (order == 0 && a.second < b.id);
      }
      bool operator()(const KeyView& a, const Key& b) const
      {
        const int order = a.object.compare(b.first);
        return order < 0 || (order == 0 && a.id < b.second);
      }
    };
    using PendingMap = std::map<Key, Pending, KeyLess>;
    // A submission or an end waiting for the next commit. It lives on the
    // stack of the thread that waits for it, which leaves only once it is
    // done or out of m_durable; it points to that caller's arguments.
    struct Durable
    {
      bool end = false;             // an end; else a submission
      const std::string* object = nullptr;
      int id = 0;
      const std::string* name = nullptr;        // submission: the operation's name
      const std::string* parameters = nullptr;  // submission: marshalled
      bool restartable = false;                 // submission
      Krovane::OperationState state = Krovane::Queued;  // end
      Pending report;      // end: what its operation reported and is not written yet; taken in CommitWaiting
      bool done = false;   // guarded by m_pendingLock; committed, or failed with error
      std::string error;   // guarded by m_pendingLock; why the commit failed; empty: it did not
    };

    // Copies a submission or an end, made at time, into the record log;
    // false when it does not go there (too long, or the log is full).
    bool Log(const Durable& item, double time);
    // Writes the record log's records into the database and marks them
    // applied, in a transaction of their own; m_lock held.
    void ApplyLog();
    // Writes records (inside a transaction); m_lock held. JournalError
    // when one cannot be read.
    void ApplyRecords(const std::vector<std::string_view>& records);
    // Runs sql (no rows) with m_lock held; JournalError on failure.
    void Execute(const char* sql);
    // The statement of sql (a literal: its address is the key), prepared on
    // first use and kept: preparing costs more than running. Reset; m_lock held.
    Statement& Prepared(const char* sql, const char* what);
    // One transaction running work; rolled back on failure (JournalError).
    // m_lock held.
    template <typename Work>
    void Transaction(Work work);
    // Returns once item is committed (in a transaction with the writes
    // that wait with it, on this thread or another); JournalError when that
    // failed, or when no transaction took it in time (it is then never
    // written). m_lock not held.
    void CommitDurably(Durable& item);
    // Commits what waits (and the reports, when a second has passed since
    // they were last written, or when all is true), as the one thread
    // committing (m_committing); lock holds m_pendingLock, released
    // meanwhile. JournalError only when all is true.
    void CommitWaiting(std::unique_lock<std::mutex>& lock, bool all = false);
    // Writes one submission or end, made at time (inside a transaction);
    // m_lock held.
    void Write(const Durable& item, double time);
    // Writes a submission and its end as one ended row (inside a
    // transaction); false when its row was there already. m_lock held.
    bool WriteEnded(const Durable& submission, double submittedAt, const Durable& end, double endedAt);
    // Writes pending (inside a transaction); m_lock held.
    void WritePending(const PendingMap& pending);
    // Puts reports that could not be written back under what was reported
    // since: a later report of an operation wins where it says something.
    // m_pendingLock held.
    void Restore(const Key& key, Pending& old);
    // Updates what waits for operation id of object, then commits it when
    // it was last written a second ago; m_lock not held.
    template <typename Update>
    void Report(const std::string& object, int id, Update update);
    // After each commit (m_lock held): asks m_worker for a checkpoint once
    // the log is long enough.
    static int WalHook(void* journal, sqlite3* db, const char* name, int frames);
    // A checkpoint of the log into the file; m_lock not held (taken here).
    void Checkpoint();
    // Applies the record log, and writes the reports that wait when they
    // were last written a second ago or more (m_worker's tick: they wait no
    // longer than that even when nothing else happens); m_lock not held.
    void WriteWaitingReports();
    // Deletes ended operations older than m_keepHours; m_lock held.
    void Prune();
    // The schema; inside the constructor.
    void Prepare();
    // The first clean-up, once the record log is applied: prunes, and ends
    // the operations that may not run again; inside the constructor.
    void EndInterrupted();

    const std::string m_path;  // the file
    const int m_keepHours;     // how long ended operations are kept
    // Held across each commit; taken under a server object's m_asyncLock,
    // before m_pendingLock. Reports take only m_pendingLock, so that progress
    // never waits for the disk.
    std::mutex m_lock;
    sqlite3* m_db = nullptr;   // guarded by m_lock; the connection
    std::map<const char*, std::unique_ptr<Statement>> m_prepared;  // guarded by m_lock; see Prepared
    std::chrono::steady_clock::time_point m_lastPrune;   // guarded by m_lock
    bool m_failing = false;    // guarded by m_lock; the last write of what waits failed (said once)
    long long m_lastSeq = 0;   // guarded by m_lock; the latest submission's place in the order
    std::mutex m_pendingLock;  // a leaf
    PendingMap m_pending;  // guarded by m_pendingLock; reports not written yet
    std::vector<Durable*> m_durable;  // guarded by m_pendingLock; waits for a transaction
    std::chrono::steady_clock::time_point m_lastFlush;  // guarded by m_pendingLock; reports last written
    bool m_committing = false;  // guarded by m_pendingLock; a thread is in CommitWaiting
    std::condition_variable m_committed;  // with m_pendingLock: a CommitWaiting ended
    std::unique_ptr<RecordLog> m_log;  // set by the constructor; Append from any thread, the rest with m_lock held
    std::unique_ptr<JournalWorker> m_worker;  // set by the constructor, taken first by the destructor, both under m_lock; read in WalHook (m_lock held)
  };
}

#endif
