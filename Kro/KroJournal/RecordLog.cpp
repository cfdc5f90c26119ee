#include "KroJournal/RecordLog.h"

#include "KroJournal/JournalError.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace KroJournal
{
  namespace
  {
    const char kMagic[8] = {'K', 'R', 'O', 'R', 'E', 'C', 'S', '1'};
    constexpr std::uint32_t kWrapMark = 1;

    // FNV-1a, 64 bits: enough to tell a whole record from a cut or stale one.
    std::uint64_t Checksum(std::uint64_t sum, const void* data, std::size_t size)
    {
      const unsigned char* octets = static_cast<const unsigned char*>(data);
      for (std::size_t i = 0; i < size; ++i)
        sum = (sum ^ octets[i]) * 1099511628211ull;
      return sum;
    }
    constexpr std::uint64_t kChecksumStart = 14695981039346656037ull;

    std::string Reason(const char* what)
    {
      return std::string(what) + ": " + std::strerror(errno);
    }
  }

  // Two slots, written in turn: a process killed while it writes one leaves
  // the other whole (the older: its records are applied again, harmlessly).
  struct RecordLog::Header
  {
    struct Slot
    {
      std::uint64_t generation;  // the newer whole slot counts
      std::uint64_t tail;        // offset of the first record not applied
      std::uint64_t tailSeq;     // its number
      std::uint64_t sum;
    };
    char magic[8];
    Slot slots[2];
  };

  struct RecordLog::RecordHead
  {
    std::uint32_t length;  // of the payload
    std::uint32_t kind;    // 0: a record; kWrapMark: the next is at the start
    std::uint64_t seq;
    std::uint64_t sum;     // of the fields above and the payload
  };

  namespace
  {
    constexpr std::uint64_t kDataStart = RecordLog::kRingStart;
    constexpr std::uint64_t kDataSize = RecordLog::kFileSize - kDataStart;
    constexpr std::uint64_t kHeadSize = RecordLog::kRecordHead;

    template <typename Slot>
    std::uint64_t SlotSum(const Slot& slot)
    {
      return Checksum(kChecksumStart, &slot, offsetof(Slot, sum));
    }

    template <typename Head>
    std::uint64_t RecordSum(const Head& head, const char* payload)
    {
      return Checksum(Checksum(kChecksumStart, &head, offsetof(Head, sum)), payload, head.length);
    }
  }

  RecordLog::RecordLog(const std::string& path) : m_path(path)
  {
    static_assert(sizeof(Header) <= kDataStart, "the header fits before the ring");
    static_assert(sizeof(RecordHead) == kHeadSize, "record heads as the ring lays them out");
    m_fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_fd < 0)
      throw JournalError("its record log " + path + ": " + Reason("cannot open"));
    struct stat status = {};
    if (fstat(m_fd, &status) != 0)
    {
      close(m_fd);
      throw JournalError("its record log " + path + ": " + Reason("cannot read"));
    }
    const std::uint64_t readable = static_cast<std::uint64_t>(status.st_size);
    if (readable > 0 && readable < kFileSize)
      m_cutShortAt = static_cast<std::size_t>(readable);
    // All its blocks now: a full disk then refuses the journal, never a copy into the mapping.
    const int allocated = posix_fallocate(m_fd, 0, kFileSize);
    if (allocated != 0)
    {
      close(m_fd);
      errno = allocated;
      throw JournalError("its record log " + path + ": " + Reason("cannot allocate"));
    }
    void* map = mmap(nullptr, kFileSize, PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, 0);
    if (map == MAP_FAILED)
    {
      close(m_fd);
      throw JournalError("its record log " + path + ": " + Reason("cannot map"));
    }
    m_map = static_cast<char*>(map);
    if (readable == 0)
      Reset();  // new, or a journal of a build that kept none
    else if (!Recover(readable))
    {
      munmap(m_map, kFileSize);
      close(m_fd);
      throw JournalError("its record log " + path + " is damaged (no whole header)");
    }
  }

  RecordLog::~RecordLog()
  {
    munmap(m_map, kFileSize);
    close(m_fd);
  }

  RecordLog::Header& RecordLog::Head() const
  {
    return *reinterpret_cast<Header*>(m_map);
  }

  void RecordLog::Reset()
  {
    Header& header = Head();
    std::memset(&header, 0, sizeof header);
    std::memcpy(header.magic, kMagic, sizeof kMagic);
    header.slots[0] = {1, kDataStart, 1, 0};
    header.slots[0].sum = SlotSum(header.slots[0]);
    m_head = kDataStart;
    m_nextSeq = 1;
    m_used = 0;
  }

  bool RecordLog::Recover(std::size_t readable)
  {
    if (readable < sizeof(Header))
      return false;
    const Header& header = Head();
    if (std::memcmp(header.magic, kMagic, sizeof kMagic) != 0)
      return false;
    const Header::Slot* newest = nullptr;
    for (const Header::Slot& slot : header.slots)
      if (slot.sum == SlotSum(slot) && slot.tail >= kDataStart && slot.tail <= kFileSize &&
          (!newest || slot.generation > newest->generation))
        newest = &slot;
    if (!newest)
      return false;
    if (newest != &header.slots[0])
      Head().slots[0] = *newest;  // the slot MarkApplied reads first
    // Whole records with consecutive numbers, within what the file held.
    std::uint64_t at = newest->tail;
    std::uint64_t seq = newest->tailSeq;
    std::uint64_t used = 0;
    for (;;)
    {
      std::uint64_t waste = 0;
      if (kFileSize - at < kHeadSize)
        waste = kFileSize - at;
      else
      {
        const RecordHead& head = *reinterpret_cast<const RecordHead*>(m_map + at);
        if (at + kHeadSize > readable || head.seq != seq)
          break;
        if (head.kind == kWrapMark)
        {
          if (head.length != 0 || head.sum != RecordSum(head, nullptr))
            break;
          waste = kFileSize - at;
        }
        else
        {
          const std::uint64_t size = Footprint(head.length);
          if (head.kind != 0 || head.length > kMaxPayload || at + size > kFileSize ||
              at + kHeadSize + head.length > readable || used + size > kDataSize ||
              head.sum != RecordSum(head, m_map + at + kHeadSize))
            break;
          used += size;
          at += size;
          ++seq;
          continue;
        }
      }
      // A wrap mark at the start itself (damage whose checksum holds) would be read for ever.
      if (used + waste > kDataSize || at == kDataStart)
        break;
      used += waste;
      at = kDataStart;
    }
    m_head = at;
    m_nextSeq = seq;
    m_used = used;
    return true;
  }

  std::size_t RecordLog::Append(std::string_view payload)
  {
    if (payload.size() > kMaxPayload)
      return 0;
    const std::uint64_t size = Footprint(payload.size());
    std::lock_guard<std::mutex> guard(m_lock);
    // A record that ended at the very end of the file leaves no room at all:
    // the next one goes at the start too, with nothing wasted.
    const bool wraps = kFileSize - m_head < size;
    const std::uint64_t waste = wraps ? kFileSize - m_head : 0;
    if (m_used + waste + size > kDataSize)
      return 0;
    if (wraps)
    {
      if (waste >= kHeadSize)
      {
        RecordHead wrap = {0, kWrapMark, m_nextSeq, 0};
        wrap.sum = RecordSum(wrap, nullptr);
        std::memcpy(m_map + m_head, &wrap, sizeof wrap);
      }
      m_used += waste;
      m_head = kDataStart;
    }
    RecordHead head = {static_cast<std::uint32_t>(payload.size()), 0, m_nextSeq, 0};
    head.sum = RecordSum(head, payload.data());
    std::memcpy(m_map + m_head + kHeadSize, payload.data(), payload.size());
    std::memcpy(m_map + m_head, &head, sizeof head);
    m_head += size;
    m_used += size;
    ++m_nextSeq;
    return static_cast<std::size_t>(m_used);
  }

  std::size_t RecordLog::Used() const
  {
    std::lock_guard<std::mutex> guard(m_lock);
    return static_cast<std::size_t>(m_used);
  }

  RecordLog::Batch RecordLog::Unapplied() const
  {
    Batch batch;
    {
      std::lock_guard<std::mutex> guard(m_lock);
      batch.head = m_head;
      batch.nextSeq = m_nextSeq;
      batch.bytes = m_used;
    }
    // What lies between the tail and that head is whole and stays as it is
    // until MarkApplied: no lock needed to read it.
    std::uint64_t at = Head().slots[0].tail;
    std::uint64_t left = batch.bytes;
    while (left > 0)
    {
      if (kFileSize - at < kHeadSize)
      {
        left -= kFileSize - at;
        at = kDataStart;
        continue;
      }
      const RecordHead& head = *reinterpret_cast<const RecordHead*>(m_map + at);
      if (head.kind == kWrapMark)
      {
        left -= kFileSize - at;
        at = kDataStart;
        continue;
      }
      batch.records.emplace_back(m_map + at + kHeadSize, head.length);
      const std::uint64_t size = Footprint(head.length);
      left -= size;
      at += size;
    }
    return batch;
  }

  void RecordLog::MarkApplied(const Batch& batch)
  {
    if (batch.bytes == 0)
      return;
    Header& header = Head();
    // Both slots get the new tail, one after the other: a kill while one is
    // written leaves the other whole, old or new.
    const Header::Slot current = header.slots[0];
    Header::Slot next = {current.generation + 1, batch.head, batch.nextSeq, 0};
    next.sum = SlotSum(next);
    header.slots[1] = next;
    header.slots[0] = next;
    std::lock_guard<std::mutex> guard(m_lock);
    m_used -= batch.bytes;
  }
}
