// SteppedComputation: the example's work, a computation that advances one
// step at a time, so that the operation running it can report progress and
// stop between steps.
//
//   "pi"      pi from the Leibniz series, 200,000 more terms per step
//   "e"       e from the series of 1/k!, one more term per step
//   "primes"  the primes below 20,000 x steps, one more block per step
//
// A plain value owned by whoever runs it; one thread at a time.
#ifndef KRO_EXAMPLES_STEPPEDCOMPUTATION_H
#define KRO_EXAMPLES_STEPPEDCOMPUTATION_H

#include <string>

namespace KroExample
{
  class SteppedComputation
  {
  public:
    // Whether what names a computation this class knows.
    static bool IsKnown(const std::string& what);

    // what must be known (IsKnown).
    explicit SteppedComputation(const std::string& what);

    // Does one more step of work.
    void Step();
    // The value so far (for "primes", how many were found).
    double Value() const;
    // The value so far in words, e.g. "pi ~ 3.14159215 after 5 steps".
    std::string Describe() const;

  private:
    enum Kind { Pi, E, Primes };

    Kind m_kind;       // which computation
    long m_steps;      // steps done
    double m_value;    // the value so far
    double m_term;     // "e": the last term added
    long m_next;       // "pi": the next term's index; "primes": the next number to test
  };
}

#endif
