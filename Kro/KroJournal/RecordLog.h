// RecordLog: where the journal puts what must be durable before a request
// returns (submissions and ends), at the cost of a copy: a ring of records
// in a file mapped into memory. A record is in the operating system's hands
// (a killed process loses none) once its copy into the mapping is done, with
// no system call per record. The journal applies the records to its
// database in batches, off the request path, and then marks them applied;
// on opening, it applies what the last process left.
//
// The file: a header (a magic word, the offset and number of the first
// record not applied, a checksum), then the ring. Each record: its length,
// a checksum, its number (consecutive), its payload, padded to 16 octets.
// A record that does not fit before the end leaves a wrap mark and goes at
// the start. Reading follows consecutive numbers from the header and stops
// at the first record that is not whole: a copy cut by a crash, whose
// caller had not returned. The file is allocated whole when made, so that a
// full disk never meets a record being copied.
//
// Ownership: the journal's. Threads: Append from any; Unapplied and
// MarkApplied by one thread at a time (the journal's m_lock). m_lock here
// is a leaf.
#ifndef KROJOURNAL_RECORDLOG_H
#define KROJOURNAL_RECORDLOG_H

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace KroJournal
{
  class RecordLog
  {
  public:
    // The file's size: the ring holds at most this much.
    static constexpr std::size_t kFileSize = 8u << 20;
    // The longest payload Append takes; longer ones go to the database directly.
    static constexpr std::size_t kMaxPayload = 4000;
    // Where the ring starts, after the header; it runs to the end of the file.
    static constexpr std::size_t kRingStart = 128;
    // A record's head, before its payload.
    static constexpr std::size_t kRecordHead = 24;
    // The ring's octets a record of a payload of size takes: its head and
    // the payload, padded to 16.
    static constexpr std::size_t Footprint(std::size_t size) { return (kRecordHead + size + 15) / 16 * 16; }

    // Records not applied yet, in order, as Unapplied found them. The views
    // point into the mapping and stay valid until MarkApplied.
    struct Batch
    {
      std::vector<std::string_view> records;
      std::uint64_t head = 0;      // where the next record after them goes
      std::uint64_t nextSeq = 0;   // the number it takes
      std::uint64_t bytes = 0;     // the ring's space they hold
    };

    // Opens path, making it when missing; reads what was not applied.
    // JournalError, naming the file, when it cannot be used.
    explicit RecordLog(const std::string& path);
    ~RecordLog();
    RecordLog(const RecordLog&) = delete;
    RecordLog& operator=(const RecordLog&) = delete;

    // Copies payload in: in the OS's hands when it returns. Returns the
    // octets the ring then holds; 0 when it has no room for it now, or it is
    // longer than kMaxPayload.
    std::size_t Append(std::string_view payload);
    // Octets the ring holds that are not applied yet.
    std::size_t Used() const;
    // The records appended by now and not applied yet.
    Batch Unapplied() const;
    // batch is in the database, in the OS's hands: its space is free.
    void MarkApplied(const Batch& batch);
    // The octets the file held when opened, when fewer than kFileSize (it
    // was cut short: records past that are lost); 0 otherwise.
    std::size_t CutShortAt() const { return m_cutShortAt; }

  private:
    struct Header;
    struct RecordHead;

    Header& Head() const;
    // Reads the header and the records after it: m_head, m_used, m_nextSeq.
    // false when the header is not whole.
    bool Recover(std::size_t readable);
    // A fresh header, with nothing to apply.
    void Reset();

    const std::string m_path;
    int m_fd = -1;
    char* m_map = nullptr;  // kFileSize octets, shared with the file
    std::size_t m_cutShortAt = 0;  // see CutShortAt
    mutable std::mutex m_lock;  // a leaf
    std::uint64_t m_head = 0;     // guarded by m_lock; where the next record goes
    std::uint64_t m_nextSeq = 1;  // guarded by m_lock; the next record's number
    std::uint64_t m_used = 0;     // guarded by m_lock; octets not applied (wrap marks too)
  };
}

#endif
