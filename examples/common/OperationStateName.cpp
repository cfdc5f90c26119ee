#include "OperationStateName.h"

namespace KroExample
{
  const char* OperationStateName(Krovane::OperationState state)
  {
    switch (state)
    {
      case Krovane::Queued: return "Queued";
      case Krovane::Running: return "Running";
      case Krovane::Finished: return "Finished";
      case Krovane::Cancelled: return "Cancelled";
    }
    return "?";
  }
}
