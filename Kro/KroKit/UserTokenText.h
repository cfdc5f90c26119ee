// Conversions between a user token (any octets) and readable text.
//
// Free functions, callable from any thread; they share no state.
#ifndef KROKIT_USERTOKENTEXT_H
#define KROKIT_USERTOKENTEXT_H

#include "Krovane.hh"

#include <string>

namespace KroKit
{
  // A token holding the bytes of text, without a terminating zero.
  Krovane::UserToken TokenFromText(const std::string& text);

  // The token as printable text: printable ASCII as it is, every other
  // octet (a zero, say) as \xNN.
  std::string TokenToText(const Krovane::UserToken& token);

  // The user a token names, for the log: the installed verifier's user name
  // (a signed token's USER part: never the token, which works from any
  // connection until it expires), printable as TokenToText makes it.
  std::string LoggedUser(const Krovane::UserToken& token);
  // The same for a token's text as an object keeps it (up to a NUL).
  std::string LoggedUser(const std::string& tokenText);
}

#endif
