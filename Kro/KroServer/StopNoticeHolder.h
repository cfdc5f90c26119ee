// StopNoticeHolder: the Unavailable holder ("server is stopping") that a
// stopping server sends with the Error of each operation it cancels. Once
// raised and retired (the server interceptor's doing) it tells ServerStop,
// which keeps the ORB serving until the notices sent have been raised (for
// a bounded while): retiring a holder needs its POA, so the ORB must not go
// while one is on its way.
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

    // Tells ServerStop (NoteNoticeRaised), once.
    virtual void Retired();

  private:
    std::atomic<bool> m_retired{false};  // Retired() has been called
  };
}

#endif
