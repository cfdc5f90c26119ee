// BackEndRegistry: the front end's registry of dependent servers, built
// from the naming service at start: one available entry per back end bound
// under KroTiers/BackEnds, in name order, named after it.
//
// Ownership: owns the entries and the list; the first front-end router
// made with List() makes it the process's registry, so it must outlive
// every router and pool thread: main keeps it until the process ends (the
// front end ends with _exit, and never destroys it).
// Threads: Load on main's thread before any router exists; afterwards the
// routers claim and free entries under the library's access lock.
#ifndef KRO_EXAMPLES_TIERS_BACKENDREGISTRY_H
#define KRO_EXAMPLES_TIERS_BACKENDREGISTRY_H

#include "TierDirectory.h"

#include "KroServer/DependentServerList.h"

#include <cstddef>

namespace KroTiers
{
  class BackEndRegistry
  {
  public:
    BackEndRegistry() = default;
    // Deletes the entries.
    ~BackEndRegistry();
    BackEndRegistry(const BackEndRegistry&) = delete;
    BackEndRegistry& operator=(const BackEndRegistry&) = delete;

    // Adds an entry for every back end in directory; returns how many.
    std::size_t Load(TierDirectory& directory);
    // The list to hand to the routers (not a copy).
    Krovane::DependentServerList* List();

  private:
    Krovane::DependentServerList m_list;  // the entries, owned
  };
}

#endif
