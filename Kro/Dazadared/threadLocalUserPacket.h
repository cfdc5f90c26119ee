// Each thread's current user. Created empty on a thread's first use and
// deleted when the thread ends. The server library sets it before it runs a
// request or an operation; outgoing calls carry it.
#ifndef DAZADARED_THREADLOCALUSERPACKET_H
#define DAZADARED_THREADLOCALUSERPACKET_H

#include "Dazadared/UserPacket.h"

#include <ace/TSS_T.h>

namespace Halvern_Utilities
{
  extern ACE_TSS<UserPacket> threadLocalUserPacket;
}

#endif
