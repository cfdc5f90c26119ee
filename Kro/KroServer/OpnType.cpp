#include "KroServer/OpnType.h"

namespace Krovane
{
  // Made with the loading thread's own record, so that the store's key exists
  // before any other thread can use it: ACE makes the key at first use behind
  // an unsynchronised check, a race for two threads that come at once.
  ACE_TSS<OpnType> threadLocalOperation(new OpnType);
}
