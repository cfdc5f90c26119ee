// StopNoticeHolder: the Unavailable holder ("server is stopping") that a
// stopping server sends with the Error of each operation it cancels. Its
// raise() also tells ServerStop, which keeps the ORB serving until the
// notices sent have been raised (for a bounded while).
//
// Ownership and threads as for UnavailableHolderImpl.
#ifndef KROSERVER_STOPNOTICEHOLDER_H
#define KROSERVER_STOPNOTICEHOLDER_H

#include "KroServer/UnavailableHolderImpl.h"

#include <atomic>

namespace Krovane
{
  class StopNoticeHolder : public UnavailableHolderImpl
  {
  public:
    // Counts itself as sent (ServerStop::NoteNoticeSent).
    StopNoticeHolder();

    // Tells ServerStop the first time, then throws Krovane::Unavailable.
    virtual void raise();

  private:
    std::atomic<bool> m_raised{false};  // raise() has been called
  };
}

#endif
