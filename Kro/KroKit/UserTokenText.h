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
}

#endif
