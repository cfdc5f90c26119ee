// The two-tier example's registry of back ends (examples/tiers) as the
// directory's listing changes under it: entries come in the order their
// back ends came, a back end bound anew gets a new entry, and an entry that
// an operation holds is taken out of the list but left alone until it is
// freed (under AddressSanitizer, a use of a deleted entry fails the test).
// Holding is what the library's claim does: unavailable, under the access
// lock.
#include "BackEndRegistry.h"

#include "KroServer/AsynchronousDepServerRouter.h"

#include <gtest/gtest.h>

#include <ace/Guard_T.h>

#include <string>
#include <vector>

namespace
{
  using KroTiers::NamedFactory;
  using Krovane::DependentServerEntry;

  // A listing of back ends: name and reference text (no real factories are needed).
  std::vector<NamedFactory> Listing(const std::vector<std::pair<std::string, std::string>>& backEnds)
  {
    std::vector<NamedFactory> listing;
    for (const auto& backEnd : backEnds)
      listing.push_back(NamedFactory{backEnd.first, Krovane::IServerFactory::_nil(), backEnd.second});
    return listing;
  }

  // The names in the registry's list, in claim order.
  std::string Names(KroTiers::BackEndRegistry& registry)
  {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, *Krovane::AsynchronousDepServerRouter::GetAccessLock(), "");
    std::string names;
    for (DependentServerEntry* entry : *registry.List())
      names += (names.empty() ? "" : " ") + entry->GetServerName();
    return names;
  }

  DependentServerEntry* Entry(KroTiers::BackEndRegistry& registry, const std::string& name)
  {
    for (DependentServerEntry* entry : *registry.List())
      if (entry->GetServerName() == name)
        return entry;
    return nullptr;
  }

  void SetHeld(DependentServerEntry* entry, bool held)
  {
    ACE_GUARD(ACE_Thread_Mutex, guard, *Krovane::AsynchronousDepServerRouter::GetAccessLock());
    entry->SetAvailable(!held);
  }
}

TEST(BackEndRegistryTest, EntriesFollowTheListingAndAHeldEntryIsLeftAloneUntilFreed)
{
  KroTiers::BackEndRegistry registry;
  EXPECT_EQ(2u, registry.Update(Listing({{"B1", "ior-1"}, {"B2", "ior-2"}})));
  EXPECT_EQ("B1 B2", Names(registry));
  DependentServerEntry* const first = Entry(registry, "B1");

  // Unchanged: the same entries; a later back end comes last.
  EXPECT_EQ(3u, registry.Update(Listing({{"A0", "ior-0"}, {"B1", "ior-1"}, {"B2", "ior-2"}})));
  EXPECT_EQ("B1 B2 A0", Names(registry));
  EXPECT_EQ(first, Entry(registry, "B1"));

  // B1 held by an operation, then gone from the listing: out of the list,
  // untouched (still held, its name readable) until freed.
  SetHeld(first, true);
  EXPECT_EQ(2u, registry.Update(Listing({{"A0", "ior-0"}, {"B2", "ior-2"}})));
  EXPECT_EQ("B2 A0", Names(registry));
  EXPECT_FALSE(first->isAvailable());
  EXPECT_EQ("B1", first->GetServerName());
  // Back under its name with a new reference, while the old entry is still held.
  EXPECT_EQ(3u, registry.Update(Listing({{"A0", "ior-0"}, {"B1", "ior-1b"}, {"B2", "ior-2"}})));
  EXPECT_EQ("B2 A0 B1", Names(registry));
  EXPECT_NE(first, Entry(registry, "B1"));
  EXPECT_TRUE(Entry(registry, "B1")->isAvailable());
  SetHeld(first, false);  // the library frees it; the next update deletes it
  registry.Update(Listing({{"A0", "ior-0"}, {"B1", "ior-1b"}, {"B2", "ior-2"}}));

  // A back end that failed its operation: withdrawn at once while held,
  // twice is harmless, and it returns only with the next listing.
  DependentServerEntry* const second = Entry(registry, "B2");
  SetHeld(second, true);
  registry.Withdraw(second);
  registry.Withdraw(second);
  EXPECT_EQ("A0 B1", Names(registry));
  EXPECT_EQ("B2", second->GetServerName());
  SetHeld(second, false);
  EXPECT_EQ(3u, registry.Update(Listing({{"A0", "ior-0"}, {"B1", "ior-1b"}, {"B2", "ior-2"}})));
  EXPECT_EQ("A0 B1 B2", Names(registry));

  // Nothing listed (the naming service was emptied): nothing to claim.
  EXPECT_EQ(0u, registry.Update({}));
  EXPECT_EQ("", Names(registry));
}
