#include "BindingWatch.h"

#include <ace/Log_Msg.h>

namespace KroTiers
{
  BindingWatch::BindingWatch(TierDirectory& directory, TierBinding::Tier tier, const std::string& name,
                             CORBA::Object_ptr factory, std::chrono::milliseconds interval)
    : m_directory(directory),
      m_tier(tier),
      m_name(name),
      m_factory(CORBA::Object::_duplicate(factory)),
      m_interval(interval),
      m_thread([this] { Run(); })
  {
  }

  BindingWatch::~BindingWatch()
  {
    {
      std::lock_guard<std::mutex> guard(m_lock);
      m_stopping = true;
      m_wake.notify_all();
    }
    m_thread.join();
  }

  void BindingWatch::Run()
  {
    std::unique_lock<std::mutex> guard(m_lock);
    while (!m_wake.wait_for(guard, m_interval, [this] { return m_stopping; }))
    {
      guard.unlock();
      Look();
      guard.lock();
    }
  }

  void BindingWatch::Look()
  {
    try
    {
      const bool bound = m_tier == TierBinding::kBackEnd
                           ? m_directory.BindBackEndIfMissing(m_name, m_factory.in())
                           : m_directory.BindFrontEndIfMissing(m_name, m_factory.in());
      if (bound)
        ACE_DEBUG((LM_NOTICE, ACE_TEXT("(%P|%t) TierDirectory: \"%C\" was missing and is bound again\n"),
                   m_name.c_str()));
      m_failing = false;
    }
    catch (const CORBA::Exception& ex)
    {
      if (!m_failing)
        ACE_DEBUG((LM_DEBUG, ACE_TEXT("(%P|%t) TierDirectory: cannot look \"%C\" up (%C)\n"), m_name.c_str(),
                   ex._name()));
      m_failing = true;
    }
  }
}
