// LogCapture: collects every line logged through ACE_Log_Msg, from any
// thread, while it lives. Lines are kept as logged, with the "(pid|tid) "
// prefix replaced by "(%P|%t) " so that tests compare them with the texts
// of the code.
#ifndef KRO_TESTS_LOGCAPTURE_H
#define KRO_TESTS_LOGCAPTURE_H

#include <ace/Log_Msg_Backend.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

namespace KroTest
{
  class LogCapture : public ACE_Log_Msg_Backend
  {
  public:
    LogCapture();
    ~LogCapture() override;

    // Every line so far, in order.
    std::vector<std::string> Lines() const;
    // How many captured lines equal line exactly.
    int Count(const std::string& line) const;
    // Whether some captured line contains text.
    bool Contains(const std::string& text) const;
    // Waits until Count(line) >= times, at most timeout. Returns whether it did.
    bool WaitFor(const std::string& line, int times = 1,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    void Clear();

    // ACE_Log_Msg_Backend
    int open(const ACE_TCHAR* logger_key) override;
    int reset() override;
    int close() override;
    ssize_t log(ACE_Log_Record& record) override;

  private:
    mutable std::mutex m_lock;           // guards m_lines
    std::vector<std::string> m_lines;    // captured lines
    ACE_Log_Msg_Backend* m_previous;     // the backend before this one
    unsigned long m_previousFlags;       // ACE_Log_Msg flags before this one
  };

  // "(%P|%t) " in place of a leading "(pid|tid) ".
  std::string NormalisePrefix(const std::string& line);
}

#endif
