// BoundedText: a text a client gave, cut to what the server keeps of it
// (reasons of failures, status texts, operation names): up to its first NUL
// and at most kMostOctets octets, never splitting a UTF-8 character; a cut
// text ends in " [cut]". A client's megabyte name then costs a kilobyte for
// as long as the server remembers it.
#ifndef KROSERVER_BOUNDEDTEXT_H
#define KROSERVER_BOUNDEDTEXT_H

#include <cstddef>
#include <string>

namespace Krovane
{
  class BoundedText
  {
  public:
    static const std::size_t kMostOctets = 1024;

    // text as kept (see above).
    static std::string Of(const char* text);
    static std::string Of(const std::string& text) { return Of(text.c_str()); }
  };
}

#endif
