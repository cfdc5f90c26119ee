#include "KroKit/SecretFile.h"

#include <ace/Log_Msg.h>

#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace KroKit
{
  std::string ReadSecretFile(const std::string& path, const char* what)
  {
    std::ifstream file(path, std::ios::binary);
    struct stat status{};
    if (!file || ::stat(path.c_str(), &status) != 0)
      throw std::runtime_error(std::string("cannot read ") + what + " " + path);
    if (status.st_mode & (S_IRGRP | S_IROTH))
      ACE_DEBUG((LM_WARNING, ACE_TEXT("(%P|%t) %C %C is readable by other users (chmod go-r %C)\n"), what,
                 path.c_str(), path.c_str()));
    std::ostringstream content;
    content << file.rdbuf();
    std::string secret = content.str();
    while (!secret.empty() && (secret.back() == '\n' || secret.back() == '\r'))
      secret.pop_back();
    return secret;
  }
}
