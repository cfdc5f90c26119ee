#include "KroServer/UserLimits.h"

#include <atomic>

namespace Krovane
{
  namespace
  {
    std::atomic<int> s_maxObjects(0);  // 0: no bound
    std::atomic<int> s_maxQueued(0);   // 0: no bound
    std::atomic<int> s_maxToken(4096); // 0: no bound
  }

  void UserLimits::SetMaxObjectsPerUser(int count) { s_maxObjects.store(count > 0 ? count : 0); }

  int UserLimits::MaxObjectsPerUser() { return s_maxObjects.load(); }

  void UserLimits::SetMaxQueuedOperationsPerUser(int count) { s_maxQueued.store(count > 0 ? count : 0); }

  int UserLimits::MaxQueuedOperationsPerUser() { return s_maxQueued.load(); }

  void UserLimits::SetMaxTokenOctets(int count) { s_maxToken.store(count > 0 ? count : 0); }

  int UserLimits::MaxTokenOctets() { return s_maxToken.load(); }
}
