// FailureText: what a failure says, as one line: the family's exceptions
// (Krovane::Unavailable and the others that carry a reason) by name and
// reason ("Unavailable: server is stopping"), system exceptions with their
// minor code ("TRANSIENT (...), minor TRANSIENT_ConnectFailed (0x41540002),
// completed NO"). Any thread.
#ifndef KROCLIENT_FAILURETEXT_H
#define KROCLIENT_FAILURETEXT_H

#include "Krovane.hh"

#include <string>

namespace KroClient
{
  std::string FailureText(const CORBA::Exception& failure);

  // "server unreachable: " and what the call that found it out raised:
  // the minor code's name first ("server unreachable: TRANSIENT_ConnectFailed
  // (TRANSIENT, completed NO)").
  std::string UnreachableText(const CORBA::SystemException& failure);
}

#endif
