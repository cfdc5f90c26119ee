#include "KroClient/ClientMain.h"

#include "KroClient/FailureText.h"

#include <cstdio>
#include <exception>
#include <string>

namespace KroClient
{
  int RunClient(int argc, char** argv, const ClientBody& body)
  {
    const std::string program = argc > 0 ? argv[0] : "client";
    try
    {
      ClientOrb orb(argc, argv);
      return body(orb, argc, argv);
    }
    catch (const CORBA::Exception& ex)
    {
      std::fprintf(stderr, "%s: failed: %s\n", program.c_str(), FailureText(ex).c_str());
    }
    catch (const std::exception& ex)
    {
      std::fprintf(stderr, "%s: failed: %s\n", program.c_str(), ex.what());
    }
    return 1;
  }
}
