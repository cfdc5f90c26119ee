// Exception: the family's base exception, with the class and method where it
// was raised, a reason, and a trace of the places it passed on its way up.
#ifndef DAZADARED_EXCEPTION_H
#define DAZADARED_EXCEPTION_H

#include <string>

namespace Halvern_Utilities
{
  class Exception
  {
  public:
    Exception(const std::string& className, const std::string& methodName,
              const std::string& reason);
    Exception(const Exception& other);
    virtual ~Exception();

    // Notes that the exception passed through className::methodName.
    virtual void AppendTrace(const std::string& className, const std::string& methodName);
    // Why it was raised.
    virtual const std::string& Reason() const;
    // The trace "Class::Method <- Class::Method ...", each line prefixed by
    // prefix; the result is kept in the exception and returned.
    virtual std::string& Trace(const std::string& prefix);

    const std::string& ClassName() const { return m_className; }
    const std::string& MethodName() const { return m_methodName; }

  private:
    std::string m_className;   // where it was raised
    std::string m_methodName;  // where it was raised
    std::string m_reason;      // why
    std::string m_places;      // places it passed, one "Class::Method" per line
    std::string m_trace;       // the last text built by Trace
  };
}

#endif
