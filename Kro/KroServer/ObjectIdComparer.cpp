#include "KroServer/ObjectIdComparer.h"

#include <algorithm>
#include <cstring>

namespace Krovane
{
  bool ObjectIdComparer::operator()(const PortableServer::ObjectId& a,
                                    const PortableServer::ObjectId& b) const
  {
    const CORBA::ULong lengthA = a.length();
    const CORBA::ULong lengthB = b.length();
    if (lengthA == 0)
      return lengthB != 0;
    if (lengthB == 0)
      return false;
    const int order = std::memcmp(a.get_buffer(), b.get_buffer(), std::min(lengthA, lengthB));
    if (order != 0)
      return order < 0;
    return lengthA < lengthB;
  }
}
