#include "KroJournal/Journal.h"

#include "KroJournal/AnyBlob.h"
#include "KroJournal/JournalError.h"
#include "KroJournal/ParameterBlob.h"
#include "KroJournal/Statement.h"

#include <ace/Log_Msg.h>

#include <algorithm>

namespace KroJournal
{
  namespace
  {
    const char* const kInterrupted = "interrupted by a server restart";
    const auto kCommitPace = std::chrono::seconds(1);
    const auto kPrunePace = std::chrono::minutes(1);
    // How long a submission or an end waits for its commit before it counts
    // as failed (a disk that hangs).
    const auto kCommitWait = std::chrono::seconds(30);

    // Seconds since the epoch: times in the journal outlive the process.
    double Now()
    {
      return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    }

    // Format 2: operations kept under their key alone (no rowid, no second
    // index: a submission writes one page, not three); seq, the order of
    // submission, comes from the journal's own counter. A format 1 journal
    // (seq its rowid, under AUTOINCREMENT, and an index on object and id)
    // takes the same statements and keeps its format (its place column added).
    const char* const kSchema =
      "CREATE TABLE IF NOT EXISTS objects("
      "  key TEXT PRIMARY KEY,"
      "  user BLOB NOT NULL,"
      "  highest INTEGER NOT NULL DEFAULT 0);"
      "CREATE TABLE IF NOT EXISTS operations("
      "  object TEXT NOT NULL,"
      "  id INTEGER NOT NULL,"
      "  seq INTEGER NOT NULL,"
      "  name TEXT NOT NULL,"
      "  parameters BLOB NOT NULL,"
      "  user BLOB,"
      "  restartable INTEGER NOT NULL,"
      "  state INTEGER NOT NULL,"
      "  ended INTEGER NOT NULL DEFAULT 0,"
      "  place INTEGER,"
      "  progress REAL,"
      "  status TEXT,"
      "  results BLOB,"
      "  failure TEXT,"
      "  submitted_at REAL NOT NULL,"
      "  started_at REAL,"
      "  ended_at REAL,"
      "  PRIMARY KEY(object, id)) WITHOUT ROWID;";
  }

  Journal::Journal(const std::string& path, int keepHours) : m_path(path), m_keepHours(keepHours)
  {
    std::lock_guard<std::mutex> guard(m_lock);
    const int opened = sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    try
    {
      if (opened != SQLITE_OK)
        throw JournalError(m_db ? sqlite3_errmsg(m_db) : "out of memory");
      Prepare();
    }
    catch (const JournalError& ex)
    {
      m_prepared.clear();
      sqlite3_close(m_db);
      m_db = nullptr;
      throw JournalError("cannot use the journal " + path + ": " + ex.what());
    }
  }

  Journal::~Journal()
  {
    std::lock_guard<std::mutex> guard(m_lock);
    try
    {
      Commit([] {});
    }
    catch (const JournalError& ex)
    {
      ACE_ERROR((LM_ERROR, ACE_TEXT("(%P|%t) journal %C: progress not kept at the end: %C\n"), m_path.c_str(),
                 ex.what()));
    }
    m_prepared.clear();  // finalised before the connection goes
    sqlite3_close(m_db);
  }

  void Journal::Execute(const char* sql)
  {
    char* message = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &message) == SQLITE_OK)
      return;
    const std::string line = message ? message : sqlite3_errmsg(m_db);
    sqlite3_free(message);
    throw JournalError(line);
  }

  Statement& Journal::Prepared(const char* sql, const char* what)
  {
    std::unique_ptr<Statement>& statement = m_prepared[sql];
    if (!statement)
      statement.reset(new Statement(m_db, sql, what));
    statement->Reset();
    return *statement;
  }

  void Journal::Prepare()
  {
    // One server per journal: a second one would requeue the first's work.
    Execute("PRAGMA locking_mode=EXCLUSIVE");
    int format = 0;
    {
      Statement version(m_db, "PRAGMA user_version", "reading the format");
      if (version.Step())
        format = static_cast<int>(version.Integer(0));
    }
    if (format > kFormat)
      throw JournalError("format " + std::to_string(format) + " is newer than this server's " +
                         std::to_string(kFormat));
    {
      Statement mode(m_db, "PRAGMA journal_mode=WAL", "choosing WAL");
      if (!mode.Step() || mode.Text(0) != "wal")
        throw JournalError("WAL mode refused");
    }
    Execute("PRAGMA synchronous=NORMAL");
    // Fewer checkpoints (each one flushes to the disk): the log may grow to about 16 MB.
    Execute("PRAGMA wal_autocheckpoint=4000");
    {
      Statement check(m_db, "PRAGMA quick_check", "checking");
      if (!check.Step() || check.Text(0) != "ok")
        throw JournalError("damaged (" + check.Text(0) + ")");
    }
    Execute(kSchema);
    if (format == 0)
      Execute("PRAGMA user_version=2");
    {
      Statement place(m_db, "SELECT count(*) FROM pragma_table_info('operations') WHERE name='place'",
                      "looking for the place column");
      if (place.Step() && place.Integer(0) == 0)
        Execute("ALTER TABLE operations ADD COLUMN place INTEGER");
    }
    {
      Statement last(m_db, "SELECT coalesce(max(seq), 0) FROM operations", "reading the order");
      if (last.Step())
        m_lastSeq = last.Integer(0);
    }
    const double now = Now();
    Commit([&] {
      Prune();
      Statement interrupt(m_db,
                          "UPDATE operations SET ended=1, state=?1, failure=?2, ended_at=?3 "
                          "WHERE ended=0 AND restartable=0",
                          "ending interrupted operations");
      interrupt.Bind(1, static_cast<long long>(Krovane::Finished)).Bind(2, std::string(kInterrupted)).Bind(3, now);
      interrupt.Run();
      if (const int interrupted = sqlite3_changes(m_db))
        ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) journal %C: %d operations %C\n"), m_path.c_str(), interrupted,
                   kInterrupted));
    });
  }

  template <typename Work>
  void Journal::Commit(Work work)
  {
    std::map<Key, Pending> pending;
    {
      std::lock_guard<std::mutex> guard(m_pendingLock);
      pending.swap(m_pending);
      m_lastCommit = std::chrono::steady_clock::now();
    }
    try
    {
      Prepared("BEGIN IMMEDIATE", "starting a transaction").Run();
      try
      {
        WritePending(pending);
        work();
        Prepared("COMMIT", "committing").Run();
      }
      catch (const JournalError&)
      {
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
      }
    }
    catch (const JournalError&)
    {
      // Kept for the next commit, under anything reported since: a later
      // report of an operation wins where it says something.
      std::lock_guard<std::mutex> guard(m_pendingLock);
      for (auto& entry : pending)
      {
        PendingReport& now = m_pending[entry.first];
        PendingReport& old = entry.second;
        now.started = now.started || old.started;
        if (!now.place && !now.started)
          now.place = old.place;
        if (!now.progress)
          now.progress = old.progress;
        if (!now.status)
          now.status = std::move(old.status);
        if (!now.results)
          now.results = std::move(old.results);
        if (!now.failure)
          now.failure = std::move(old.failure);
      }
      throw;
    }
  }

  void Journal::CommitDurably(std::function<void()> write)
  {
    auto item = std::make_shared<Durable>();
    item->write = std::move(write);
    const auto deadline = std::chrono::steady_clock::now() + kCommitWait;
    std::unique_lock<std::mutex> lock(m_pendingLock);
    m_durable.push_back(item);
    while (!item->done)
    {
      if (!m_committing)
        CommitWaiting(lock);  // this thread commits, its own write among the others
      else if (m_committed.wait_until(lock, deadline) == std::cv_status::timeout && !item->done)
      {
        const auto queued = std::find(m_durable.begin(), m_durable.end(), item);
        if (queued == m_durable.end())
          continue;  // in the transaction under way: its end is near
        m_durable.erase(queued);
        throw JournalError("no commit within " + std::to_string(kCommitWait.count()) + " s");
      }
    }
    if (!item->error.empty())
      throw JournalError(item->error);
  }

  void Journal::CommitWaiting(std::unique_lock<std::mutex>& lock)
  {
    // Everything that waits by now goes in one transaction; what arrives
    // meanwhile waits for the next, committed by one of its own threads.
    m_committing = true;
    std::vector<std::shared_ptr<Durable>> batch;
    batch.swap(m_durable);
    lock.unlock();
    std::string error;
    {
      std::lock_guard<std::mutex> guard(m_lock);
      try
      {
        Commit([&batch] {
          for (const std::shared_ptr<Durable>& waiting : batch)
            waiting->write();
        });
      }
      catch (const JournalError& ex)
      {
        error = ex.what();
        if (batch.empty())
          ACE_ERROR((LM_ERROR, ACE_TEXT("(%P|%t) journal %C: progress not kept yet: %C\n"), m_path.c_str(),
                     ex.what()));
      }
    }
    lock.lock();
    for (const std::shared_ptr<Durable>& waiting : batch)
    {
      waiting->done = true;
      waiting->error = error;
    }
    m_committing = false;
    m_committed.notify_all();
  }

  void Journal::WritePending(const std::map<Key, Pending>& pending)
  {
    if (pending.empty())
      return;
    Statement& update = Prepared(
                     "UPDATE operations SET "
                     "  state=CASE WHEN ?1 THEN 1 ELSE state END,"
                     "  started_at=CASE WHEN ?1 THEN ?2 ELSE started_at END,"
                     "  place=CASE WHEN ?1 THEN NULL ELSE coalesce(?9, place) END,"
                     "  progress=coalesce(?3, progress), status=coalesce(?4, status),"
                     "  results=coalesce(?5, results), failure=coalesce(?6, failure) "
                     "WHERE object=?7 AND id=?8 AND ended=0",
                     "writing progress");
    const double now = Now();
    for (const auto& [key, report] : pending)
    {
      update.Bind(1, static_cast<long long>(report.started)).Bind(2, now);
      report.progress ? update.Bind(3, *report.progress) : update.BindNull(3);
      report.status ? update.Bind(4, *report.status) : update.BindNull(4);
      report.results ? update.BindBlob(5, *report.results) : update.BindNull(5);
      report.failure ? update.Bind(6, *report.failure) : update.BindNull(6);
      update.Bind(7, key.first).Bind(8, static_cast<long long>(key.second));
      report.place ? update.Bind(9, static_cast<long long>(*report.place)) : update.BindNull(9);
      update.Run();
      update.Reset();
    }
  }

  template <typename Update>
  void Journal::Report(const std::string& object, int id, Update update)
  {
    std::unique_lock<std::mutex> lock(m_pendingLock);
    update(m_pending[Key(object, id)]);
    // A second after the last commit, this thread commits, unless one is under way.
    if (!m_committing && std::chrono::steady_clock::now() - m_lastCommit >= kCommitPace)
      CommitWaiting(lock);
  }

  void Journal::Prune()
  {
    // The highest ids stay with their objects when the operations go.
    Prepared("UPDATE objects SET highest=max(highest, coalesce((SELECT max(id) FROM operations "
             "WHERE object=objects.key), 0))",
             "keeping the highest ids")
      .Run();
    Prepared("DELETE FROM operations WHERE ended=1 AND ended_at < ?1", "pruning")
      .Bind(1, Now() - 3600.0 * m_keepHours)
      .Run();
    m_lastPrune = std::chrono::steady_clock::now();
  }

  void Journal::ObjectCreated(const std::string& key, const std::string& userToken)
  {
    std::lock_guard<std::mutex> guard(m_lock);
    Commit([&] {
      Prepared("INSERT INTO objects(key, user) VALUES(?1, ?2) ON CONFLICT(key) DO UPDATE SET user=excluded.user",
               "recording a server object")
        .Bind(1, key)
        .BindBlob(2, userToken)
        .Run();
    });
  }

  bool Journal::FindObject(const std::string& key, ObjectRecord& object)
  {
    std::lock_guard<std::mutex> guard(m_lock);
    Statement find(m_db,
                   "SELECT user, max(highest, coalesce((SELECT max(id) FROM operations WHERE object=?1), 0)) "
                   "FROM objects WHERE key=?1",
                   "finding a server object");
    find.Bind(1, key);
    if (!find.Step())
      return false;
    object.userToken = find.Text(0);
    object.highest = static_cast<int>(find.Integer(1));
    return true;
  }

  std::vector<Journal::OperationRecord> Journal::OperationsOf(const std::string& key)
  {
    std::lock_guard<std::mutex> guard(m_lock);
    Statement list(m_db,
                   "SELECT id, name, parameters, restartable, state, ended, coalesce(place, 0) FROM operations "
                   "WHERE object=?1 ORDER BY seq",
                   "reading operations");
    list.Bind(1, key);
    std::vector<OperationRecord> operations;
    while (list.Step())
    {
      OperationRecord record;
      record.id = static_cast<int>(list.Integer(0));
      record.name = list.Text(1);
      record.restartable = list.Integer(3) != 0;
      const long long state = list.Integer(4);
      if (state < Krovane::Queued || state > Krovane::Cancelled)
        throw JournalError("operation " + std::to_string(record.id) + " has no state in the journal " + m_path);
      record.state = static_cast<Krovane::OperationState>(state);
      record.ended = list.Integer(5) != 0;
      record.place = static_cast<int>(list.Integer(6));
      if (!record.ended)
        record.parameters = ParameterBlob::Decode(list.Text(2));
      operations.push_back(std::move(record));
    }
    return operations;
  }

  std::vector<std::string> Journal::ObjectsWithWaitingWork()
  {
    std::lock_guard<std::mutex> guard(m_lock);
    Statement list(m_db,
                   "SELECT object FROM operations WHERE ended=0 GROUP BY object ORDER BY min(seq)",
                   "finding waiting work");
    std::vector<std::string> objects;
    while (list.Step())
      objects.push_back(list.Text(0));
    return objects;
  }

  void Journal::Submitted(const std::string& object, int id, const std::string& name,
                          const std::vector<Halvern_Utilities::Variant>& parameters, bool restartable)
  {
    const std::string blob = ParameterBlob::Encode(parameters);
    try
    {
      CommitDurably([this, object, id, name, blob, restartable] {
        Statement& insert = Prepared(
                         "INSERT INTO operations(object, id, name, parameters, user, restartable, state, "
                         "submitted_at, seq) VALUES(?1, ?2, ?3, ?4, (SELECT user FROM objects WHERE key=?1), ?5, 0, ?6, ?7)",
                         "recording a submission");
        insert.Bind(1, object).Bind(2, static_cast<long long>(id)).Bind(3, name).BindBlob(4, blob);
        insert.Bind(5, static_cast<long long>(restartable)).Bind(6, Now()).Bind(7, ++m_lastSeq).Run();
      });
    }
    catch (const JournalError& ex)
    {
      ACE_ERROR((LM_ERROR, ACE_TEXT("(%P|%t) journal %C: operation %C refused, it cannot be recorded: %C\n"),
                 m_path.c_str(), name.c_str(), ex.what()));
      throw Krovane::Unavailable((std::string("the journal cannot record the operation: ") + ex.what()).c_str());
    }
  }

  void Journal::Place(const std::string& object, int id, int place)
  {
    Report(object, id, [place](Pending& report) { report.place = place; });
  }

  void Journal::Started(const std::string& object, int id)
  {
    Report(object, id, [](Pending& report) { report.started = true; });
  }

  void Journal::Progress(const std::string& object, int id, double fraction)
  {
    Report(object, id, [fraction](Pending& report) { report.progress = fraction; });
  }

  void Journal::Status(const std::string& object, int id, const std::string& text)
  {
    Report(object, id, [&text](Pending& report) { report.status = text; });
  }

  void Journal::Results(const std::string& object, int id, const CORBA::Any& data)
  {
    std::string blob = AnyBlob::Encode(data);
    Report(object, id, [&blob](Pending& report) { report.results = std::move(blob); });
  }

  void Journal::Failed(const std::string& object, int id, const std::string& reason)
  {
    Report(object, id, [&reason](Pending& report) { report.failure = reason; });
  }

  void Journal::Ended(const std::string& object, int id, Krovane::OperationState state)
  {
    try
    {
      CommitDurably([this, object, id, state] {
        Statement& end = Prepared("UPDATE operations SET ended=1, state=?1, ended_at=?2 WHERE object=?3 AND id=?4",
                                  "recording an end");
        end.Bind(1, static_cast<long long>(state)).Bind(2, Now()).Bind(3, object).Bind(4, static_cast<long long>(id));
        end.Run();
        if (std::chrono::steady_clock::now() - m_lastPrune >= kPrunePace)
          Prune();
      });
    }
    catch (const JournalError& ex)
    {
      // The client still hears of the end; after a restart the operation
      // runs again (restartable) or ends interrupted.
      ACE_ERROR((LM_ERROR, ACE_TEXT("(%P|%t) journal %C: the end of operation %d not recorded: %C\n"),
                 m_path.c_str(), id, ex.what()));
    }
  }

  bool Journal::EndOf(const std::string& object, int id, End& end)
  {
    std::lock_guard<std::mutex> guard(m_lock);
    Statement find(m_db, "SELECT state, results, failure FROM operations WHERE object=?1 AND id=?2 AND ended=1",
                   "reading an end");
    find.Bind(1, object).Bind(2, static_cast<long long>(id));
    if (!find.Step())
      return false;
    end.state = static_cast<Krovane::OperationState>(find.Integer(0));
    end.hasResults = !find.IsNull(1);
    end.failure = find.IsNull(2) ? std::string() : find.Text(2);
    try
    {
      if (end.hasResults)
        AnyBlob::Decode(find.Text(1), end.data);
    }
    catch (const JournalError& ex)
    {
      ACE_ERROR((LM_ERROR, ACE_TEXT("(%P|%t) journal %C: %C (operation %d)\n"), m_path.c_str(), ex.what(), id));
      end.hasResults = false;
      end.failure = ex.what();
    }
    return true;
  }

  void Journal::UserChanged(const std::string& object, const std::string& token)
  {
    std::lock_guard<std::mutex> guard(m_lock);
    try
    {
      Commit([&] {
        Prepared("UPDATE objects SET user=?2 WHERE key=?1", "recording a new user")
          .Bind(1, object)
          .BindBlob(2, token)
          .Run();
      });
    }
    catch (const JournalError& ex)
    {
      ACE_ERROR((LM_ERROR, ACE_TEXT("(%P|%t) journal %C: the new user of an object not recorded: %C\n"),
                 m_path.c_str(), ex.what()));
    }
  }

  void Journal::Removed(const std::string& object)
  {
    std::lock_guard<std::mutex> guard(m_lock);
    {
      std::lock_guard<std::mutex> pendingGuard(m_pendingLock);
      for (auto pending = m_pending.begin(); pending != m_pending.end();)
        pending = pending->first.first == object ? m_pending.erase(pending) : std::next(pending);
    }
    try
    {
      Commit([&] {
        Prepared("DELETE FROM operations WHERE object=?1", "forgetting operations").Bind(1, object).Run();
        Prepared("DELETE FROM objects WHERE key=?1", "forgetting an object").Bind(1, object).Run();
      });
    }
    catch (const JournalError& ex)
    {
      ACE_ERROR((LM_ERROR, ACE_TEXT("(%P|%t) journal %C: a removed object not forgotten: %C\n"), m_path.c_str(),
                 ex.what()));
    }
  }
}
