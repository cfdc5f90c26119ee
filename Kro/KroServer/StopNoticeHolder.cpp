#include "KroServer/StopNoticeHolder.h"

#include "KroServer/ServerStop.h"

namespace Krovane
{
  StopNoticeHolder::StopNoticeHolder() : UnavailableHolderImpl(ServerStop::kReason)
  {
    ServerStop::Instance().NoteNoticeSent();
  }

  void StopNoticeHolder::raise()
  {
    if (!m_raised.exchange(true))
      ServerStop::Instance().NoteNoticeRaised();
    UnavailableHolderImpl::raise();
  }
}
