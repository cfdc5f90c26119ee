#include "KroKit/IorFile.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace KroKit
{
  void WriteIorFile(const std::string& path, const std::string& ior)
  {
    const std::string temporary = path + ".tmp." + std::to_string(getpid());
    {
      std::ofstream out(temporary, std::ios::trunc);
      out << ior << "\n";
      out.close();
      if (!out)
      {
        std::remove(temporary.c_str());
        throw std::runtime_error("cannot write " + temporary);
      }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0)
    {
      const std::string reason = std::strerror(errno);
      std::remove(temporary.c_str());
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
