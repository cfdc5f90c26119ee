// RunClient: a client's main around its body: the process's ClientOrb made
// from the command line (the -ORB options taken out), and a failure that
// leaves the body printed as one line rather than ending the process.
//
//   int main(int argc, char** argv)
//   {
//     return KroClient::RunClient(argc, argv, [](KroClient::ClientOrb& orb, int argc, char** argv) {
//       ...
//       return 0;
//     });
//   }
#ifndef KROCLIENT_CLIENTMAIN_H
#define KROCLIENT_CLIENTMAIN_H

#include "KroClient/ClientOrb.h"

#include <functional>

namespace KroClient
{
  using ClientBody = std::function<int(ClientOrb& orb, int argc, char** argv)>;

  // body's status; 1 when it throws, after "<program>: failed: <what>" on
  // standard error (a CORBA exception with its minor code's name, or the
  // family's exceptions with their reason: FailureText).
  int RunClient(int argc, char** argv, const ClientBody& body);
}

#endif
