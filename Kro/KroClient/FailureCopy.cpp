#include "KroClient/FailureCopy.h"

namespace KroClient
{
  FailureCopy::FailureCopy(const CORBA::Exception& failure) : m_failure(CORBA::Exception::_duplicate(&failure)) {}

  void FailureCopy::raise() { m_failure->_raise(); }
}
