// WalWriteBatcher: a SQLite VFS ("kro-wal-batcher") over the default one
// that writes a commit's log frames to the file in one system call instead
// of two per page (SQLite writes each frame's 24-byte header, then its
// page). It holds only frames it knows are not the last of a commit (a
// frame header whose commit field is 0, the page after it, the log's own
// header); the page of a commit frame, and any write it does not recognise,
// goes to the file at once together with what it held. So when SQLite's
// commit returns, the whole commit is in the operating system's hands, as
// without it. Any other call on the log (read, sync, size, truncate, close)
// writes what it holds first. Files other than the log pass through.
// Threads: SQLite's (the journal's lock keeps a connection to one thread).
#ifndef KROJOURNAL_WALWRITEBATCHER_H
#define KROJOURNAL_WALWRITEBATCHER_H

#include <sqlite3.h>

namespace KroJournal
{
  class WalWriteBatcher
  {
  public:
    // The VFS's name, registered on first use (not as the default).
    static const char* VfsName();
    // Writes what db's log holds (nothing, after any commit SQLite
    // writes as it does today: a safety net should it change); SQLite's
    // code. db: opened on this VFS, its lock held.
    static int Flush(sqlite3* db);
  };
}

#endif
