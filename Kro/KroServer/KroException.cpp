#include "KroServer/KroException.h"

namespace Krovane
{
  KroException::KroException(const std::string& className, const std::string& methodName,
                             const std::string& reason)
    : Halvern_Utilities::Exception(className, methodName, reason)
  {
  }

  KroException::KroException(const KroException& other) = default;
}
