// SecretFile: a key or pass phrase read from a file, so that it never
// stands on a command line (every local user reads /proc/PID/cmdline).
//
// A free function, callable from any thread.
#ifndef KROKIT_SECRETFILE_H
#define KROKIT_SECRETFILE_H

#include <string>

namespace KroKit
{
  // The file's content without the line ends at its end. Logs a warning
  // when users other than its owner may read the file. what names it in
  // messages ("the token key file"). Throws std::runtime_error when it
  // cannot be read.
  std::string ReadSecretFile(const std::string& path, const char* what);
}

#endif
