// OperationStateName: the name of an operation's state as clients print it.
#ifndef KRO_EXAMPLES_COMMON_OPERATIONSTATENAME_H
#define KRO_EXAMPLES_COMMON_OPERATIONSTATENAME_H

#include "Krovane.hh"

namespace KroExample
{
  // "Queued", "Running", "Finished" or "Cancelled"; "?" for a value outside them.
  const char* OperationStateName(Krovane::OperationState state);
}

#endif
