#include "Console.h"

#include <cstdio>
#include <mutex>

namespace KroExample
{
  void SayLine(const std::string& line)
  {
    static std::mutex lock;  // one line at a time
    std::lock_guard<std::mutex> guard(lock);
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  }
}
