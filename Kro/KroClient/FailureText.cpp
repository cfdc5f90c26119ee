#include "KroClient/FailureText.h"

#include "OrbLayer/PrintException.h"

namespace KroClient
{
  namespace
  {
    template <typename Family>
    bool Reason(const CORBA::Exception& failure, std::string& text)
    {
      const Family* member = Family::_downcast(&failure);
      if (member == nullptr)
        return false;
      text = std::string(failure._name()) + ": " + member->reason.in();
      return true;
    }
  }

  std::string FailureText(const CORBA::Exception& failure)
  {
    std::string text;
    using namespace Krovane;
    if (Reason<Unavailable>(failure, text) || Reason<AsyncOperationException>(failure, text) ||
        Reason<InvalidOperationId>(failure, text) || Reason<OperationsStillActive>(failure, text) ||
        Reason<OperationCancelled>(failure, text) || Reason<SysException>(failure, text) ||
        Reason<NoSuchObject>(failure, text) || Reason<InvalidOperationState>(failure, text) ||
        Reason<DatabaseConnectionFailure>(failure, text))
      return text;
    return KroOrb::DescribeException(failure);
  }

  std::string UnreachableText(const CORBA::SystemException& failure)
  {
    const char* const minor = KroOrb::MinorCodeName(failure);
    const char* const completed = failure.completed() == CORBA::COMPLETED_YES  ? "YES"
                                  : failure.completed() == CORBA::COMPLETED_NO ? "NO"
                                                                               : "MAYBE";
    return std::string("server unreachable: ") + (minor ? minor : failure._name()) + " (" + failure._name() +
           ", completed " + completed + ")";
  }
}
