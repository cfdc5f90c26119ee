// KroException: the server library's own exception.
#ifndef KROSERVER_KROEXCEPTION_H
#define KROSERVER_KROEXCEPTION_H

#include "Dazadared/Exception.h"

namespace Krovane
{
  class KroException : public Halvern_Utilities::Exception
  {
  public:
    KroException(const std::string& className, const std::string& methodName,
                 const std::string& reason);
    KroException(const KroException& other);
  };
}

#endif
