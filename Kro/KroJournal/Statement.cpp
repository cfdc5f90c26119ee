#include "KroJournal/Statement.h"

#include "KroJournal/JournalError.h"

namespace KroJournal
{
  Statement::Statement(sqlite3* db, const char* sql, const std::string& what)
    : m_db(db), m_stmt(nullptr), m_what(what)
  {
    if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK)
      throw JournalError(m_what + ": " + sqlite3_errmsg(db));
  }

  Statement::~Statement() { sqlite3_finalize(m_stmt); }

  Statement& Statement::Bind(int index, long long value)
  {
    sqlite3_bind_int64(m_stmt, index, value);
    return *this;
  }

  Statement& Statement::Bind(int index, double value)
  {
    sqlite3_bind_double(m_stmt, index, value);
    return *this;
  }

  Statement& Statement::Bind(int index, const std::string& text)
  {
    sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
  }

  Statement& Statement::BindBlob(int index, const std::string& bytes)
  {
    sqlite3_bind_blob(m_stmt, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
    return *this;
  }

  Statement& Statement::BindNull(int index)
  {
    sqlite3_bind_null(m_stmt, index);
    return *this;
  }

  bool Statement::Step()
  {
    const int result = sqlite3_step(m_stmt);
    if (result == SQLITE_ROW)
      return true;
    if (result == SQLITE_DONE)
      return false;
    throw JournalError(m_what + ": " + sqlite3_errmsg(m_db));
  }

  void Statement::Run()
  {
    while (Step())
    {
    }
  }

  void Statement::Reset()
  {
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
  }

  long long Statement::Integer(int column) const { return sqlite3_column_int64(m_stmt, column); }

  double Statement::Real(int column) const { return sqlite3_column_double(m_stmt, column); }

  bool Statement::IsNull(int column) const { return sqlite3_column_type(m_stmt, column) == SQLITE_NULL; }

  std::string Statement::Text(int column) const
  {
    const void* bytes = sqlite3_column_blob(m_stmt, column);
    const int size = sqlite3_column_bytes(m_stmt, column);
    return bytes ? std::string(static_cast<const char*>(bytes), static_cast<std::size_t>(size)) : std::string();
  }
}
