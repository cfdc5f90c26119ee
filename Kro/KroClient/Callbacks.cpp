#include "KroClient/Callbacks.h"

namespace KroClient
{
  const char* OutcomeName(Outcome outcome)
  {
    switch (outcome)
    {
      case Outcome::Pending: return "Pending";
      case Outcome::Finished: return "Finished";
      case Outcome::Cancelled: return "Cancelled";
      case Outcome::Failed: return "Failed";
    }
    return "?";
  }
}
