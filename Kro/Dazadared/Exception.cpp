#include "Dazadared/Exception.h"

namespace Halvern_Utilities
{
  Exception::Exception(const std::string& className, const std::string& methodName,
                       const std::string& reason)
    : m_className(className), m_methodName(methodName), m_reason(reason),
      m_places(className + "::" + methodName + "\n")
  {
  }

  Exception::Exception(const Exception& other) = default;
  Exception::~Exception() {}

  void Exception::AppendTrace(const std::string& className, const std::string& methodName)
  {
    m_places += className + "::" + methodName + "\n";
  }

  const std::string& Exception::Reason() const { return m_reason; }

  std::string& Exception::Trace(const std::string& prefix)
  {
    m_trace.clear();
    std::string::size_type start = 0;
    while (start < m_places.size())
    {
      const std::string::size_type end = m_places.find('\n', start);
      m_trace += prefix + m_places.substr(start, end - start + 1);
      start = end + 1;
    }
    m_trace += prefix + "reason: " + m_reason + "\n";
    return m_trace;
  }
}
