// ServerOptions: the command line of a server of the family.
//
// The standard options a program offers (it chooses which in the
// constructor):
//   --ior-file PATH       write the factory's IOR there
//   --print-ior           print the IOR on standard output (also when no
//                         --ior-file is given)
//   --threads N           event-loop threads (default 4)
//   --idle-seconds N      idle interval of the shutdown task (default 60)
//   --exit-mode MODE      how the idle-shutdown task ends the process:
//                         orb (the default: shut the ORB down), exit, _exit
//   --tls-...             TLS (see TlsOptions.h); Parse hands them to the
//                         ORB layer, for the ORB that starts next
// A program adds its own options with AddFlag and AddValue. Any other
// option starting with "--" is a usage error; everything else is for the
// ORB, e.g. -ORBendPoint giop:tcp:127.0.0.1:.
//
// Ownership and threads: main owns one, sets defaults and adds its own
// options, calls Parse once, then only reads it. The ORB arguments point
// into main's argv.
#ifndef KRO_EXAMPLES_SERVEROPTIONS_H
#define KRO_EXAMPLES_SERVEROPTIONS_H

#include "TlsOptions.h"

#include <functional>
#include <string>
#include <vector>

namespace KroExample
{
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
      kEveryStandard = kIorFile | kPrintIor | kThreads | kIdleSeconds | kExitMode | kTls
    };

    // offered: the standard options this program takes.
    explicit ServerOptions(unsigned offered = kEveryStandard);
    ServerOptions(const ServerOptions&) = delete;
    ServerOptions& operator=(const ServerOptions&) = delete;

    // Adds an option without a value; Parse sets flag when it is given.
    void AddFlag(const std::string& name, bool& flag);
    // Adds an option with a value; Parse hands the value to take, which
    // returns false for a bad value (a usage error).
    void AddValue(const std::string& name, std::function<bool(const char*)> take);
    // Adds an option with a whole number (std::atoi) stored in value.
    void AddNumber(const std::string& name, int& value);

    // Takes the options out of argv; the rest is for the ORB. False on a
    // usage error.
    bool Parse(int argc, char** argv);

    std::string iorFile;          // where to write the factory's IOR; empty: nowhere
    bool printIor = false;        // print the IOR on standard output
    int threads = 4;              // event-loop threads
    int idleSeconds = 60;         // idle interval of the shutdown task
    void* exitMode = nullptr;     // the idle-shutdown task's open() argument
    TlsOptions tls;               // TLS settings; off unless --tls-ca is given
    std::vector<char*> orbArgs;   // argv[0], the ORB's options, then a null (after Parse)

  private:
    // One option the program takes.
    struct Option
    {
      std::string name;                         // e.g. "--threads"
      bool hasValue;                            // takes the next argument as its value
      std::function<bool(const char*)> take;    // stores the value (null for a flag); false: bad value
    };

    // The option named name, or null.
    const Option* Find(const std::string& name) const;

    const unsigned m_offered;        // the standard options offered
    std::vector<Option> m_options;   // every option taken, standard ones first
  };
}

#endif
