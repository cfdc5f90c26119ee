// KroMintToken: prints a user token signed with a server's key (HmacToken),
// for clients and tests.
//
//   KroMintToken --key-file PATH --user NAME [--valid-seconds N]
//
// The token is valid for N seconds from now (default 3600).
#include "KroKit/HmacToken.h"
#include "KroKit/HmacTokenVerifier.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <string>

int main(int argc, char** argv)
{
  std::string keyFile;
  std::string user;
  long long validSeconds = 3600;
  for (int i = 1; i < argc; ++i)
  {
    const bool hasValue = i + 1 < argc;
    if (std::strcmp(argv[i], "--key-file") == 0 && hasValue)
      keyFile = argv[++i];
    else if (std::strcmp(argv[i], "--user") == 0 && hasValue)
      user = argv[++i];
    else if (std::strcmp(argv[i], "--valid-seconds") == 0 && hasValue)
      validSeconds = std::atoll(argv[++i]);
    else
      user.clear();  // a usage error
  }
  if (keyFile.empty() || user.empty())
  {
    std::fprintf(stderr, "usage: %s --key-file PATH --user NAME [--valid-seconds N]\n", argv[0]);
    return 2;
  }
  try
  {
    const long long expiry = static_cast<long long>(std::time(nullptr)) + validSeconds;
    std::printf("%s\n", KroKit::HmacToken::Mint(KroKit::ReadKeyFile(keyFile), user, expiry).c_str());
    return 0;
  }
  catch (const std::exception& ex)
  {
    std::fprintf(stderr, "%s: %s\n", argv[0], ex.what());
    return 1;
  }
}
