#include "KroServer/StopNoticeHolder.h"

#include "KroServer/ServerStop.h"

namespace Krovane
{
  StopNoticeHolder::StopNoticeHolder() : UnavailableHolderImpl(ServerStop::kReason)
  {
    ServerStop::Instance().NoteNoticeSent();
  }

  void StopNoticeHolder::Retired()
  {
    if (!m_retired.exchange(true))
      ServerStop::Instance().NoteNoticeRaised();
  }
}
