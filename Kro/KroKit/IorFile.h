// Passing an object reference between processes through a file.
//
// Free functions, callable from any thread; they share no state.
#ifndef KROKIT_IORFILE_H
#define KROKIT_IORFILE_H

#include <string>

namespace KroKit
{
  // Writes ior and a line end to path, atomically: the text goes to a
  // temporary file beside it, which is then renamed to path, so a reader
  // never sees half an IOR. The temporary file has a random name and is
  // made new (O_EXCL | O_NOFOLLOW): a file or symbolic link planted in the
  // folder is never written through, and a link at path is replaced, not
  // followed. Throws std::runtime_error on failure.
  void WriteIorFile(const std::string& path, const std::string& ior);

  // Removes path if it still holds ior (another server may have written its
  // own there since): true when it was removed. Never throws.
  bool RemoveIorFile(const std::string& path, const std::string& ior);

  // The first line of path, without surrounding blanks. Throws
  // std::runtime_error when the file cannot be read or holds no IOR.
  std::string ReadIorFile(const std::string& path);
}

#endif
