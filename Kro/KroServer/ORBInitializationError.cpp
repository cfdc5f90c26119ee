#include "KroServer/ORBInitializationError.h"

namespace Krovane
{
  ORBInitializationError::ORBInitializationError(const std::string& className,
                                                 const std::string& methodName,
                                                 const std::string& reason)
    : KroException(className, methodName, reason)
  {
  }

  ORBInitializationError::ORBInitializationError(const ORBInitializationError& other) = default;
}
