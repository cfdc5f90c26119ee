#include "SteppedComputation.h"

#include <cstdio>

namespace KroExample
{
  namespace
  {
    const long kPiTermsPerStep = 200000;     // Leibniz terms added by one step of "pi"
    const long kPrimesBlockPerStep = 20000;  // numbers tested by one step of "primes"

    bool IsPrime(long n)
    {
      if (n < 2)
        return false;
      for (long d = 2; d * d <= n; ++d)
        if (n % d == 0)
          return false;
      return true;
    }
  }

  bool SteppedComputation::IsKnown(const std::string& what)
  {
    return what == "pi" || what == "e" || what == "primes";
  }

  SteppedComputation::SteppedComputation(const std::string& what)
    : m_kind(what == "pi" ? Pi : what == "e" ? E : Primes),
      m_steps(0),
      m_value(m_kind == E ? 1.0 : 0.0),
      m_term(1.0),
      m_next(0)
  {
  }

  void SteppedComputation::Step()
  {
    ++m_steps;
    switch (m_kind)
    {
      case Pi:
        for (const long end = m_next + kPiTermsPerStep; m_next < end; ++m_next)
          m_value += (m_next % 2 == 0 ? 4.0 : -4.0) / static_cast<double>(2 * m_next + 1);
        break;
      case E:
        m_term /= static_cast<double>(m_steps);
        m_value += m_term;
        break;
      case Primes:
        for (const long end = m_next + kPrimesBlockPerStep; m_next < end; ++m_next)
          m_value += IsPrime(m_next) ? 1.0 : 0.0;
        break;
    }
  }

  double SteppedComputation::Value() const { return m_value; }

  std::string SteppedComputation::Describe() const
  {
    char text[96];
    if (m_kind == Primes)
      std::snprintf(text, sizeof text, "%.0f primes below %ld after %ld steps", m_value, m_next, m_steps);
    else
      std::snprintf(text, sizeof text, "%s ~ %.8f after %ld steps", m_kind == Pi ? "pi" : "e", m_value,
                    m_steps);
    return text;
  }
}
