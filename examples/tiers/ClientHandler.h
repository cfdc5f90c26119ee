// ClientHandler: the client's callback object. It prints every callback
// on standard output, one line each ("client: Progress 50%", ...), raises
// each Error holder to print what it carries, and lets main wait for
// Finished.
//
// Ownership: reference counted; main activates it in the root POA.
// Threads: callbacks on ORB threads; WaitForFinished on main's thread.
#ifndef KRO_EXAMPLES_TIERS_CLIENTHANDLER_H
#define KRO_EXAMPLES_TIERS_CLIENTHANDLER_H

#include "AsyncHandlerServant.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace KroTiers
{
  class ClientHandler : public KroExample::AsyncHandlerServant
  {
  public:
    // Whether Finished came within timeout.
    bool WaitForFinished(std::chrono::milliseconds timeout);

    // IAsyncHandler (the Sync forms come here through AsyncHandlerServant)
    void Queued(CORBA::Long position) override;
    void Status(const char* text) override;
    void Progress(CORBA::Double progress) override;
    void Results(const CORBA::Any& data) override;
    void Finished(const CORBA::Any& data) override;
    void Error(Krovane::IAsyncExceptionHolder_ptr holder) override;

  private:
    std::mutex m_lock;                          // guards m_finished
    std::condition_variable m_finishedChanged;  // signalled when Finished comes
    bool m_finished = false;                    // Finished came
  };
}

#endif
