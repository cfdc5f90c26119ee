#include "TierDirectory.h"

#include <algorithm>

namespace KroTiers
{
  namespace
  {
    const char* const c_top = "KroTiers";       // the example's own context
    const char* const c_backEnds = "BackEnds";  // where back ends are bound
    const char* const c_frontEnd = "FrontEnd";  // the front end's name
    const char* const c_kind = "factory";       // kind of every factory binding

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
  }

  bool TierDirectory::Answers(CORBA::Object_ptr object)
  {
    try
    {
      return !object->_non_existent();
    }
    catch (const CORBA::SystemException&)
    {
      return false;  // nobody listens there any more
    }
  }

  TierDirectory::TierDirectory(CORBA::ORB_ptr orb)
  {
    CORBA::Object_var object = orb->resolve_initial_references("NameService");
    m_root = CosNaming::NamingContext::_narrow(object.in());
    if (CORBA::is_nil(m_root.in()))
      throw CORBA::BAD_PARAM(0, CORBA::COMPLETED_NO);
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
        context = CosNaming::NamingContext::_narrow(existing.in());
        if (CORBA::is_nil(context.in()))
          throw CORBA::BAD_PARAM(0, CORBA::COMPLETED_NO);
      }
    }
    return context._retn();
  }

  void TierDirectory::Bind(CosNaming::NamingContext_ptr context, const std::string& name,
                           CORBA::Object_ptr object)
  {
    context->rebind(MakeName({name}, c_kind), object);
  }

  void TierDirectory::BindBackEnd(const std::string& name, CORBA::Object_ptr factory)
  {
    CosNaming::NamingContext_var backEnds = Context({c_top, c_backEnds});
    Bind(backEnds.in(), name, factory);
  }

  void TierDirectory::BindFrontEnd(CORBA::Object_ptr factory)
  {
    CosNaming::NamingContext_var top = Context({c_top});
    Bind(top.in(), c_frontEnd, factory);
  }

  std::vector<NamedFactory> TierDirectory::BackEnds()
  {
    CosNaming::NamingContext_var backEnds = Context({c_top, c_backEnds});
    CosNaming::BindingList_var bindings;
    CosNaming::BindingIterator_var rest;
    backEnds->list(1000, bindings.out(), rest.out());
    if (!CORBA::is_nil(rest.in()))
      rest->destroy();  // more than a thousand back ends: the first thousand will do

    std::vector<NamedFactory> found;
    for (CORBA::ULong i = 0; i < bindings->length(); ++i)
    {
      const CosNaming::Binding& binding = bindings[i];
      if (binding.binding_type != CosNaming::nobject || binding.binding_name.length() != 1)
        continue;
      CORBA::Object_var object = backEnds->resolve(binding.binding_name);
      Krovane::IServerFactory_var factory = Krovane::IServerFactory::_narrow(object.in());
      if (!CORBA::is_nil(factory.in()) && Answers(factory.in()))
        found.push_back(NamedFactory{binding.binding_name[0].id.in(), factory});
    }
    std::sort(found.begin(), found.end(),
              [](const NamedFactory& a, const NamedFactory& b) { return a.name < b.name; });
    return found;
  }

  Krovane::IServerFactory_ptr TierDirectory::FrontEnd()
  {
    CORBA::Object_var object = m_root->resolve(MakeName({c_top, c_frontEnd}, c_kind));
    return Krovane::IServerFactory::_narrow(object.in());
  }
}
