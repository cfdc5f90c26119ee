// ORBInitializationError: a task was given no ORB to work with.
#ifndef KROSERVER_ORBINITIALIZATIONERROR_H
#define KROSERVER_ORBINITIALIZATIONERROR_H

#include "KroServer/KroException.h"

namespace Krovane
{
  class ORBInitializationError : public KroException
  {
  public:
    ORBInitializationError(const std::string& className, const std::string& methodName,
                           const std::string& reason);
    ORBInitializationError(const ORBInitializationError& other);
  };
}

#endif
