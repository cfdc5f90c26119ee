// LogFormat: the server's log lines (ACE_DEBUG and the rest of ACE's log)
// on standard error with the time of day in front:
//   15:20:01.123 (4711|140233) KroExampleAsyncServer ready
// Handled exceptions printed on standard output (KroOrb::PrintException)
// carry the time too. Set KRO_LOG_TIMES=0 in the environment to keep ACE's plain lines (the
// test suite matches whole lines).
//
// Threads: StampTimes once, in main, before other threads log; the
// back end then runs under ACE's log lock.
#ifndef KROKIT_LOGFORMAT_H
#define KROKIT_LOGFORMAT_H

namespace KroKit
{
  class LogFormat
  {
  public:
    // Routes the process's log through the time-stamping back end (once;
    // later calls do nothing), unless KRO_LOG_TIMES is "0".
    static void StampTimes();
  };
}

#endif
