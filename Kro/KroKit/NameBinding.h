// NameBinding: a factory's name in a CORBA naming service, for as long as
// the server runs. The name is text, "a/b/c", each part "id" or "id.kind";
// missing contexts are created, and a binding already there is replaced
// (a restarted server takes its name back). The destructor takes the name
// away again; a failure there is printed, never thrown.
//
// Ownership and threads: main's thread creates and destroys it, while the
// ORB runs; it holds its own references.
#ifndef KROKIT_NAMEBINDING_H
#define KROKIT_NAMEBINDING_H

#include <omniORB4/CORBA.h>
#include <omniORB4/Naming.hh>

#include <string>

namespace KroKit
{
  class NameBinding
  {
  public:
    // Binds object as name in the naming service at where (a corbaloc or
    // IOR). std::runtime_error saying what failed: "cannot reach the naming
    // service at <where>: TRANSIENT ...", "cannot bind <name> ...".
    NameBinding(CORBA::ORB_ptr orb, const std::string& where, const std::string& name, CORBA::Object_ptr object);
    ~NameBinding();
    NameBinding(const NameBinding&) = delete;
    NameBinding& operator=(const NameBinding&) = delete;

    // The name text as a naming-service name; std::invalid_argument when
    // it has an empty part.
    static CosNaming::Name ParseName(const std::string& text);

  private:
    const std::string m_where;                 // the naming service, for messages
    const std::string m_text;                  // the name as given
    CosNaming::NamingContext_var m_root;       // the naming service's root context
    CosNaming::Name m_name;                    // the name bound
  };
}

#endif
