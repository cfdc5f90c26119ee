#include "Dazadared/threadLocalUserPacket.h"

namespace Halvern_Utilities
{
  ACE_TSS<UserPacket> threadLocalUserPacket;
}
