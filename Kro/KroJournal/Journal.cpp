#include "KroJournal/Journal.h"

#include "KroJournal/AnyBlob.h"
#include "KroJournal/JournalError.h"
#include "KroJournal/ParameterBlob.h"
#include "KroJournal/Statement.h"
#include "KroJournal/JournalWorker.h"
#include "KroJournal/RecordLog.h"

#include <ace/Log_Msg.h>

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_map>

namespace KroJournal
{
  namespace
  {
    const char* const kInterrupted = "interrupted by a server restart";
    const auto kCommitPace = std::chrono::seconds(1);
    const auto kPrunePace = std::chrono::minutes(1);
    // How often the journal's thread looks for reports that have waited a
    // second: they wait at most kCommitPace plus this.
    const auto kReportCheckPace = std::chrono::milliseconds(250);
    // Log frames (pages) after which the journal's own thread checkpoints:
    // about 16 MB. Each checkpoint flushes the log and the file to the
    // disk; fewer, larger ones cost less per commit.
    const int kCheckpointFrames = 4000;
    // A log this long is checkpointed by the commit itself: the journal's
    // thread has not kept up.
    const int kInlineCheckpointFrames = 4 * kCheckpointFrames;
    // How long a submission or an end waits for its commit before it counts
    // as failed (a disk that hangs).
    const auto kCommitWait = std::chrono::seconds(30);

    // The record log is applied by the journal's thread once it holds this
    // much, before its next tick.
    const std::size_t kApplyAt = RecordLog::kFileSize / 8;

    // A record's payload: its kind, then its fields, each of a fixed size or
    // a length and its octets.
    class RecordWriter
    {
    public:
      explicit RecordWriter(char kind) { m_bytes.push_back(kind); }
      void Integer(long long value) { Raw(&value, sizeof value); }
      void Real(double value) { Raw(&value, sizeof value); }
      void Text(const std::string& text)
      {
        const std::uint32_t size = static_cast<std::uint32_t>(text.size());
        Raw(&size, sizeof size);
        m_bytes.append(text);
      }
      template <typename T, typename Put>
      void Maybe(const std::optional<T>& value, Put put)
      {
        m_bytes.push_back(value ? 1 : 0);
        if (value)
          put(*value);
      }
      const std::string& Bytes() const { return m_bytes; }

    private:
      void Raw(const void* data, std::size_t size) { m_bytes.append(static_cast<const char*>(data), size); }
      std::string m_bytes;
    };

    class RecordReader
    {
    public:
      explicit RecordReader(std::string_view bytes) : m_bytes(bytes) {}
      char Kind() { return Octet(); }
      long long Integer() { return Fixed<long long>(); }
      double Real() { return Fixed<double>(); }
      std::string Text()
      {
        const std::uint32_t size = Fixed<std::uint32_t>();
        return std::string(Take(size), size);
      }
      bool Has() { return Octet() != 0; }

    private:
      char Octet() { return *Take(1); }
      template <typename T>
      T Fixed()
      {
        T value;
        std::memcpy(&value, Take(sizeof value), sizeof value);
        return value;
      }
      const char* Take(std::size_t size)
      {
        if (m_bytes.size() - m_at < size)
          throw JournalError("a record of its record log is cut short");
        const char* at = m_bytes.data() + m_at;
        m_at += size;
        return at;
      }
      std::string_view m_bytes;
      std::size_t m_at = 0;
    };

    // Binds what report says to the six parameters from first on, in this
    // order: start, place, progress, status, results, failure; NULL where
    // it says nothing.
    void BindReport(Statement& statement, int first, const PendingReport& report)
    {
      report.startedAt ? statement.Bind(first, *report.startedAt) : statement.BindNull(first);
      report.place ? statement.Bind(first + 1, static_cast<long long>(*report.place)) : statement.BindNull(first + 1);
      report.progress ? statement.Bind(first + 2, *report.progress) : statement.BindNull(first + 2);
      report.status ? statement.Bind(first + 3, *report.status) : statement.BindNull(first + 3);
      report.results ? statement.BindBlob(first + 4, *report.results) : statement.BindNull(first + 4);
      report.failure ? statement.Bind(first + 5, *report.failure) : statement.BindNull(first + 5);
    }

    // Whether report holds anything to write.
    bool Says(const PendingReport& report)
    {
      return report.startedAt || report.place || report.progress || report.status || report.results || report.failure;
    }

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
    // No SQLite mutex: m_lock keeps the connection to one thread at a time.
    const int opened = sqlite3_open_v2(path.c_str(), &m_db,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                       nullptr);
    try
    {
      if (opened != SQLITE_OK)
        throw JournalError(m_db ? sqlite3_errmsg(m_db) : "out of memory");
      Prepare();
      m_log.reset(new RecordLog(path + "-records"));
      if (m_log->CutShortAt())
        ACE_ERROR((LM_ERROR, ACE_TEXT("(%P|%t) journal %C: its record log was cut short (%Q of %Q octets): "
                                      "submissions and ends it held past that are lost\n"),
                   path.c_str(), static_cast<ACE_UINT64>(m_log->CutShortAt()),
                   static_cast<ACE_UINT64>(RecordLog::kFileSize)));
      ApplyLog();  // what the last process left there
      EndInterrupted();
      m_worker.reset(new JournalWorker(
        path + "-wal", [this] { Checkpoint(); }, [this] { WriteWaitingReports(); },
        kReportCheckPace));
    }
    catch (const JournalError& ex)
    {
      m_log.reset();
      m_prepared.clear();
      sqlite3_close(m_db);
      m_db = nullptr;
      throw JournalError("cannot use the journal " + path + ": " + ex.what());
    }
  }

  Journal::~Journal()
  {
    // Nothing on its thread while the connection closes. Taken out under
    // m_lock: a commit of its last tick reads it (WalHook).
    std::unique_ptr<JournalWorker> worker;
    {
      std::lock_guard<std::mutex> guard(m_lock);
      worker = std::move(m_worker);
    }
    worker.reset();
    try
    {
      std::unique_lock<std::mutex> lock(m_pendingLock);
      CommitWaiting(lock, true);
    }
    catch (const JournalError& ex)
    {
      ACE_ERROR((LM_ERROR, ACE_TEXT("(%P|%t) journal %C: progress not kept at the end: %C\n"), m_path.c_str(),
                 ex.what()));
    }
    std::lock_guard<std::mutex> guard(m_lock);
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
    // Checkpoints by the journal's own thread (WalHook), not in the commit that fills the log.
    Execute("PRAGMA wal_autocheckpoint=0");
    sqlite3_wal_hook(m_db, &Journal::WalHook, this);
    {
      Statement check(m_db, "PRAGMA quick_check", "checking");
      if (!check.Step() || check.Text(0) != "ok")
        throw JournalError("damaged (" + check.Text(0) + ")");
    }
    Execute(kSchema);
    // Format 1 keeps its own; format 2 only gains the record log.
    if (format == 0 || format == 2)
      Execute("PRAGMA user_version=3");
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
  }

  void Journal::EndInterrupted()
  {
    const double now = Now();
    Transaction([&] {
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

  int Journal::WalHook(void* journal, sqlite3* db, const char*, int frames)
  {
    Journal& self = *static_cast<Journal*>(journal);
    if (frames >= kInlineCheckpointFrames || (frames >= kCheckpointFrames && !self.m_worker))
      sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    else if (frames >= kCheckpointFrames)
      self.m_worker->Request();
    return SQLITE_OK;
  }

  void Journal::Checkpoint()
  {
    std::lock_guard<std::mutex> guard(m_lock);
    if (sqlite3_wal_checkpoint_v2(m_db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr) != SQLITE_OK)
      ACE_ERROR((LM_ERROR, ACE_TEXT("(%P|%t) journal %C: checkpoint failed: %C\n"), m_path.c_str(),
                 sqlite3_errmsg(m_db)));
  }

  void Journal::WriteWaitingReports()
  {
    std::unique_lock<std::mutex> lock(m_pendingLock);
    if (m_committing)
      return;
    if ((!m_pending.empty() && std::chrono::steady_clock::now() - m_lastFlush >= kCommitPace) || m_log->Used() > 0)
      CommitWaiting(lock);
  }

  template <typename Work>
  void Journal::Transaction(Work work)
  {
    Prepared("BEGIN IMMEDIATE", "starting a transaction").Run();
    try
    {
      work();
      Prepared("COMMIT", "committing").Run();
    }
    catch (const JournalError&)
    {
      sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
  }

  void Journal::Restore(const Key& key, Pending& old)
  {
    Pending& now = m_pending[key];
    if (!now.startedAt)
      now.startedAt = old.startedAt;
    if (!now.place && !now.startedAt)
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

  void Journal::CommitDurably(Durable& item)
  {
    const auto deadline = std::chrono::steady_clock::now() + kCommitWait;
    std::unique_lock<std::mutex> lock(m_pendingLock);
    m_durable.push_back(&item);
    while (!item.done)
    {
      if (!m_committing)
        CommitWaiting(lock);  // this thread commits, its own write among the others
      else if (m_committed.wait_until(lock, deadline) == std::cv_status::timeout && !item.done)
      {
        const auto queued = std::find(m_durable.begin(), m_durable.end(), &item);
        if (queued == m_durable.end())
          continue;  // in the transaction under way: its end is near
        m_durable.erase(queued);
        throw JournalError("no commit within " + std::to_string(kCommitWait.count()) + " s");
      }
    }
    if (!item.error.empty())
      throw JournalError(item.error);
  }

  void Journal::CommitWaiting(std::unique_lock<std::mutex>& lock, bool all)
  {
    // Everything that waits by now goes in one transaction; what arrives
    // meanwhile waits for the next, committed by one of its own threads.
    // Each end takes its operation's reports along; the others' reports
    // only once a second: most commits then write one row each.
    while (m_committing)
      m_committed.wait(lock);  // only the destructor (all) comes here with a commit under way
    m_committing = true;
    std::vector<Durable*> batch;
    batch.swap(m_durable);
    for (Durable* item : batch)
    {
      if (!item->end)
        continue;
      const auto reported = m_pending.find(KeyView{*item->object, item->id});
      if (reported == m_pending.end())
        continue;
      item->report = std::move(reported->second);
      m_pending.erase(reported);
    }
    PendingMap flushed;
    const auto now = std::chrono::steady_clock::now();
    if (all || now - m_lastFlush >= kCommitPace)
    {
      flushed.swap(m_pending);
      m_lastFlush = now;
    }
    lock.unlock();
    std::string error;
    {
      std::lock_guard<std::mutex> guard(m_lock);
      try
      {
        // The record log first: what it holds was there before these, and
        // the reports are of operations whose submissions are there by now.
        const RecordLog::Batch records = m_log->Unapplied();
        const double time = Now();
        bool ends = !records.records.empty();
        for (const Durable* item : batch)
          ends = ends || item->end;
        const bool prune = ends && std::chrono::steady_clock::now() - m_lastPrune >= kPrunePace;
        if (records.records.empty() && batch.size() == 1 && flushed.empty() && !prune)
        {
          Write(*batch.front(), time);  // one statement is a transaction of its own: no BEGIN and COMMIT to run
        }
        else if (!records.records.empty() || !batch.empty() || !flushed.empty() || prune)
          Transaction([&] {
            ApplyRecords(records.records);
            WritePending(flushed);
            for (const Durable* item : batch)
              Write(*item, time);
            if (prune)
              Prune();
          });
        m_log->MarkApplied(records);
        if (m_failing)
          ACE_ERROR((LM_ERROR, ACE_TEXT("(%P|%t) journal %C: writing again\n"), m_path.c_str()));
        m_failing = false;
      }
      catch (const JournalError& ex)
      {
        error = ex.what();
        // Once, not at every tick while the disk stays full: what waits is kept meanwhile.
        if (batch.empty() && !all && !m_failing)
          ACE_ERROR((LM_ERROR, ACE_TEXT("(%P|%t) journal %C: progress not kept yet: %C\n"), m_path.c_str(),
                     ex.what()));
        m_failing = m_failing || (batch.empty() && !all);
      }
    }
    lock.lock();
    if (!error.empty())
    {
      // Kept for the next commit (an end that failed is not ended in the
      // journal: its reports are still worth writing).
      for (auto& entry : flushed)
        Restore(entry.first, entry.second);
      for (Durable* item : batch)
        if (item->end && Says(item->report))
          Restore(Key(*item->object, item->id), item->report);
    }
    for (Durable* item : batch)
    {
      item->done = true;
      item->error = error;
    }
    m_committing = false;
    m_committed.notify_all();
    if (all && !error.empty())
      throw JournalError(error);
  }

  bool Journal::Log(const Durable& item, double time)
  {
    RecordWriter record(item.end ? 'E' : 'S');
    record.Text(*item.object);
    record.Integer(item.id);
    record.Real(time);
    if (!item.end)
    {
      record.Text(*item.name);
      record.Text(*item.parameters);
      record.Integer(item.restartable);
    }
    else
    {
      const Pending& report = item.report;
      record.Integer(item.state);
      record.Maybe(report.startedAt, [&](double at) { record.Real(at); });
      record.Maybe(report.place, [&](int place) { record.Integer(place); });
      record.Maybe(report.progress, [&](double fraction) { record.Real(fraction); });
      record.Maybe(report.status, [&](const std::string& text) { record.Text(text); });
      record.Maybe(report.results, [&](const std::string& blob) { record.Text(blob); });
      record.Maybe(report.failure, [&](const std::string& text) { record.Text(text); });
    }
    const std::size_t used = m_log->Append(record.Bytes());
    if (used == 0)
      return false;
    if (used >= kApplyAt && m_worker)
      m_worker->Hurry();
    return true;
  }

  void Journal::ApplyLog()
  {
    const RecordLog::Batch records = m_log->Unapplied();
    if (records.records.empty())
      return;
    Transaction([&] { ApplyRecords(records.records); });
    m_log->MarkApplied(records);
  }

  namespace
  {
    // A record of the record log, read.
    struct AppliedRecord
    {
      std::string object, name, parameters;
      double time = 0;
      const AppliedRecord* end = nullptr;  // a submission's end, in the same batch
      bool written = false;                // an end written with its submission
    };

    struct OperationKeyHash
    {
      std::size_t operator()(const std::pair<std::string_view, int>& key) const
      {
        return std::hash<std::string_view>()(key.first) * 31 + static_cast<std::size_t>(key.second);
      }
    };
  }

  void Journal::ApplyRecords(const std::vector<std::string_view>& records)
  {
    // Read first: a submission whose end is in the same batch (most of
    // them, for short operations) is written once, ended.
    std::vector<AppliedRecord> read(records.size());
    std::vector<Durable> items(records.size());
    std::unordered_map<std::pair<std::string_view, int>, std::size_t, OperationKeyHash> submissions;
    for (std::size_t i = 0; i < records.size(); ++i)
    {
      RecordReader record(records[i]);
      AppliedRecord& applied = read[i];
      Durable& item = items[i];
      const char kind = record.Kind();
      if (kind != 'S' && kind != 'E')
        throw JournalError("its record log holds a record of an unknown kind");
      item.end = kind == 'E';
      applied.object = record.Text();
      item.object = &applied.object;
      item.id = static_cast<int>(record.Integer());
      applied.time = record.Real();
      if (!item.end)
      {
        applied.name = record.Text();
        applied.parameters = record.Text();
        item.name = &applied.name;
        item.parameters = &applied.parameters;
        item.restartable = record.Integer() != 0;
        submissions.emplace(std::make_pair(std::string_view(applied.object), item.id), i);
        continue;
      }
      const long long state = record.Integer();
      if (state < Krovane::Queued || state > Krovane::Cancelled)
        throw JournalError("its record log holds an end of no state");
      item.state = static_cast<Krovane::OperationState>(state);
      Pending& report = item.report;
      if (record.Has())
        report.startedAt = record.Real();
      if (record.Has())
        report.place = static_cast<int>(record.Integer());
      if (record.Has())
        report.progress = record.Real();
      if (record.Has())
        report.status = record.Text();
      if (record.Has())
        report.results = record.Text();
      if (record.Has())
        report.failure = record.Text();
      const auto submission = submissions.find(std::make_pair(std::string_view(applied.object), item.id));
      if (submission != submissions.end() && !read[submission->second].end)
        read[submission->second].end = &applied;
    }
    for (std::size_t i = 0; i < records.size(); ++i)
    {
      const AppliedRecord& applied = read[i];
      if (applied.written)
        continue;
      if (!applied.end)
      {
        Write(items[i], applied.time);
        continue;
      }
      const std::size_t end = static_cast<std::size_t>(applied.end - read.data());
      // Its row may be there already: a batch applied again after a kill
      // between its commit and its mark, with an end that came since.
      if (!WriteEnded(items[i], applied.time, items[end], applied.end->time))
        Write(items[end], applied.end->time);
      read[end].written = true;
    }
  }

  bool Journal::WriteEnded(const Durable& submission, double submittedAt, const Durable& end, double endedAt)
  {
    Statement& insert = Prepared(
      "INSERT OR IGNORE INTO operations(object, id, name, parameters, user, restartable, state, ended, "
      "submitted_at, seq, ended_at, started_at, place, progress, status, results, failure) "
      "VALUES(?1, ?2, ?3, ?4, (SELECT user FROM objects WHERE key=?1), ?5, ?6, 1, ?7, ?8, ?9, ?10, "
      "CASE WHEN ?10 IS NULL THEN ?11 END, ?12, ?13, ?14, ?15)",
      "recording an operation that ended");
    insert.Bind(1, *submission.object).Bind(2, static_cast<long long>(submission.id)).Bind(3, *submission.name);
    insert.BindBlob(4, *submission.parameters).Bind(5, static_cast<long long>(submission.restartable));
    insert.Bind(6, static_cast<long long>(end.state)).Bind(7, submittedAt).Bind(8, ++m_lastSeq).Bind(9, endedAt);
    BindReport(insert, 10, end.report);
    insert.Run();
    return sqlite3_changes(m_db) == 1;
  }

  void Journal::Write(const Durable& item, double time)
  {
    if (!item.end)
    {
      // A record applied again (a process killed between a commit and its
      // mark in the record log) leaves the row it made the first time.
      Statement& insert = Prepared(
        "INSERT OR IGNORE INTO operations(object, id, name, parameters, user, restartable, state, "
        "submitted_at, seq) VALUES(?1, ?2, ?3, ?4, (SELECT user FROM objects WHERE key=?1), ?5, 0, ?6, ?7)",
        "recording a submission");
      insert.Bind(1, *item.object).Bind(2, static_cast<long long>(item.id)).Bind(3, *item.name);
      insert.BindBlob(4, *item.parameters).Bind(5, static_cast<long long>(item.restartable)).Bind(6, time);
      insert.Bind(7, ++m_lastSeq).Run();
      return;
    }
    // The end and everything its operation reported before it, in one row's update.
    Statement& end = Prepared(
      "UPDATE operations SET ended=1, state=?1, ended_at=?2, started_at=coalesce(?3, started_at),"
      "  place=CASE WHEN ?3 IS NOT NULL THEN NULL ELSE coalesce(?4, place) END,"
      "  progress=coalesce(?5, progress), status=coalesce(?6, status),"
      "  results=coalesce(?7, results), failure=coalesce(?8, failure) "
      "WHERE object=?9 AND id=?10",
      "recording an end");
    end.Bind(1, static_cast<long long>(item.state)).Bind(2, time);
    BindReport(end, 3, item.report);
    end.Bind(9, *item.object).Bind(10, static_cast<long long>(item.id)).Run();
  }

  void Journal::WritePending(const PendingMap& pending)
  {
    if (pending.empty())
      return;
    Statement& update = Prepared(
                     "UPDATE operations SET "
                     "  state=CASE WHEN ?1 IS NOT NULL THEN 1 ELSE state END,"
                     "  started_at=coalesce(?1, started_at),"
                     "  place=CASE WHEN ?1 IS NOT NULL THEN NULL ELSE coalesce(?2, place) END,"
                     "  progress=coalesce(?3, progress), status=coalesce(?4, status),"
                     "  results=coalesce(?5, results), failure=coalesce(?6, failure) "
                     "WHERE object=?7 AND id=?8 AND ended=0",
                     "writing progress");
    for (const auto& [key, report] : pending)
    {
      BindReport(update, 1, report);
      update.Bind(7, key.first).Bind(8, static_cast<long long>(key.second));
      update.Run();
      update.Reset();
    }
  }

  template <typename Update>
  void Journal::Report(const std::string& object, int id, Update update)
  {
    std::unique_lock<std::mutex> lock(m_pendingLock);
    auto reported = m_pending.lower_bound(KeyView{object, id});
    if (reported == m_pending.end() || reported->first.second != id || reported->first.first != object)
      reported = m_pending.emplace_hint(reported, Key(object, id), Pending());
    update(reported->second);
    // A second after the reports were last written, this thread writes them, unless a commit is under way.
    if (!m_committing && std::chrono::steady_clock::now() - m_lastFlush >= kCommitPace)
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
    Transaction([&] {
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
    ApplyLog();
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
    ApplyLog();
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
    ApplyLog();
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
    Durable item;
    item.object = &object;
    item.id = id;
    item.name = &name;
    item.parameters = &blob;
    item.restartable = restartable;
    if (Log(item, Now()))
      return;
    try
    {
      CommitDurably(item);
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
    const double now = Now();
    Report(object, id, [now](Pending& report) { report.startedAt = now; });
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
    Durable item;
    item.end = true;
    item.object = &object;
    item.id = id;
    item.state = state;
    {
      // The end takes what its operation reported along.
      std::lock_guard<std::mutex> guard(m_pendingLock);
      const auto reported = m_pending.find(KeyView{object, id});
      if (reported != m_pending.end())
      {
        item.report = std::move(reported->second);
        m_pending.erase(reported);
      }
    }
    if (Log(item, Now()))
      return;
    try
    {
      CommitDurably(item);
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
    ApplyLog();
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
      Transaction([&] {
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
      ApplyLog();  // none of its records may come back after it
      Transaction([&] {
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
