// Console: the example client's output, one whole line at a time, from any
// thread (the main thread and the ORB threads that deliver callbacks), so
// that the lines of operations running side by side never mix.
#ifndef KRO_EXAMPLES_CONSOLE_H
#define KRO_EXAMPLES_CONSOLE_H

#include <string>

namespace KroExample
{
  // Writes line and a line end to standard output and flushes it.
  void SayLine(const std::string& line);
}

#endif
