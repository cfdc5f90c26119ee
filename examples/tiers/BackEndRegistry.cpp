#include "BackEndRegistry.h"

#include "KroServer/DependentServerEntry.h"

#include <ace/Log_Msg.h>

namespace KroTiers
{
  BackEndRegistry::~BackEndRegistry()
  {
    for (Krovane::DependentServerEntry* entry : m_list)
      delete entry;
  }

  std::size_t BackEndRegistry::Load(TierDirectory& directory)
  {
    for (const NamedFactory& backEnd : directory.BackEnds())
    {
      m_list.push_back(new Krovane::DependentServerEntry(backEnd.name, backEnd.factory.in(),
                                                         Krovane::IAsyncHandler::_nil(), nullptr,
                                                         Krovane::IAsyncServer::_nil(), 0, true, 0));
      ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) KroTiersFrontEnd: back end \"%C\" in the registry\n"),
                 backEnd.name.c_str()));
    }
    return m_list.size();
  }

  Krovane::DependentServerList* BackEndRegistry::List() { return &m_list; }
}
