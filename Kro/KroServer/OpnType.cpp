#include "KroServer/OpnType.h"

namespace Krovane
{
  ACE_TSS<OpnType> threadLocalOperation;
}
