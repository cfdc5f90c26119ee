#include "KroServer/OperationWatcher.h"

#include <atomic>

namespace Krovane
{
  namespace
  {
    std::atomic<OperationWatcher*> s_installed{nullptr};  // set before the operations it watches exist
  }

  OperationWatcher* OperationWatcher::Installed() { return s_installed.load(std::memory_order_acquire); }

  void OperationWatcher::Install(OperationWatcher* watcher) { s_installed.store(watcher, std::memory_order_release); }
}
