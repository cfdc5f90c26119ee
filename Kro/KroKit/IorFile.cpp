#include "KroKit/IorFile.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace KroKit
{
  namespace
  {
    // Names tried before giving up (each collision is a 1 in 2^64 chance,
    // or a name planted by someone else).
    const int kNameAttempts = 16;

    std::string RandomSuffix()
    {
      unsigned char bytes[8] = {};
      if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes))
        throw std::runtime_error(std::string("no random name: ") + std::strerror(errno));
      std::string suffix;
      for (unsigned char byte : bytes)
      {
        const char* digits = "0123456789abcdef";
        suffix += digits[byte >> 4];
        suffix += digits[byte & 15];
      }
      return suffix;
    }

    // A new file beside path, made by this call alone: a name nobody can
    // guess, never an existing file nor a symbolic link followed.
    int CreateTemporary(const std::string& path, std::string& temporary)
    {
      for (int attempt = 0; attempt < kNameAttempts; ++attempt)
      {
        temporary = path + ".tmp." + RandomSuffix();
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0)
          return fd;
        if (errno != EEXIST)
          throw std::runtime_error("cannot create " + temporary + ": " + std::strerror(errno));
      }
      throw std::runtime_error("cannot create a temporary file beside " + path);
    }

    bool WriteAll(int fd, const std::string& text)
    {
      std::size_t written = 0;
      for (int attempt = 0; written < text.size() && attempt < 1000; ++attempt)
      {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno != EINTR)
          return false;
        if (n > 0)
          written += static_cast<std::size_t>(n);
      }
      return written == text.size();
    }
  }

  void WriteIorFile(const std::string& path, const std::string& ior)
  {
    std::string temporary;
    const int fd = CreateTemporary(path, temporary);
    const bool written = WriteAll(fd, ior + "\n");
    // The reason is the write's when it failed, else the close's.
    std::string reason = written ? "" : std::strerror(errno);
    const bool closed = ::close(fd) == 0;
    if (!closed && written)
      reason = std::strerror(errno);
    if (!closed || !written)
    {
      ::unlink(temporary.c_str());
      throw std::runtime_error("cannot write " + temporary + ": " + reason);
    }
    // rename replaces path itself, a symbolic link there included.
    if (std::rename(temporary.c_str(), path.c_str()) != 0)
    {
      const std::string reason = std::strerror(errno);
      ::unlink(temporary.c_str());
      throw std::runtime_error("cannot rename " + temporary + " to " + path + ": " + reason);
    }
  }

  bool RemoveIorFile(const std::string& path, const std::string& ior)
  {
    try
    {
      if (ReadIorFile(path) != ior)
        return false;
    }
    catch (const std::exception&)
    {
      return false;  // gone or unreadable: nothing of ours to remove
    }
    return std::remove(path.c_str()) == 0;
  }

  std::string ReadIorFile(const std::string& path)
  {
    std::ifstream in(path);
    if (!in)
      throw std::runtime_error("cannot open " + path);
    std::string line;
    std::getline(in, line);
    const char* blanks = " \t\r\n";
    const std::string::size_type first = line.find_first_not_of(blanks);
    if (first == std::string::npos)
      throw std::runtime_error("no IOR in " + path);
    return line.substr(first, line.find_last_not_of(blanks) - first + 1);
  }
}
