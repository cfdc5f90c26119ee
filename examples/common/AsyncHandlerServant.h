// AsyncHandlerServant: the examples' name for the client library's base of a
// callback object (KroClient::CallbackServant: reference counted by the
// servant itself, the Sync forms of the callbacks handed to the plain ones).
// A subclass implements the six plain callbacks only.
#ifndef KRO_EXAMPLES_ASYNCHANDLERSERVANT_H
#define KRO_EXAMPLES_ASYNCHANDLERSERVANT_H

#include "KroClient/CallbackServant.h"

namespace KroExample
{
  using AsyncHandlerServant = KroClient::CallbackServant;
}

#endif
