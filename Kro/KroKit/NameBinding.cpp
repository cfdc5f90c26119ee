#include "KroKit/NameBinding.h"

#include "OrbLayer/PrintException.h"

#include <stdexcept>

namespace KroKit
{
  CosNaming::Name NameBinding::ParseName(const std::string& text)
  {
    CosNaming::Name name;
    std::string::size_type start = 0;
    while (start <= text.size())
    {
      std::string::size_type end = text.find('/', start);
      if (end == std::string::npos)
        end = text.size();
      const std::string part = text.substr(start, end - start);
      const std::string::size_type dot = part.rfind('.');
      const std::string id = dot == std::string::npos ? part : part.substr(0, dot);
      if (id.empty())
        throw std::invalid_argument("a naming-service name needs an id in every part: \"" + text + "\"");
      name.length(name.length() + 1);
      name[name.length() - 1].id = id.c_str();
      name[name.length() - 1].kind = dot == std::string::npos ? "" : part.substr(dot + 1).c_str();
      start = end + 1;
    }
    return name;
  }

  NameBinding::NameBinding(CORBA::ORB_ptr orb, const std::string& where, const std::string& name,
                           CORBA::Object_ptr object)
    : m_where(where), m_text(name), m_name(ParseName(name))
  {
    try
    {
      CORBA::Object_var service = orb->string_to_object(where.c_str());
      m_root = CosNaming::NamingContext::_narrow(service.in());
      if (CORBA::is_nil(m_root.in()))
        throw std::runtime_error("no naming service at " + where);
    }
    catch (const CORBA::Exception& ex)
    {
      throw std::runtime_error("cannot reach the naming service at " + where + ": " + KroOrb::DescribeException(ex));
    }
    try
    {
      // Each context on the way, created when missing.
      CosNaming::Name path;
      for (CORBA::ULong i = 0; i + 1 < m_name.length(); ++i)
      {
        path.length(i + 1);
        path[i] = m_name[i];
        try
        {
          CosNaming::NamingContext_var created = m_root->bind_new_context(path);
        }
        catch (const CosNaming::NamingContext::AlreadyBound&)
        {
          // there already
        }
      }
      m_root->rebind(m_name, object);
    }
    catch (const CORBA::Exception& ex)
    {
      throw std::runtime_error("cannot bind \"" + name + "\" in the naming service at " + where + ": " +
                               KroOrb::DescribeException(ex));
    }
  }

  NameBinding::~NameBinding()
  {
    try
    {
      m_root->unbind(m_name);
    }
    catch (const CORBA::Exception& ex)
    {
      KroOrb::PrintException(ex, ("cannot take \"" + m_text + "\" back from the naming service at " + m_where).c_str(),
                             stderr);
    }
  }
}
