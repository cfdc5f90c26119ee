// Statement: one prepared SQLite statement, finalised at the end of its
// scope; binds by position (from 1) and reads columns (from 0).
// Ownership: its statement; the connection must outlive it. Threads: the
// caller's lock guards the connection.
#ifndef KROJOURNAL_STATEMENT_H
#define KROJOURNAL_STATEMENT_H

#include <sqlite3.h>

#include <string>

namespace KroJournal
{
  class Statement
  {
  public:
    // sqlite3_prepare_v2; JournalError naming what when it fails.
    Statement(sqlite3* db, const char* sql, const std::string& what);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& Bind(int index, long long value);
    Statement& Bind(int index, double value);
    Statement& Bind(int index, const std::string& text);
    Statement& BindBlob(int index, const std::string& bytes);
    Statement& BindNull(int index);
    // True while there is a row; false at the end. JournalError on failure.
    bool Step();
    // Step to the end (a statement without rows).
    void Run();
    // Ready to run again, its bindings cleared.
    void Reset();

    long long Integer(int column) const;
    double Real(int column) const;
    bool IsNull(int column) const;
    std::string Text(int column) const;  // also the bytes of a blob

  private:
    sqlite3* m_db;         // the connection; not owned
    sqlite3_stmt* m_stmt;  // owned
    std::string m_what;    // for the error line
  };
}

#endif
