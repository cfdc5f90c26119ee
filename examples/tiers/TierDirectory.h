// TierDirectory: where the tiers find each other, in the CORBA Naming
// Service. The names, each bound to a factory (IServerFactory):
//
//   KroTiers/BackEnds/<name>   with kind "factory": one per back end
//   KroTiers/FrontEnds/<name>  with kind "factory": one per front end
//
// (in the string form of the naming service: "KroTiers/BackEnds/B1.factory").
// Contexts that are missing are created on binding; a binding that is
// already there is replaced, so a restarted server takes its name back. A
// server takes its own binding away when it ends cleanly; a binding whose
// server is gone (nobody listens at its address any more, or the object is
// not there) is taken away by the front end that lists it. Anything else
// under these contexts (other names, objects of other types, servers that
// do not answer in time) is skipped with a log line, once until the
// reason changes.
//
// Every call on the naming service and on a listed object is bounded by
// the call time-out given.
//
// Ownership and threads: holds its own references; any thread may call it
// (each call is a remote call on the naming service).
#ifndef KRO_EXAMPLES_TIERS_TIERDIRECTORY_H
#define KRO_EXAMPLES_TIERS_TIERDIRECTORY_H

#include "Krovane.hh"

#include <omniORB4/Naming.hh>

#include <chrono>
#include <mutex>
#include <map>
#include <string>
#include <vector>

namespace KroTiers
{
  // A server's factory as the directory lists it.
  struct NamedFactory
  {
    std::string name;                     // the server's name
    Krovane::IServerFactory_var factory;  // its factory (calls bounded by the directory's time-out)
    std::string ior;                      // the factory's reference as text, to tell a new server from the old
  };

  class TierDirectory
  {
  public:
    // The naming service the ORB knows as "NameService" (for instance from
    // -ORBInitRef NameService=corbaloc::HOST:PORT/NameService); where: its
    // location for messages (NamingServiceLocation). std::runtime_error
    // "cannot reach the naming service at <where>: <exception>" when it
    // does not answer, "no naming service at <where>" when it is no naming
    // context.
    TierDirectory(CORBA::ORB_ptr orb, const std::string& where,
                  std::chrono::milliseconds callTimeout = std::chrono::seconds(3));

    void BindBackEnd(const std::string& name, CORBA::Object_ptr factory);
    void BindFrontEnd(const std::string& name, CORBA::Object_ptr factory);
    // Takes name away if it is still bound to factory (a server that took
    // the name over since keeps it). Failures are logged, never raised.
    void UnbindBackEnd(const std::string& name, CORBA::Object_ptr factory);
    void UnbindFrontEnd(const std::string& name, CORBA::Object_ptr factory);

    // Binds name to factory when nothing is bound under it (the naming
    // service came back without its data); true when it did. A name bound
    // to another object (a server that took it over) is left alone.
    bool BindBackEndIfMissing(const std::string& name, CORBA::Object_ptr factory);
    bool BindFrontEndIfMissing(const std::string& name, CORBA::Object_ptr factory);
    // Whether object's server answers now (bounded by the call time-out).
    bool Answers(CORBA::Object_ptr object);

    // Every back end bound now that answers, by name. Bindings of servers
    // that are gone are taken away.
    std::vector<NamedFactory> BackEnds();
    // Every front end bound now that answers, by name (nothing is taken away).
    std::vector<NamedFactory> FrontEnds();

  private:
    // What a probe of a bound object found.
    enum class Reach
    {
      Answers,  // the object is there
      Silent,   // no answer in time (slow, or its host is unreachable)
      Gone      // nobody listens at its address, or the object is not there
    };

    // The context at path below the root, created where missing.
    CosNaming::NamingContext_ptr Context(const std::vector<const char*>& path);
    // Binds object as name (kind "factory") in the context at path, replacing a binding.
    void Bind(const std::vector<const char*>& path, const std::string& name, CORBA::Object_ptr object);
    // Binds object as name in the context at path when nothing is bound there.
    bool BindIfMissing(const std::vector<const char*>& path, const std::string& name, CORBA::Object_ptr object);
    // Unbinds name in the context at path if it is bound to object.
    void Unbind(const std::vector<const char*>& path, const std::string& name, CORBA::Object_ptr object);
    // The factories bound in the context at path that answer; those that are
    // gone are unbound when unbindGone.
    std::vector<NamedFactory> Factories(const std::vector<const char*>& path, bool unbindGone);
    // The factory bound as binding in context, or nil (logged) when it is none.
    Krovane::IServerFactory_ptr FactoryOf(CosNaming::NamingContext_ptr context, const CosNaming::Binding& binding);
    // Unbinds name in context if it is still bound to the gone object, and it
    // is still gone.
    void UnbindGone(CosNaming::NamingContext_ptr context, const CosNaming::Name& name, CORBA::Object_ptr gone);
    // Whether object's server answers, bounded by the call time-out.
    Reach Probe(CORBA::Object_ptr object);
    // Bounds every later call through object by the call time-out.
    void Bound(CORBA::Object_ptr object) const;
    // Logs that name was skipped for reason, unless that was the last thing
    // logged of it.
    void ReportSkipped(const std::string& name, const std::string& reason);
    // name answers again: a later skip is logged anew.
    void ReportAnswering(const std::string& name);

    const CORBA::ORB_var m_orb;                     // for the references' text
    const std::chrono::milliseconds m_callTimeout;  // bound of every remote call
    CosNaming::NamingContext_var m_root;            // the naming service's root context
    std::mutex m_reportedLock;                      // taken alone, for m_skipped only
    std::map<std::string, std::string> m_skipped;   // guarded by m_reportedLock; name -> reason last logged
  };

  // How the tier programs are told where the naming service is.
  constexpr const char* kNamingServiceOption = "-ORBInitRef NameService=corbaloc::HOST:PORT/NameService";

  // Where orbArgs (argv[0] first, up to a null or their end) tell the ORB
  // to find "NameService": the value of -ORBInitRef NameService=..., or
  // that of -ORBDefaultInitRef followed by "/NameService"; when neither is
  // given, a text that says so (omniORB may still find it in its
  // configuration).
  std::string NamingServiceLocation(const std::vector<char*>& orbArgs);

  // A server's binding in the directory, from Bind to the end of the
  // object's scope, which takes it away again if it is still the server's
  // (a clean end; a killed server leaves it, for a front end to find gone).
  // The server's ORB refuses every call once it has shut down, so the
  // binding is taken away with an ORB of its own, made from the server's
  // naming-service options: keep the object outside ServerProcess::Run.
  //
  // Ownership and threads: main's, on main's thread.
  class TierBinding
  {
  public:
    enum Tier { kBackEnd, kFrontEnd };

    // tier and name: where the server is bound; orbArgs: the server's ORB
    // options (argv[0] first), read now, before the ORB takes them.
    TierBinding(Tier tier, const std::string& name, const std::vector<char*>& orbArgs);
    // Unbinds (failures logged, never raised) when Bind was called.
    ~TierBinding();
    TierBinding(const TierBinding&) = delete;
    TierBinding& operator=(const TierBinding&) = delete;

    // Binds factory; std::runtime_error "cannot bind ... in the naming
    // service at ..." when that fails.
    void Bind(TierDirectory& directory, CORBA::ORB_ptr orb, CORBA::Object_ptr factory);

  private:
    // Where the naming service is, for messages.
    std::string Location();

    const Tier m_tier;                         // where it is bound
    const std::string m_name;                  // its name
    std::vector<std::string> m_namingOptions;  // the -ORBInitRef and -ORBDefaultInitRef options given
    std::string m_ior;                         // what is bound, as text; empty until bound
  };
}

#endif
