// OperationWatcher: what an operation tells of its life to whoever watches
// the process's operations (OperationRegistry, for operators). The records
// know only this interface, so they depend on nothing above them.
//
// Threads: Install is called once, before the operations it is to watch
// are made; Installed, Track and Ended from any thread. The watcher lives
// to the process's end.
#ifndef KROSERVER_OPERATIONWATCHER_H
#define KROSERVER_OPERATIONWATCHER_H

#include <memory>
#include <string>

namespace Krovane
{
  class OperationRecord;

  class OperationWatcher
  {
  public:
    // The watcher operations report to; null while none is installed.
    static OperationWatcher* Installed();
    // From now on operations report to watcher (replacing any before it).
    static void Install(OperationWatcher* watcher);

    // A record for a new operation, id of the object at objectKey (a key,
    // never followed) that works for user; null when it is not watched.
    virtual std::shared_ptr<OperationRecord> Track(const void* objectKey, const std::string& user, int id,
                                                   const std::string& name) = 0;
    // The operation has ended, or is deleted before it did: its last report.
    virtual void Ended(const std::shared_ptr<OperationRecord>& record) = 0;

  protected:
    ~OperationWatcher() = default;  // never deleted through this interface
  };
}

#endif
