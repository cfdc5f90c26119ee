// Octets as text, the same way in the probe server and in its tests.
#ifndef KRO_TESTS_PROCESS_PROBETEXT_H
#define KRO_TESTS_PROCESS_PROBETEXT_H

#include <string>

namespace KroProbe
{
  // The octets of text as lowercase hex, two digits each ("" for none).
  std::string Hex(const std::string& text);
}

#endif
