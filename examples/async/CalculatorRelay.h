// CalculatorRelay: the library's handler relay as the example uses it, with
// one addition: it says in the log when it goes, which shows that every
// operation's relay is retired once the operation has left the pool.
//
// Ownership: a reference-counted servant. CalculatorRouter::Compute creates
// it, activates it in the router's POA and lets go of it; the POA holds it
// until the operation deactivates it. Threads: as AsynchronousHandler; the
// operation id may be set from any thread.
#ifndef KRO_EXAMPLES_CALCULATORRELAY_H
#define KRO_EXAMPLES_CALCULATORRELAY_H

#include "KroServer/AsynchronousHandler.h"

#include <atomic>

namespace KroExample
{
  class CalculatorRelay : public Krovane::AsynchronousHandler
  {
  public:
    // Relays to handler (nil: to nobody).
    explicit CalculatorRelay(Krovane::IAsyncHandler_ptr handler);
    // Logs "relay of operation <id> deleted".
    ~CalculatorRelay() override;

    // The id of the operation it serves, for the log.
    void SetOperationId(int id);

  private:
    std::atomic<int> m_operationId;  // 0 until the operation is submitted
  };
}

#endif
