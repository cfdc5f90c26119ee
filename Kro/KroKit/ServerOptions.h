// ServerOptions: the command line of a server of the family.
//
// The standard options a program offers (it chooses which in the
// constructor):
//   --ior-file PATH       write the factory's IOR there
//   --print-ior           print the IOR on standard output (also when no
//                         --ior-file is given)
//   --threads N           event-loop threads (default 4)
//   --idle-seconds N      idle interval of the shutdown task (default 60)
//   --drain-seconds N     on SIGTERM/SIGINT, how long running operations may
//                         take to end by themselves before they are
//                         cancelled (default 10; see Krovane::ServerStop)
//   --exit-mode MODE      how the idle-shutdown task ends the process:
//                         orb (the default: shut the ORB down), exit, _exit
//   --name-service CORBALOC --bind NAME
//                         also bind the factory in a naming service
//   --max-threads N, --min-threads N, --stack-kb N, --start-pause-ms N,
//   --place-reports every-change|latest, --place-report-ms N,
//   --max-threads-per-user N, --detach-after-timeouts N, --waiting-callbacks,
//   --kept-finished N, --kept-exception-holders N
//                         the operation pool and the callbacks (PoolSettings)
//   --status-port PORT [--status-address ADDR]
//                         the status endpoint (KroStatus::StatusEndpoint) on
//                         ADDR (default 127.0.0.1); port 0: any free port
//   --journal FILE [--journal-keep-hours N]
//                         keep server objects and operations in FILE across
//                         restarts (KroJournal/Journal.h); ended operations
//                         are kept N hours (default 24)
//   --tls-...             TLS (see TlsOptions.h); Parse hands them to the
//                         ORB layer, for the ORB that starts next
//   --debug, --verbose, --quiet
//                         the log: by default information and worse; with
//                         the library's debug lines; every priority (and
//                         omniORB's trace); or notices and worse only
//   --help                the usage and a table of every option with what it
//                         does and its default, on standard output
// A program adds its own options with AddFlag, AddValue and AddNumber, each
// with the line --help gives it.
// Options are long options (ACE_Get_Opt: --name VALUE or --name=VALUE; an
// unambiguous abbreviation counts); numbers are checked. Arguments
// starting with -ORB, with the value that follows each, are the ORB's;
// anything else is a usage error. Unless given there, the ORB is told the
// kit's bounds: messages of at most 2 MiB (-ORBgiopMaxMsgSize), a thread
// per connection only up to 100 connections (-ORBthreadPerConnectionUpperLimit,
// back at 90: -ORBthreadPerConnectionLowerLimit) and beyond that a pool of
// at most 100 threads (-ORBmaxServerThreadPoolSize).
//
// Ownership and threads: main owns one, sets defaults and adds its own
// options, calls Parse once, then only reads it. The ORB arguments point
// into main's argv or into the object.
#ifndef KROKIT_SERVEROPTIONS_H
#define KROKIT_SERVEROPTIONS_H

#include "KroKit/OptionHelp.h"
#include "KroKit/TlsOptions.h"

#include <climits>
#include <functional>
#include <string>
#include <vector>

namespace KroKit
{
  // The operation pool's sizes, applied once before the first operation
  // (ServerProcess). 0 or -1 keep the pool's own value.
  struct PoolSettings
  {
    int maxThreads = 2;     // --max-threads: the most pool threads (1 to 100)
    int minThreads = 0;     // --min-threads: kept when idle (0: the pool's own, 1)
    int stackKb = 0;        // --stack-kb: stack of each pool thread (0: the pool's own)
    // --start-pause-ms: pause after starting a thread (-1: the pool's own).
    // None by default: the pause is taken in the submitting call.
    int startPauseMs = 0;
    // --place-reports: how waiting operations learn their places in line
    // (see ThreadPoolThreadingPolicy::PlaceReports).
    enum class PlaceReports { kPoolDefault, kEveryChange, kLatest };
    PlaceReports placeReports = PlaceReports::kPoolDefault;
    int placeReportMs = 0;  // --place-report-ms: least time between rounds of latest places (0: none)
    // --max-threads-per-user: pool threads one user's operations may hold
    // while other users' wait (0: half of --max-threads, at least 1).
    int maxThreadsPerUser = 0;
    // --detach-after-timeouts: callbacks in a row that time out before a
    // client's handler is detached (0: never).
    int detachAfterTimeouts = 3;
    // --waiting-callbacks: a callback returns once the client has answered,
    // so a slow client holds the pool thread (default: callbacks are queued
    // and sent by the relays' own threads).
    bool waitingCallbacks = false;
    // --callbacks-in-flight: callbacks of one operation sent at once to a
    // client that restores their order (the client library does); others
    // get one at a time. 1: one at a time for all.
    int callbacksInFlight = 1;
    // --kept-finished: ended operations each object keeps for queries (the
    // oldest forgotten first).
    int keptFinished = 1000;
    // --kept-exception-holders: unraised exception holders each object keeps
    // active (the oldest retired first).
    int keptExceptionHolders = 100;
  };

  class ServerOptions
  {
  public:
    // The standard options, to be combined with |.
    enum Standard : unsigned
    {
      kIorFile = 1,       // --ior-file PATH
      kPrintIor = 2,      // --print-ior
      kThreads = 4,       // --threads N
      kIdleSeconds = 8,   // --idle-seconds N
      kExitMode = 16,     // --exit-mode orb|exit|_exit
      kTls = 32,          // --tls-ca FILE ... (TlsOptions)
      kPool = 64,         // --max-threads N ... (PoolSettings)
      kNaming = 128,      // --name-service CORBALOC --bind NAME
      kStatus = 256,      // --status-port PORT --status-address ADDR
      kDrainSeconds = 512,  // --drain-seconds N
      kJournal = 1024,      // --journal FILE --journal-keep-hours N
      kEveryStandard = kIorFile | kPrintIor | kThreads | kIdleSeconds | kExitMode | kTls | kPool | kNaming | kStatus |
                       kDrainSeconds | kJournal
    };

    // offered: the standard options this program takes; --debug, --verbose,
    // --quiet and --help are always offered.
    explicit ServerOptions(unsigned offered = kEveryStandard);
    ServerOptions(const ServerOptions&) = delete;
    ServerOptions& operator=(const ServerOptions&) = delete;

    // text: what the option does, for --help; defaultText: its default as
    // a user reads it (for a number, empty shows the variable's value as it
    // stands when Parse begins).
    // Adds an option without a value; Parse sets flag when it is given.
    void AddFlag(const std::string& name, bool& flag, const std::string& text = "");
    // Adds an option with a value; Parse hands the value to take, which
    // returns false for a bad value (a usage error). valueName: its name
    // in the usage ("FILE").
    void AddValue(const std::string& name, std::function<bool(const char*)> take,
                  const std::string& valueName = "VALUE", const std::string& text = "",
                  const std::string& defaultText = "");
    // Adds an option with a whole number from least to most, stored in value.
    void AddNumber(const std::string& name, int& value, int least = 0, int most = INT_MAX,
                   const std::string& text = "", const std::string& defaultText = "");

    // Takes the options out of argv; the ORB's go to orbArgs. False on a
    // usage error (Error() says which) or after --help (the usage printed).
    // Sets the log's priorities and its time stamps.
    bool Parse(int argc, char** argv);
    // What was wrong with the command line, one line; empty after --help.
    const std::string& Error() const { return m_error; }
    // "usage: <program> [--ior-file PATH] ... [-ORB... options]".
    std::string Usage(const char* program) const;
    // The usage, then one line per option: what it does and its default.
    std::string Help(const char* program) const;
    // Parse, or on a usage error the error and the usage on standard error
    // and false; the exit status then is UsageStatus().
    bool ParseOrExplain(int argc, char** argv);
    // 2 after a usage error, 0 after --help.
    int UsageStatus() const { return m_error.empty() ? 0 : 2; }

    std::string iorFile;          // where to write the factory's IOR; empty: nowhere
    bool printIor = false;        // print the IOR on standard output
    int threads = 4;              // event-loop threads
    int idleSeconds = 60;         // idle interval of the shutdown task
    int drainSeconds = 10;        // a stop's wait for running operations
    void* exitMode = nullptr;     // the idle-shutdown task's open() argument
    std::string nameService;      // naming service to bind the factory in (corbaloc); empty: none
    std::string bindName;         // the factory's name there ("a/b" for a context path)
    PoolSettings pool;            // the operation pool
    int statusPort = -1;          // the status endpoint's port; -1: no endpoint
    std::string statusAddress = "127.0.0.1";  // where the status endpoint listens
    std::string journal;          // the journal's file; empty: operations kept in memory only
    int journalKeepHours = 24;    // how long ended operations stay in the journal
    TlsOptions tls;               // TLS settings; off unless --tls-ca is given
    bool debug = false;           // --debug
    bool verbose = false;         // --verbose
    bool quiet = false;           // --quiet
    std::vector<char*> orbArgs;   // argv[0], the ORB's options, then a null (after Parse)

  private:
    // One option the program takes.
    struct Option
    {
      std::string name;                         // e.g. "--threads"
      bool hasValue;                            // takes the next argument as its value
      std::function<bool(const char*)> take;    // stores the value (null for a flag); false: bad value
      std::string valueName;                    // for the usage
    };

    // AddNumber with the default --help shows worked out when Parse begins.
    void AddShownNumber(const std::string& name, int& value, int least, int most, const std::string& text,
                        std::function<std::string()> defaultOf);
    // Parse's work; false with m_error set.
    bool ParseArguments(int argc, char** argv);
    // The log's priorities, from --verbose and --quiet.
    void ApplyLogLevel();

    const unsigned m_offered;        // the standard options offered
    std::vector<Option> m_options;   // every option taken, standard ones first
    OptionHelp m_help;               // --help's table: m_options' rows, TLS's and the ORB's
    std::string m_error;             // the last usage error
    bool m_helpGiven = false;        // --help given
    std::vector<std::string> m_traceArgs;  // ORB options --verbose adds (orbArgs point here)
    std::vector<std::string> m_boundArgs;  // the kit's ORB bounds not given (orbArgs point here)
  };
}

#endif
