#include "BackEndRegistry.h"

#include "KroServer/AsynchronousDepServerRouter.h"

#include <ace/Guard_T.h>
#include <ace/Log_Msg.h>

#include <algorithm>

namespace KroTiers
{
  namespace
  {
    void LogEach(const std::vector<std::string>& names, const ACE_TCHAR* format)
    {
      for (const std::string& name : names)
        ACE_DEBUG((LM_INFO, format, name.c_str()));
    }
  }

  std::size_t BackEndRegistry::Update(const std::vector<NamedFactory>& backEnds)
  {
    std::vector<std::string> added, left;
    std::size_t listed = 0;
    {
      ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, *Krovane::AsynchronousDepServerRouter::GetAccessLock(), 0);
      for (auto it = m_listed.begin(); it != m_listed.end();)
      {
        const auto now = std::find_if(backEnds.begin(), backEnds.end(),
                                      [&](const NamedFactory& backEnd) { return backEnd.name == it->first; });
        if (now != backEnds.end() && now->ior == it->second.ior)
        {
          ++it;
          continue;
        }
        left.push_back(it->first);
        TakeOut(it++);
      }
      for (const NamedFactory& backEnd : backEnds)
      {
        if (m_listed.count(backEnd.name))
          continue;
        m_owned.push_back(std::make_unique<Krovane::DependentServerEntry>(
          backEnd.name, backEnd.factory.in(), Krovane::IAsyncHandler::_nil(), nullptr,
          Krovane::IAsyncServer::_nil(), 0, true, 0));
        m_list.push_back(m_owned.back().get());
        m_listed[backEnd.name] = Listed{m_owned.back().get(), backEnd.ior};
        added.push_back(backEnd.name);
      }
      DeleteFreeRetired();
      listed = m_list.size();
    }
    LogEach(left, ACE_TEXT("(%P|%t) KroTiersFrontEnd: back end \"%C\" left the registry\n"));
    LogEach(added, ACE_TEXT("(%P|%t) KroTiersFrontEnd: back end \"%C\" in the registry\n"));
    return listed;
  }

  std::vector<NamedFactory> BackEndRegistry::Unlisted(const std::vector<NamedFactory>& backEnds)
  {
    std::vector<NamedFactory> unlisted;
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, *Krovane::AsynchronousDepServerRouter::GetAccessLock(), unlisted);
    for (const auto& listed : m_listed)
    {
      const bool named = std::any_of(backEnds.begin(), backEnds.end(),
                                     [&](const NamedFactory& backEnd) { return backEnd.name == listed.first; });
      if (!named)
        unlisted.push_back(NamedFactory{listed.first, listed.second.entry->GetFactory(), listed.second.ior});
    }
    return unlisted;
  }

  void BackEndRegistry::Withdraw(Krovane::DependentServerEntry* entry)
  {
    std::string name;
    {
      ACE_GUARD(ACE_Thread_Mutex, guard, *Krovane::AsynchronousDepServerRouter::GetAccessLock());
      const auto listed = std::find_if(m_listed.begin(), m_listed.end(),
                                       [&](const auto& named) { return named.second.entry == entry; });
      if (listed == m_listed.end())
        return;
      name = listed->first;
      TakeOut(listed);
    }
    ACE_DEBUG((LM_INFO, ACE_TEXT("(%P|%t) KroTiersFrontEnd: back end \"%C\" failed and left the registry\n"),
               name.c_str()));
  }

  void BackEndRegistry::TakeOut(std::map<std::string, Listed>::iterator listed)
  {
    m_list.remove(listed->second.entry);
    m_listed.erase(listed);
  }

  void BackEndRegistry::DeleteFreeRetired()
  {
    // Free: no operation holds it, and out of the list none can claim it.
    m_owned.remove_if([this](const std::unique_ptr<Krovane::DependentServerEntry>& entry) {
      return entry->isAvailable() && std::find(m_list.begin(), m_list.end(), entry.get()) == m_list.end();
    });
  }

  Krovane::DependentServerList* BackEndRegistry::List() { return &m_list; }
}
