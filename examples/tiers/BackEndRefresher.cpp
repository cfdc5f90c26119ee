#include "BackEndRefresher.h"

#include <ace/Log_Msg.h>

namespace KroTiers
{
  BackEndRefresher::BackEndRefresher(BackEndRegistry& registry, std::chrono::milliseconds interval)
    : m_registry(registry), m_interval(interval)
  {
  }

  std::size_t BackEndRefresher::RefreshNow()
  {
    std::uint64_t readsBefore = 0;
    {
      std::lock_guard<std::mutex> guard(m_refreshLock);
      readsBefore = m_reads;
    }
    std::lock_guard<std::mutex> guard(m_refreshLock);
    if (!m_directory)
      return 0;
    if (m_reads != readsBefore)
      return m_listed;  // another caller re-read while this one waited
    try
    {
      std::vector<NamedFactory> backEnds = m_directory->BackEnds();
      // A naming service restarted without its data lists nobody, while
      // the back ends still serve: one that answers stays (and binds its
      // name again by itself).
      for (NamedFactory& unlisted : m_registry.Unlisted(backEnds))
        if (m_directory->Answers(unlisted.factory.in()))
          backEnds.push_back(std::move(unlisted));
      m_listed = m_registry.Update(backEnds);
      if (m_failing)
        ACE_DEBUG((LM_INFO, ACE_TEXT("(%P|%t) KroTiersFrontEnd: the naming service answers again\n")));
      m_failing = false;
    }
    catch (const CORBA::Exception& ex)
    {
      // The registry stays as it was: its back ends may well still serve.
      if (!m_failing)
        ACE_DEBUG((LM_INFO, ACE_TEXT("(%P|%t) KroTiersFrontEnd: the back ends cannot be listed (%C)\n"),
                   ex._name()));
      m_failing = true;
    }
    ++m_reads;
    return m_listed;
  }

  void BackEndRefresher::RefreshSoon()
  {
    std::lock_guard<std::mutex> guard(m_wakeLock);
    m_soon = true;
    m_wake.notify_all();
  }

  void BackEndRefresher::Run()
  {
    std::unique_lock<std::mutex> guard(m_wakeLock);
    while (!m_stopping)
    {
      m_wake.wait_for(guard, m_interval, [this] { return m_soon || m_stopping; });
      if (m_stopping)
        break;
      m_soon = false;
      guard.unlock();
      RefreshNow();
      guard.lock();
    }
  }

  BackEndRefresher::Running::Running(BackEndRefresher& refresher, TierDirectory& directory)
    : m_refresher(refresher)
  {
    {
      std::lock_guard<std::mutex> guard(refresher.m_refreshLock);
      refresher.m_directory = &directory;
    }
    {
      std::lock_guard<std::mutex> guard(refresher.m_wakeLock);
      refresher.m_stopping = false;
    }
    if (refresher.RefreshNow() == 0)
      ACE_DEBUG((LM_INFO, ACE_TEXT("(%P|%t) KroTiersFrontEnd: no back end yet\n")));
    refresher.m_thread = std::thread([&refresher] { refresher.Run(); });
  }

  BackEndRefresher::Running::~Running()
  {
    {
      std::lock_guard<std::mutex> guard(m_refresher.m_wakeLock);
      m_refresher.m_stopping = true;
      m_refresher.m_wake.notify_all();
    }
    m_refresher.m_thread.join();
    // After a re-read that a router may still be running.
    std::lock_guard<std::mutex> guard(m_refresher.m_refreshLock);
    m_refresher.m_directory = nullptr;
  }
}
