#include "ProbeText.h"

namespace KroProbe
{
  std::string Hex(const std::string& text)
  {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char octet : text)
    {
      hex.push_back(digits[octet >> 4]);
      hex.push_back(digits[octet & 0x0f]);
    }
    return hex;
  }
}
