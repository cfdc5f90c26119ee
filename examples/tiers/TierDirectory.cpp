#include "TierDirectory.h"

#include "OrbLayer/PrintException.h"

#include <ace/Log_Msg.h>

#include <omniORB4/minorCode.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace KroTiers
{
  namespace
  {
    const char* const c_top = "KroTiers";         // the example's own context
    const char* const c_backEnds = "BackEnds";    // where back ends are bound
    const char* const c_frontEnds = "FrontEnds";  // where front ends are bound
    const char* const c_kind = "factory";         // kind of every factory binding
    // Bindings listed at most: beyond that a directory is not the example's.
    const CORBA::ULong c_maxBindings = 1000;

    // A name of the given components; the last one gets kind, if any.
    CosNaming::Name MakeName(const std::vector<std::string>& ids, const char* lastKind)
    {
      CosNaming::Name name;
      name.length(static_cast<CORBA::ULong>(ids.size()));
      for (CORBA::ULong i = 0; i < name.length(); ++i)
      {
        name[i].id = CORBA::string_dup(ids[i].c_str());
        name[i].kind = CORBA::string_dup(i + 1 == name.length() && lastKind ? lastKind : "");
      }
      return name;
    }

    // A binding's name as text ("B1.factory", "a/b").
    std::string NameText(const CosNaming::Name& name)
    {
      std::string text;
      for (CORBA::ULong i = 0; i < name.length(); ++i)
      {
        text += (i ? "/" : "") + std::string(name[i].id.in());
        if (*name[i].kind.in())
          text += std::string(".") + name[i].kind.in();
      }
      return text;
    }
  }

  TierDirectory::TierDirectory(CORBA::ORB_ptr orb, const std::string& where, std::chrono::milliseconds callTimeout)
    : m_orb(CORBA::ORB::_duplicate(orb)), m_callTimeout(callTimeout)
  {
    try
    {
      CORBA::Object_var object = orb->resolve_initial_references("NameService");
      Bound(object.in());
      m_root = CosNaming::NamingContext::_narrow(object.in());  // asks the service for its type
    }
    catch (const CORBA::Exception& ex)
    {
      throw std::runtime_error("cannot reach the naming service at " + where + ": " + KroOrb::DescribeException(ex));
    }
    if (CORBA::is_nil(m_root.in()))
      throw std::runtime_error("no naming service at " + where);
    Bound(m_root.in());
  }

  std::string NamingServiceLocation(const std::vector<char*>& orbArgs)
  {
    const std::string prefix = "NameService=";
    for (std::size_t i = 1; i + 1 < orbArgs.size() && orbArgs[i] && orbArgs[i + 1]; ++i)
    {
      const std::string option = orbArgs[i];
      const std::string value = orbArgs[i + 1];
      if (option == "-ORBInitRef" && value.compare(0, prefix.size(), prefix) == 0)
        return value.substr(prefix.size());
      if (option == "-ORBDefaultInitRef")
        return value + "/NameService";
    }
    return std::string("the address the ORB is configured with (no ") + kNamingServiceOption + " given)";
  }

  void TierDirectory::Bound(CORBA::Object_ptr object) const
  {
    if (!CORBA::is_nil(object))
      omniORB::setClientCallTimeout(object, static_cast<CORBA::ULong>(m_callTimeout.count()));
  }

  TierDirectory::Reach TierDirectory::Probe(CORBA::Object_ptr object)
  {
    const auto start = std::chrono::steady_clock::now();
    try
    {
      return object->_non_existent() ? Reach::Gone : Reach::Answers;
    }
    catch (const CORBA::OBJECT_NOT_EXIST&)
    {
      return Reach::Gone;
    }
    catch (const CORBA::TRANSIENT& ex)
    {
      // Refused at once: nobody listens there. A connection that only times
      // out may be a host that is cut off for a while: not taken for gone.
      const bool atOnce = std::chrono::steady_clock::now() - start < m_callTimeout / 2;
      return ex.minor() == omni::TRANSIENT_ConnectFailed && atOnce ? Reach::Gone : Reach::Silent;
    }
    catch (const CORBA::SystemException&)
    {
      return Reach::Silent;
    }
  }

  void TierDirectory::ReportSkipped(const std::string& name, const std::string& reason)
  {
    {
      std::lock_guard<std::mutex> guard(m_reportedLock);
      std::string& last = m_skipped[name];
      if (last == reason)
        return;
      last = reason;
    }
    ACE_DEBUG((LM_INFO, ACE_TEXT("(%P|%t) TierDirectory: \"%C\" skipped: %C\n"), name.c_str(), reason.c_str()));
  }

  void TierDirectory::ReportAnswering(const std::string& name)
  {
    std::lock_guard<std::mutex> guard(m_reportedLock);
    m_skipped.erase(name);
  }

  CosNaming::NamingContext_ptr TierDirectory::Context(const std::vector<const char*>& path)
  {
    CosNaming::NamingContext_var context = CosNaming::NamingContext::_duplicate(m_root.in());
    for (const char* id : path)
    {
      CosNaming::Name name = MakeName({id}, nullptr);
      try
      {
        context = context->bind_new_context(name);
      }
      catch (const CosNaming::NamingContext::AlreadyBound&)
      {
        CORBA::Object_var existing = context->resolve(name);
        Bound(existing.in());
        context = CosNaming::NamingContext::_narrow(existing.in());
        if (CORBA::is_nil(context.in()))
          throw CORBA::BAD_PARAM(0, CORBA::COMPLETED_NO);
      }
      Bound(context.in());
    }
    return context._retn();
  }

  void TierDirectory::Bind(const std::vector<const char*>& path, const std::string& name, CORBA::Object_ptr object)
  {
    CosNaming::NamingContext_var context = Context(path);
    context->rebind(MakeName({name}, c_kind), object);
  }

  bool TierDirectory::BindIfMissing(const std::vector<const char*>& path, const std::string& name,
                                    CORBA::Object_ptr object)
  {
    CosNaming::NamingContext_var context = Context(path);
    const CosNaming::Name bound = MakeName({name}, c_kind);
    try
    {
      CORBA::Object_var current = context->resolve(bound);
      return false;
    }
    catch (const CosNaming::NamingContext::NotFound&)
    {
    }
    try
    {
      context->bind(bound, object);
    }
    catch (const CosNaming::NamingContext::AlreadyBound&)
    {
      return false;  // another server bound it meanwhile
    }
    return true;
  }

  bool TierDirectory::BindBackEndIfMissing(const std::string& name, CORBA::Object_ptr factory)
  {
    return BindIfMissing({c_top, c_backEnds}, name, factory);
  }

  bool TierDirectory::BindFrontEndIfMissing(const std::string& name, CORBA::Object_ptr factory)
  {
    return BindIfMissing({c_top, c_frontEnds}, name, factory);
  }

  bool TierDirectory::Answers(CORBA::Object_ptr object)
  {
    return Probe(object) == Reach::Answers;
  }

  void TierDirectory::Unbind(const std::vector<const char*>& path, const std::string& name,
                             CORBA::Object_ptr object)
  {
    try
    {
      CosNaming::NamingContext_var context = Context(path);
      const CosNaming::Name bound = MakeName({name}, c_kind);
      CORBA::Object_var current = context->resolve(bound);
      if (current->_is_equivalent(object))
        context->unbind(bound);
    }
    catch (const CosNaming::NamingContext::NotFound&)
    {
      // already gone
    }
    catch (const CORBA::Exception& ex)
    {
      KroOrb::PrintException(ex, ("TierDirectory: unbinding " + name).c_str(), stderr);
    }
  }

  void TierDirectory::BindBackEnd(const std::string& name, CORBA::Object_ptr factory)
  {
    Bind({c_top, c_backEnds}, name, factory);
  }

  void TierDirectory::BindFrontEnd(const std::string& name, CORBA::Object_ptr factory)
  {
    Bind({c_top, c_frontEnds}, name, factory);
  }

  void TierDirectory::UnbindBackEnd(const std::string& name, CORBA::Object_ptr factory)
  {
    Unbind({c_top, c_backEnds}, name, factory);
  }

  void TierDirectory::UnbindFrontEnd(const std::string& name, CORBA::Object_ptr factory)
  {
    Unbind({c_top, c_frontEnds}, name, factory);
  }

  std::vector<NamedFactory> TierDirectory::BackEnds() { return Factories({c_top, c_backEnds}, true); }

  std::vector<NamedFactory> TierDirectory::FrontEnds() { return Factories({c_top, c_frontEnds}, false); }

  Krovane::IServerFactory_ptr TierDirectory::FactoryOf(CosNaming::NamingContext_ptr context,
                                                       const CosNaming::Binding& binding)
  {
    const std::string text = NameText(binding.binding_name);
    if (binding.binding_type != CosNaming::nobject || binding.binding_name.length() != 1 ||
        std::string(binding.binding_name[0].kind.in()) != c_kind)
    {
      ReportSkipped(text, "not a server's name");
      return Krovane::IServerFactory::_nil();
    }
    try
    {
      CORBA::Object_var object = context->resolve(binding.binding_name);
      Bound(object.in());
      Krovane::IServerFactory_var factory = Krovane::IServerFactory::_narrow(object.in());  // may ask the server
      if (CORBA::is_nil(factory.in()))
        ReportSkipped(text, "not a factory");
      Bound(factory.in());
      return factory._retn();
    }
    catch (const CORBA::SystemException& ex)
    {
      // The type could not be asked: the probe that follows decides.
      ReportSkipped(text, std::string("its type is not known (") + ex._name() + ")");
    }
    catch (const CORBA::UserException& ex)
    {
      ReportSkipped(text, std::string("cannot be resolved (") + ex._name() + ")");
    }
    return Krovane::IServerFactory::_nil();
  }

  void TierDirectory::UnbindGone(CosNaming::NamingContext_ptr context, const CosNaming::Name& name,
                                 CORBA::Object_ptr gone)
  {
    // Only if no server has taken the name over since it was listed.
    CORBA::Object_var current = context->resolve(name);
    Bound(current.in());
    if (!current->_is_equivalent(gone) || Probe(current.in()) != Reach::Gone)
      return;
    context->unbind(name);
    ACE_DEBUG((LM_INFO, ACE_TEXT("(%P|%t) TierDirectory: \"%C\" unbound: its server is gone\n"),
               NameText(name).c_str()));
  }

  std::vector<NamedFactory> TierDirectory::Factories(const std::vector<const char*>& path, bool unbindGone)
  {
    CosNaming::NamingContext_var context = Context(path);
    CosNaming::BindingList_var bindings;
    CosNaming::BindingIterator_var rest;
    context->list(c_maxBindings, bindings.out(), rest.out());
    if (!CORBA::is_nil(rest.in()))
    {
      Bound(rest.in());
      rest->destroy();  // beyond the first thousand bindings: left out
    }

    std::vector<NamedFactory> found;
    for (CORBA::ULong i = 0; i < bindings->length(); ++i)
    {
      const CosNaming::Binding& binding = bindings[i];
      Krovane::IServerFactory_var factory = FactoryOf(context.in(), binding);
      if (CORBA::is_nil(factory.in()))
        continue;
      const std::string text = NameText(binding.binding_name);
      switch (Probe(factory.in()))
      {
        case Reach::Answers:
        {
          ReportAnswering(text);
          CORBA::String_var ior = m_orb->object_to_string(factory.in());
          found.push_back(NamedFactory{binding.binding_name[0].id.in(), factory, ior.in()});
          break;
        }
        case Reach::Silent:
          ReportSkipped(text, "no answer in time");
          break;
        case Reach::Gone:
          ReportSkipped(text, "its server is gone");
          if (!unbindGone)
            break;
          try
          {
            UnbindGone(context.in(), binding.binding_name, factory.in());
          }
          catch (const CORBA::Exception& ex)
          {
            KroOrb::PrintException(ex, ("TierDirectory: unbinding " + text).c_str(), stderr);
          }
          break;
      }
    }
    std::sort(found.begin(), found.end(),
              [](const NamedFactory& a, const NamedFactory& b) { return a.name < b.name; });
    return found;
  }

  TierBinding::TierBinding(Tier tier, const std::string& name, const std::vector<char*>& orbArgs)
    : m_tier(tier), m_name(name)
  {
    for (std::size_t i = 1; i + 1 < orbArgs.size() && orbArgs[i + 1]; ++i)
    {
      const std::string option = orbArgs[i];
      if (option == "-ORBInitRef" || option == "-ORBDefaultInitRef")
      {
        m_namingOptions.push_back(option);
        m_namingOptions.push_back(orbArgs[++i]);
      }
    }
  }

  void TierBinding::Bind(TierDirectory& directory, CORBA::ORB_ptr orb, CORBA::Object_ptr factory)
  {
    try
    {
      if (m_tier == kBackEnd)
        directory.BindBackEnd(m_name, factory);
      else
        directory.BindFrontEnd(m_name, factory);
    }
    catch (const CORBA::Exception& ex)
    {
      throw std::runtime_error("cannot bind \"" + m_name + "\" in the naming service at " + Location() + ": " +
                               KroOrb::DescribeException(ex));
    }
    CORBA::String_var ior = orb->object_to_string(factory);
    m_ior = ior.in();
  }

  TierBinding::~TierBinding()
  {
    if (m_ior.empty())
      return;
    try
    {
      std::vector<char*> args{const_cast<char*>("TierBinding")};
      for (std::string& option : m_namingOptions)
        args.push_back(&option[0]);
      args.push_back(nullptr);
      int argc = static_cast<int>(args.size()) - 1;
      CORBA::ORB_var orb = CORBA::ORB_init(argc, args.data());
      {
        TierDirectory directory(orb.in(), Location());
        CORBA::Object_var factory = orb->string_to_object(m_ior.c_str());
        if (m_tier == kBackEnd)
          directory.UnbindBackEnd(m_name, factory.in());
        else
          directory.UnbindFrontEnd(m_name, factory.in());
      }
      orb->destroy();
      ACE_DEBUG((LM_INFO, ACE_TEXT("(%P|%t) TierDirectory: \"%C\" unbound at its server's end\n"), m_name.c_str()));
    }
    catch (const CORBA::Exception& ex)
    {
      KroOrb::PrintException(ex, ("TierDirectory: unbinding " + m_name + " at its server's end").c_str(), stderr);
    }
    catch (const std::exception& ex)
    {
      std::fprintf(stderr, "TierDirectory: unbinding %s at its server's end: %s\n", m_name.c_str(), ex.what());
    }
  }

  std::string TierBinding::Location()
  {
    std::vector<char*> args{const_cast<char*>("TierBinding")};
    for (std::string& option : m_namingOptions)
      args.push_back(&option[0]);
    return NamingServiceLocation(args);
  }
}
