#include "KroServer/OperationQueueEntry.h"
#include "KroServer/Dispatchable.h"

namespace Krovane
{
  void OperationQueueEntry::Report()
  {
    if (m_item)
      m_item->ReportQueuePosition(m_position);
  }
}
