#include "KroStatus/Utf8Text.h"

namespace KroStatus
{
  namespace
  {
    const char kReplacement[] = "\xEF\xBF\xBD";

    // The length of the well-formed character at text[at], 0 if there is none.
    std::size_t CharacterAt(const std::string& text, std::size_t at)
    {
      const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
      const unsigned char lead = byte(0);
      if (lead < 0x80)
        return 1;
      std::size_t length = 0;
      unsigned char low = 0x80, high = 0xBF;  // the bounds of the second byte
      if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
      else if (lead >= 0xE0 && lead <= 0xEF)
      {
        length = 3;
        if (lead == 0xE0)
          low = 0xA0;  // no overlong forms
        if (lead == 0xED)
          high = 0x9F;  // no surrogates
      }
      else if (lead >= 0xF0 && lead <= 0xF4)
      {
        length = 4;
        if (lead == 0xF0)
          low = 0x90;
        if (lead == 0xF4)
          high = 0x8F;  // nothing past U+10FFFF
      }
      else
        return 0;
      if (at + length > text.size() || byte(1) < low || byte(1) > high)
        return 0;
      for (std::size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF)
          return 0;
      return length;
    }
  }

  std::string ValidUtf8(const std::string& text)
  {
    std::string valid;
    valid.reserve(text.size());
    for (std::size_t at = 0; at < text.size();)
    {
      const std::size_t length = CharacterAt(text, at);
      if (length == 0)
      {
        valid += kReplacement;
        ++at;
        continue;
      }
      valid.append(text, at, length);
      at += length;
    }
    return valid;
  }
}
