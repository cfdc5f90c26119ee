#include "support/LogCapture.h"

#include <ace/Log_Msg.h>
#include <ace/Log_Record.h>

#include <regex>
#include <thread>

namespace KroTest
{
  std::string NormalisePrefix(const std::string& line)
  {
    static const std::regex prefix("^\\([0-9]+\\|[0-9]+\\) ");
    return std::regex_replace(line, prefix, "(%P|%t) ", std::regex_constants::format_first_only);
  }

  LogCapture::LogCapture()
  {
    m_previous = ACE_Log_Msg::msg_backend(this);
    m_previousFlags = ACE_LOG_MSG->flags();
    ACE_LOG_MSG->set_flags(ACE_Log_Msg::CUSTOM);
    ACE_LOG_MSG->clr_flags(ACE_Log_Msg::STDERR);
  }

  LogCapture::~LogCapture()
  {
    ACE_LOG_MSG->clr_flags(ACE_Log_Msg::CUSTOM);
    ACE_LOG_MSG->set_flags(m_previousFlags);
    ACE_Log_Msg::msg_backend(m_previous);
  }

  std::vector<std::string> LogCapture::Lines() const
  {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_lines;
  }

  int LogCapture::Count(const std::string& line) const
  {
    std::lock_guard<std::mutex> guard(m_lock);
    int count = 0;
    for (const std::string& captured : m_lines)
      if (captured == line)
        ++count;
    return count;
  }

  bool LogCapture::Contains(const std::string& text) const
  {
    std::lock_guard<std::mutex> guard(m_lock);
    for (const std::string& captured : m_lines)
      if (captured.find(text) != std::string::npos)
        return true;
    return false;
  }

  bool LogCapture::WaitFor(const std::string& line, int times, std::chrono::milliseconds timeout) const
  {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (Count(line) < times)
    {
      if (std::chrono::steady_clock::now() >= deadline)
        return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }

  void LogCapture::Clear()
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_lines.clear();
  }

  int LogCapture::open(const ACE_TCHAR*) { return 0; }
  int LogCapture::reset() { return 0; }
  int LogCapture::close() { return 0; }

  ssize_t LogCapture::log(ACE_Log_Record& record)
  {
    const std::string line = NormalisePrefix(ACE_TEXT_ALWAYS_CHAR(record.msg_data()));
    std::lock_guard<std::mutex> guard(m_lock);
    m_lines.push_back(line);
    return static_cast<ssize_t>(line.size());
  }
}
