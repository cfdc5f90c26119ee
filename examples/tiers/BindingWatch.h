// BindingWatch: keeps a tier server's name in the directory while it
// serves. Every interval a thread of its own looks the name up and binds it
// again when it is missing: a naming service restarted without its data
// forgets every name, and new clients could find no server although all of
// them still run. A name another server has taken over is left to it.
//
// Ownership and threads: main's, created once the name is bound and
// destroyed (which stops and joins the thread) before the directory goes.
// Lock: m_lock, taken alone.
#ifndef KRO_EXAMPLES_TIERS_BINDINGWATCH_H
#define KRO_EXAMPLES_TIERS_BINDINGWATCH_H

#include "TierDirectory.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace KroTiers
{
  class BindingWatch
  {
  public:
    // Watches name of tier, bound to factory (a duplicate is kept), in directory.
    BindingWatch(TierDirectory& directory, TierBinding::Tier tier, const std::string& name,
                 CORBA::Object_ptr factory, std::chrono::milliseconds interval);
    ~BindingWatch();
    BindingWatch(const BindingWatch&) = delete;
    BindingWatch& operator=(const BindingWatch&) = delete;

  private:
    // The thread's body: a look every interval until stopped.
    void Run();
    // One look, binding again where missing; failures logged once until it works again.
    void Look();

    TierDirectory& m_directory;                  // main's; outlives this
    const TierBinding::Tier m_tier;              // where the name is
    const std::string m_name;                    // the server's name
    const CORBA::Object_var m_factory;           // what the name is bound to
    const std::chrono::milliseconds m_interval;  // between two looks
    bool m_failing = false;                      // the watch thread's only; the last look failed (logged)

    std::mutex m_lock;                // taken alone
    std::condition_variable m_wake;   // signalled when stopping
    bool m_stopping = false;          // guarded by m_lock
    std::thread m_thread;             // started by the constructor, joined by the destructor
  };
}

#endif
