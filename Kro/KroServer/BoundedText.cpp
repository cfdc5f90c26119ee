#include "KroServer/BoundedText.h"

#include <cstring>

namespace Krovane
{
  std::string BoundedText::Of(const char* text)
  {
    if (!text)
      return std::string();
    const std::size_t length = strnlen(text, kMostOctets + 1);
    if (length <= kMostOctets)
      return std::string(text, length);
    std::size_t cut = kMostOctets;
    // Back to the start of the character the cut falls in (continuation
    // octets are 10xxxxxx).
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
      --cut;
    return std::string(text, cut) + " [cut]";
  }
}
