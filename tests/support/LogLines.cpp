#include "LogLines.h"

#include "LogCapture.h"  // NormalisePrefix

#include <cctype>

namespace KroTest
{
  std::vector<std::string> Lines(const std::string& text)
  {
    std::vector<std::string> lines;
    std::string::size_type start = 0;
    while (start < text.size())
    {
      std::string::size_type end = text.find('\n', start);
      if (end == std::string::npos)
        end = text.size();
      lines.push_back(text.substr(start, end - start));
      start = end + 1;
    }
    return lines;
  }

  namespace
  {
    // One "(pid|tid) body" line of process pid.
    struct PrefixedLine
    {
      std::string thread;
      std::string body;
    };

    std::vector<PrefixedLine> SplitPrefixed(const std::string& log, pid_t pid)
    {
      const std::string head = "(" + std::to_string(pid) + "|";
      std::vector<PrefixedLine> result;
      for (const std::string& line : Lines(log))
      {
        if (line.compare(0, head.size(), head) != 0)
          continue;
        std::string::size_type i = head.size();
        const std::string::size_type digits = i;
        while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])))
          ++i;
        if (i == digits || i >= line.size() || line[i] != ')')
          continue;
        result.push_back({line.substr(digits, i - digits), line.substr(i + 1)});
      }
      return result;
    }
  }

  std::vector<std::string> PrefixedLines(const std::string& log, pid_t pid)
  {
    std::vector<std::string> bodies;
    for (const PrefixedLine& line : SplitPrefixed(log, pid))
      bodies.push_back(line.body);
    return bodies;
  }

  std::vector<std::string> LinesOfThreadThatWrote(const std::string& log, pid_t pid, const std::string& body)
  {
    const std::vector<PrefixedLine> lines = SplitPrefixed(log, pid);
    std::string thread;
    for (const PrefixedLine& line : lines)
      if (line.body == body)
      {
        thread = line.thread;
        break;
      }
    std::vector<std::string> bodies;
    for (const PrefixedLine& line : lines)
      if (!thread.empty() && line.thread == thread)
        bodies.push_back(line.body);
    return bodies;
  }

  int CountPrefixed(const std::string& log, pid_t pid, const std::string& body)
  {
    int count = 0;
    for (const std::string& line : PrefixedLines(log, pid))
      count += line == body ? 1 : 0;
    return count;
  }

  int CountLines(const std::string& text, const std::string& line)
  {
    int count = 0;
    for (const std::string& each : Lines(text))
      count += each == line ? 1 : 0;
    return count;
  }

  int CountNormalised(const std::string& log, const std::string& line)
  {
    int count = 0;
    for (const std::string& each : Lines(log))
      count += NormalisePrefix(each) == line ? 1 : 0;
    return count;
  }

  Krovane::UserToken Token(const std::string& text)
  {
    Krovane::UserToken token;
    token.length(static_cast<CORBA::ULong>(text.size()));
    for (CORBA::ULong i = 0; i < token.length(); ++i)
      token[i] = static_cast<CORBA::Octet>(text[i]);
    return token;
  }
}
