// TierDirectory: where the tiers find each other, in the CORBA Naming
// Service. The names, each bound to a factory (IServerFactory):
//
//   KroTiers/BackEnds/<name>  with kind "factory": one per back end
//   KroTiers/FrontEnd         with kind "factory": the front end
//
// (in the string form of the naming service: "KroTiers/BackEnds/B1.factory").
// Contexts that are missing are created on binding; a binding that is
// already there is replaced, so a restarted server takes its name back.
// Bindings are not taken away when a server ends.
//
// Ownership and threads: holds its own reference to the root context; any
// thread may call it (each call is a remote call on the naming service).
#ifndef KRO_EXAMPLES_TIERS_TIERDIRECTORY_H
#define KRO_EXAMPLES_TIERS_TIERDIRECTORY_H

#include "Krovane.hh"

#include <omniORB4/Naming.hh>

#include <string>
#include <vector>

namespace KroTiers
{
  // A back end's factory as the directory lists it.
  struct NamedFactory
  {
    std::string name;                  // the back end's name
    Krovane::IServerFactory_var factory;  // its factory
  };

  class TierDirectory
  {
  public:
    // The naming service the ORB knows as "NameService" (for instance from
    // -ORBInitRef NameService=corbaloc::HOST:PORT/NameService). Raises
    // CORBA::BAD_PARAM when that is no naming context.
    explicit TierDirectory(CORBA::ORB_ptr orb);

    void BindBackEnd(const std::string& name, CORBA::Object_ptr factory);
    void BindFrontEnd(CORBA::Object_ptr factory);
    // Every back end bound now, by name; bindings that are no factory, and
    // factories that do not answer (a back end that has ended), are left out.
    std::vector<NamedFactory> BackEnds();
    // The front end's factory (a new reference). Raises
    // CosNaming::NamingContext::NotFound when none is bound.
    Krovane::IServerFactory_ptr FrontEnd();

  private:
    // The context at path below the root, created where missing.
    CosNaming::NamingContext_ptr Context(const std::vector<const char*>& path);
    // Whether object's server is there to answer.
    static bool Answers(CORBA::Object_ptr object);
    // Binds object as name (kind "factory") in context, replacing a binding.
    void Bind(CosNaming::NamingContext_ptr context, const std::string& name, CORBA::Object_ptr object);

    CosNaming::NamingContext_var m_root;  // the naming service's root context
  };
}

#endif
