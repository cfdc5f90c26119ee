// UserTokenOctets: the one conversion of a user token between the IDL octet
// sequence and the text a UserPacket keeps. The rule: every octet, in
// order, both ways; nothing is added and nothing cut (a NUL is an octet
// like any other). A token forwarded to another server therefore reaches it
// exactly as the client sent it, which a signed token needs.
//
// Stateless; any thread.
#ifndef KROSERVER_USERTOKENOCTETS_H
#define KROSERVER_USERTOKENOCTETS_H

#include "Krovane.hh"

#include <string>

namespace Krovane
{
  class UserTokenOctets
  {
  public:
    // Every octet of token, in order.
    static std::string Text(const UserToken& token);
    // Every character of text, in order.
    static UserToken Octets(const std::string& text);
    // Writes every character of text at out (length octets free there).
    static void CopyTo(const std::string& text, CORBA::Octet* out);
  };
}

#endif
