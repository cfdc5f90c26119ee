#include "KroJournal/WalWriteBatcher.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace KroJournal
{
  namespace
  {
    const int kFrameHeader = 24;  // the log's frame header; its bytes 4-7: the database size on a commit frame
    const int kLogHeader = 32;    // the log's own header, at offset 0
    const int kMostHeld = 1 << 20;  // a larger transaction goes out in parts

    sqlite3_vfs* g_base = nullptr;  // the default VFS; set once
    sqlite3_vfs g_vfs;              // ours; set once

    // A log file: ours first, the base VFS's file right after it.
    struct LogFile
    {
      sqlite3_file base;        // pMethods: ours
      char* held;               // malloc'd; bytes not written yet
      int used;                 // bytes in held
      int capacity;             // size of held
      sqlite3_int64 start;      // the file offset of held's first byte
      sqlite3_int64 end;        // the end of the log as written (held or not); frames are appended there
      sqlite3_int64 pageAt;     // where the page of the frame header just written goes
      bool pageFollows;         // the last write was an appended non-commit frame header
      bool commitPageFollows;   // the last write was an appended commit frame header
      sqlite3_int64 alignment;  // keeps the base file after it aligned
    };

    sqlite3_file* Base(sqlite3_file* file) { return reinterpret_cast<sqlite3_file*>(reinterpret_cast<LogFile*>(file) + 1); }

    int Flush(LogFile* log)
    {
      log->pageFollows = log->commitPageFollows = false;  // a header's page comes right after it, or not at all
      if (log->used == 0)
        return SQLITE_OK;
      const int used = log->used;
      log->used = 0;  // dropped on failure too: SQLite writes the failed commit's frames again
      sqlite3_file* base = Base(&log->base);
      return base->pMethods->xWrite(base, log->held, used, log->start);
    }

    int Hold(LogFile* log, const void* data, int amount, sqlite3_int64 offset)
    {
      if (log->used > 0 && offset != log->start + log->used)
      {
        const int flushed = Flush(log);
        if (flushed != SQLITE_OK)
          return flushed;
      }
      if (log->used + amount > log->capacity)
      {
        const int capacity = log->used + amount + 8192;
        char* grown = static_cast<char*>(std::realloc(log->held, capacity));
        if (!grown)
          return SQLITE_NOMEM;
        log->held = grown;
        log->capacity = capacity;
      }
      if (log->used == 0)
        log->start = offset;
      std::memcpy(log->held + log->used, data, amount);
      log->used += amount;
      return SQLITE_OK;
    }

    int Write(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset)
    {
      LogFile* log = reinterpret_cast<LogFile*>(file);
      const unsigned char* bytes = static_cast<const unsigned char*>(data);
      const bool page = (log->pageFollows || log->commitPageFollows) && offset == log->pageAt;
      const bool last = log->commitPageFollows;
      log->pageFollows = log->commitPageFollows = false;
      bool keep = false;
      if (amount == kLogHeader && offset == 0)
      {
        keep = true;  // the log starts again: frames follow
        log->end = 0;
      }
      else if (page)
        keep = !last;  // the page of a frame that is not the commit's last
      else if (amount == kFrameHeader && offset == log->end)
      {
        // An appended frame's header (not one rewritten in place: its page does not follow).
        const bool commit = bytes[4] | bytes[5] | bytes[6] | bytes[7];
        keep = true;
        log->pageAt = offset + kFrameHeader;
        const int held = Hold(log, data, amount, offset);
        if (held != SQLITE_OK)
        {
          log->used = 0;
          return held;
        }
        log->end = std::max(log->end, offset + amount);
        (commit ? log->commitPageFollows : log->pageFollows) = log->used < kMostHeld;
        return log->used < kMostHeld ? SQLITE_OK : Flush(log);
      }
      const int held = Hold(log, data, amount, offset);
      if (held != SQLITE_OK)
      {
        log->used = 0;
        return held;
      }
      log->end = std::max(log->end, offset + amount);
      if (keep && log->used < kMostHeld)
        return SQLITE_OK;
      return Flush(log);
    }

    int Close(sqlite3_file* file)
    {
      LogFile* log = reinterpret_cast<LogFile*>(file);
      const int flushed = Flush(log);
      std::free(log->held);
      log->held = nullptr;
      sqlite3_file* base = Base(file);
      const int closed = base->pMethods ? base->pMethods->xClose(base) : SQLITE_OK;
      return flushed != SQLITE_OK ? flushed : closed;
    }

    // The calls that see the file: what is held goes first.
    int Read(sqlite3_file* file, void* data, int amount, sqlite3_int64 offset)
    {
      const int flushed = Flush(reinterpret_cast<LogFile*>(file));
      return flushed != SQLITE_OK ? flushed : Base(file)->pMethods->xRead(Base(file), data, amount, offset);
    }
    int Truncate(sqlite3_file* file, sqlite3_int64 size)
    {
      const int flushed = Flush(reinterpret_cast<LogFile*>(file));
      return flushed != SQLITE_OK ? flushed : Base(file)->pMethods->xTruncate(Base(file), size);
    }
    int Sync(sqlite3_file* file, int flags)
    {
      const int flushed = Flush(reinterpret_cast<LogFile*>(file));
      return flushed != SQLITE_OK ? flushed : Base(file)->pMethods->xSync(Base(file), flags);
    }
    int FileSize(sqlite3_file* file, sqlite3_int64* size)
    {
      const int flushed = Flush(reinterpret_cast<LogFile*>(file));
      return flushed != SQLITE_OK ? flushed : Base(file)->pMethods->xFileSize(Base(file), size);
    }
    int FileControl(sqlite3_file* file, int op, void* arg)
    {
      const int flushed = Flush(reinterpret_cast<LogFile*>(file));
      return flushed != SQLITE_OK ? flushed : Base(file)->pMethods->xFileControl(Base(file), op, arg);
    }
    int Fetch(sqlite3_file* file, sqlite3_int64 offset, int amount, void** pointer)
    {
      const int flushed = Flush(reinterpret_cast<LogFile*>(file));
      return flushed != SQLITE_OK ? flushed : Base(file)->pMethods->xFetch(Base(file), offset, amount, pointer);
    }

    // The rest pass through.
    int Lock(sqlite3_file* file, int level) { return Base(file)->pMethods->xLock(Base(file), level); }
    int Unlock(sqlite3_file* file, int level) { return Base(file)->pMethods->xUnlock(Base(file), level); }
    int CheckReservedLock(sqlite3_file* file, int* out)
    {
      return Base(file)->pMethods->xCheckReservedLock(Base(file), out);
    }
    int SectorSize(sqlite3_file* file) { return Base(file)->pMethods->xSectorSize(Base(file)); }
    int DeviceCharacteristics(sqlite3_file* file)
    {
      return Base(file)->pMethods->xDeviceCharacteristics(Base(file));
    }
    int ShmMap(sqlite3_file* file, int region, int size, int extend, void volatile** pointer)
    {
      return Base(file)->pMethods->xShmMap(Base(file), region, size, extend, pointer);
    }
    int ShmLock(sqlite3_file* file, int offset, int n, int flags)
    {
      return Base(file)->pMethods->xShmLock(Base(file), offset, n, flags);
    }
    void ShmBarrier(sqlite3_file* file) { Base(file)->pMethods->xShmBarrier(Base(file)); }
    int ShmUnmap(sqlite3_file* file, int remove) { return Base(file)->pMethods->xShmUnmap(Base(file), remove); }
    int Unfetch(sqlite3_file* file, sqlite3_int64 offset, void* pointer)
    {
      return Base(file)->pMethods->xUnfetch(Base(file), offset, pointer);
    }

    const sqlite3_io_methods kLogMethods = {3,        Close,    Read,      Write,      Truncate,
                                            Sync,     FileSize, Lock,      Unlock,     CheckReservedLock,
                                            FileControl, SectorSize, DeviceCharacteristics, ShmMap, ShmLock,
                                            ShmBarrier, ShmUnmap, Fetch,   Unfetch};

    int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags)
    {
      if (!(flags & SQLITE_OPEN_WAL))
        return g_base->xOpen(g_base, name, file, flags, outFlags);  // the base's file in our room
      LogFile* log = reinterpret_cast<LogFile*>(file);
      std::memset(log, 0, sizeof(LogFile));
      sqlite3_file* base = Base(file);
      const int opened = g_base->xOpen(g_base, name, base, flags, outFlags);
      if (opened != SQLITE_OK)
      {
        if (base->pMethods)
          base->pMethods->xClose(base);
        log->base.pMethods = nullptr;
        return opened;
      }
      // A base file of an older version lacks the later calls: none of ours then.
      if (base->pMethods->iVersion < 3)
      {
        base->pMethods->xClose(base);
        return g_base->xOpen(g_base, name, file, flags, outFlags);
      }
      log->base.pMethods = &kLogMethods;
      return SQLITE_OK;
    }

    // The rest of the VFS: the base's.
    int Delete(sqlite3_vfs*, const char* name, int sync) { return g_base->xDelete(g_base, name, sync); }
    int Access(sqlite3_vfs*, const char* name, int flags, int* out) { return g_base->xAccess(g_base, name, flags, out); }
    int FullPathname(sqlite3_vfs*, const char* name, int size, char* out)
    {
      return g_base->xFullPathname(g_base, name, size, out);
    }
    void* DlOpen(sqlite3_vfs*, const char* name) { return g_base->xDlOpen(g_base, name); }
    void DlError(sqlite3_vfs*, int size, char* out) { g_base->xDlError(g_base, size, out); }
    void (*DlSym(sqlite3_vfs*, void* handle, const char* name))(void) { return g_base->xDlSym(g_base, handle, name); }
    void DlClose(sqlite3_vfs*, void* handle) { g_base->xDlClose(g_base, handle); }
    int Randomness(sqlite3_vfs*, int size, char* out) { return g_base->xRandomness(g_base, size, out); }
    int Sleep(sqlite3_vfs*, int microseconds) { return g_base->xSleep(g_base, microseconds); }
    int CurrentTime(sqlite3_vfs*, double* out) { return g_base->xCurrentTime(g_base, out); }
    int GetLastError(sqlite3_vfs*, int size, char* out) { return g_base->xGetLastError(g_base, size, out); }
    int CurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* out) { return g_base->xCurrentTimeInt64(g_base, out); }
  }

  int WalWriteBatcher::Flush(sqlite3* db)
  {
    sqlite3_file* file = nullptr;
    if (sqlite3_file_control(db, "main", SQLITE_FCNTL_JOURNAL_POINTER, &file) != SQLITE_OK || !file ||
        file->pMethods != &kLogMethods)
      return SQLITE_OK;
    return ::KroJournal::Flush(reinterpret_cast<LogFile*>(file));
  }

  const char* WalWriteBatcher::VfsName()
  {
    static std::once_flag registered;
    std::call_once(registered, [] {
      g_base = sqlite3_vfs_find(nullptr);
      std::memset(&g_vfs, 0, sizeof g_vfs);
      g_vfs.iVersion = 2;
      g_vfs.szOsFile = static_cast<int>(sizeof(LogFile)) + g_base->szOsFile;
      g_vfs.mxPathname = g_base->mxPathname;
      g_vfs.zName = "kro-wal-batcher";
      g_vfs.xOpen = Open;
      g_vfs.xDelete = Delete;
      g_vfs.xAccess = Access;
      g_vfs.xFullPathname = FullPathname;
      g_vfs.xDlOpen = DlOpen;
      g_vfs.xDlError = DlError;
      g_vfs.xDlSym = DlSym;
      g_vfs.xDlClose = DlClose;
      g_vfs.xRandomness = Randomness;
      g_vfs.xSleep = Sleep;
      g_vfs.xCurrentTime = CurrentTime;
      g_vfs.xGetLastError = GetLastError;
      g_vfs.xCurrentTimeInt64 = CurrentTimeInt64;
      sqlite3_vfs_register(&g_vfs, 0);
    });
    return "kro-wal-batcher";
  }
}
