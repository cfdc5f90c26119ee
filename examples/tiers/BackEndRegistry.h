// BackEndRegistry: the front end's registry of dependent servers, kept in
// step with the back ends bound under KroTiers/BackEnds: one entry per back
// end that answers, named after it, in the order they came.
//
// Entries come and go only under the library's access lock, and an entry
// that an operation holds is never touched: a back end that is gone (or
// failed an operation) has its entry taken out of the list, so that it is
// never claimed again; the operation holding it frees it as usual, and it
// is deleted at a later update, once free. A back end that comes back, or
// whose name is bound to a new server, gets a new entry.
//
// Ownership: owns every entry it made; the first front-end router made
// with List() makes the list the process's registry, so it must outlive
// every router and pool thread: main keeps it until the process ends (the
// front end ends with _exit, and never destroys it).
// Threads: any thread; Update and Withdraw take the access lock.
#ifndef KRO_EXAMPLES_TIERS_BACKENDREGISTRY_H
#define KRO_EXAMPLES_TIERS_BACKENDREGISTRY_H

#include "TierDirectory.h"

#include "KroServer/DependentServerEntry.h"
#include "KroServer/DependentServerList.h"

#include <cstddef>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace KroTiers
{
  class BackEndRegistry
  {
  public:
    BackEndRegistry() = default;
    BackEndRegistry(const BackEndRegistry&) = delete;
    BackEndRegistry& operator=(const BackEndRegistry&) = delete;

    // Brings the list in step with backEnds (every back end that answers
    // now); returns how many entries are in it.
    std::size_t Update(const std::vector<NamedFactory>& backEnds);
    // The listed back ends that backEnds leaves out (their names, factories
    // and references), for the caller to ask whether they still answer.
    std::vector<NamedFactory> Unlisted(const std::vector<NamedFactory>& backEnds);
    // Takes entry out of the list: its back end failed the operation that
    // holds it. Nothing when it is out already.
    void Withdraw(Krovane::DependentServerEntry* entry);
    // The list to hand to the routers (not a copy).
    Krovane::DependentServerList* List();

  private:
    // An entry in the list.
    struct Listed
    {
      Krovane::DependentServerEntry* entry;  // owned through m_owned
      std::string ior;                       // its factory's reference as text
    };

    // Takes the entry of name out of the list (the access lock held).
    void TakeOut(std::map<std::string, Listed>::iterator listed);
    // Deletes the entries out of the list that no operation holds (the access lock held).
    void DeleteFreeRetired();

    Krovane::DependentServerList m_list;  // guarded by the access lock; the entries that may be claimed
    std::map<std::string, Listed> m_listed;  // guarded by the access lock; back end name -> its entry in m_list
    std::list<std::unique_ptr<Krovane::DependentServerEntry>> m_owned;  // guarded by the access lock; every entry alive
  };
}

#endif
