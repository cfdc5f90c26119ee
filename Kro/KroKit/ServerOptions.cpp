#include "KroKit/ServerOptions.h"

#include "KroKit/LogFormat.h"
#include "KroServer/ThreadPoolThreadingPolicy.h"

#include <ace/Get_Opt.h>
#include <ace/Log_Msg.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace KroKit
{
  namespace
  {
    const int kFirstOptionCode = 256;  // ACE_Get_Opt codes of our options: above every character

    // The whole number text, or false when it is none or outside least..most.
    bool WholeNumber(const char* text, int least, int most, int& value)
    {
      errno = 0;
      char* end = nullptr;
      const long number = std::strtol(text, &end, 10);
      if (errno != 0 || end == text || *end != '\0' || number < least || number > most)
        return false;
      value = static_cast<int>(number);
      return true;
    }

    bool IsOrbOption(const char* argument) { return std::strncmp(argument, "-ORB", 4) == 0; }

    // The ORB's bounds the kit sets unless the command line does: one client
    // must not make a thread per connection without end, nor send messages
    // larger than any request of the kit needs.
    const char* const kOrbBounds[][2] = {
      {"-ORBgiopMaxMsgSize", "2097152"},
      {"-ORBthreadPerConnectionUpperLimit", "100"},
      {"-ORBthreadPerConnectionLowerLimit", "90"},
      {"-ORBmaxServerThreadPoolSize", "100"},
    };
  }

  ServerOptions::ServerOptions(unsigned offered) : m_offered(offered)
  {
    // A pool setting's default: the kit's value when it is at least set,
    // else the pool's own (the kit leaves it to the pool).
    const auto poolDefault = [](const int& value, int set, int (Krovane::ThreadPoolThreadingPolicy::*get)() const)
    {
      return [&value, set, get]
      {
        if (value >= set)
          return std::to_string(value);
        const Krovane::ThreadPoolThreadingPolicy fresh;  // starts no thread
        return "the pool's own, " + std::to_string((fresh.*get)());
      };
    };
    if (offered & kIorFile)
      AddValue("--ior-file", [this](const char* path) { iorFile = path; return true; }, "PATH",
               "write the factory's IOR to PATH", "none");
    if (offered & kPrintIor)
      AddFlag("--print-ior", printIor,
              "print the IOR on standard output (also when neither --ior-file nor --bind is given)");
    if (offered & kThreads)
      AddNumber("--threads", threads, 1, 1000, "threads serving requests (1 to 1000)");
    if (offered & kIdleSeconds)
      AddNumber("--idle-seconds", idleSeconds, 0, INT_MAX,
                "end once no request came and no operation was active for N seconds (two checks)");
    if (offered & kDrainSeconds)
      AddNumber("--drain-seconds", drainSeconds, 0, 3600,
                "on SIGTERM or SIGINT, seconds running operations get to end before the rest are cancelled");
    if (offered & kExitMode)
      AddValue("--exit-mode", [this](const char* mode)
      {
        // The values KroServerShutdownTask::open takes: null, _exit(0), exit(0).
        const std::string text = mode;
        if (text == "exit")
          exitMode = reinterpret_cast<void*>(-2);
        else if (text == "_exit")
          exitMode = reinterpret_cast<void*>(-1);
        else if (text != "orb")
          return false;
        return true;
      }, "orb|exit|_exit",
      "how the idle shutdown ends the process: shut the ORB down and return from main, exit(0) or _exit(0)", "orb");
    if (offered & kNaming)
    {
      AddValue("--name-service", [this](const char* where) { nameService = where; return true; }, "CORBALOC",
               "also bind the factory in this naming service (needs --bind)", "none");
      AddValue("--bind", [this](const char* name) { bindName = name; return true; }, "NAME",
               "the factory's name in the naming service (a/b: name b in context a)", "none");
    }
    if (offered & kPool)
    {
      AddNumber("--max-threads", pool.maxThreads, 1, 100, "most operation pool threads: operations run at once");
      AddShownNumber("--min-threads", pool.minThreads, 1, 30, "pool threads kept when idle (at most --max-threads)",
                     poolDefault(pool.minThreads, 1, &Krovane::ThreadPoolThreadingPolicy::GetMin));
      AddNumber("--stack-kb", pool.stackKb, 128, 20000, "stack of each pool thread in KiB",
                "the system's");
      AddShownNumber("--start-pause-ms", pool.startPauseMs, 0, INT_MAX,
                     "pause in ms after the pool starts a thread, pacing its growth (0: none)",
                     poolDefault(pool.startPauseMs, 0, &Krovane::ThreadPoolThreadingPolicy::GetStartPause));
      AddValue("--place-reports", [this](const char* mode)
      {
        const std::string text = mode;
        if (text == "every-change")
          pool.placeReports = PoolSettings::PlaceReports::kEveryChange;
        else if (text == "latest")
          pool.placeReports = PoolSettings::PlaceReports::kLatest;
        else
          return false;
        return true;
      }, "every-change|latest",
      "how waiting operations hear their places in line: every change, or only the latest one", "latest");
      AddNumber("--place-report-ms", pool.placeReportMs, 0, 1000,
                "least time between two rounds of latest places (0: no pace)");
      AddNumber("--max-threads-per-user", pool.maxThreadsPerUser, 0, 100,
                "pool threads one user's operations may hold while other users' wait",
                "0: half of --max-threads, at least 1");
      AddNumber("--detach-after-timeouts", pool.detachAfterTimeouts, 0, 1000,
                "callbacks in a row that time out before a client's handler is detached (0: never)");
      AddFlag("--waiting-callbacks", pool.waitingCallbacks,
              "each callback waits for the client's answer on the pool thread (default: relays send them)");
      AddNumber("--callbacks-in-flight", pool.callbacksInFlight, 1, 64,
                "callbacks of one operation sent at once to a client that restores their order (1: one at a time)");
      AddNumber("--kept-finished", pool.keptFinished, 1, 1000000,
                "ended operations each server object keeps for queries (the oldest forgotten first)");
      AddNumber("--kept-exception-holders", pool.keptExceptionHolders, 1, 100000,
                "unraised exception holders each server object keeps (the oldest retired first)");
    }
    if (offered & kStatus)
    {
      AddNumber("--status-port", statusPort, 0, 65535, "serve the status page and /metrics on this port (0: any free one)",
                "no status endpoint");
      AddValue("--status-address", [this](const char* address) { statusAddress = address; return *address != 0; },
               "ADDR", "the address the status endpoint listens on", statusAddress);
    }
    if (offered & kJournal)
    {
      AddValue("--journal", [this](const char* file) { journal = file; return *file != 0; }, "FILE",
               "keep server objects and operations in the SQLite journal FILE, so a restart loses none", "none");
      AddNumber("--journal-keep-hours", journalKeepHours, 0, 24 * 365 * 10,
                "hours an ended operation stays in the journal");
    }
    AddFlag("--debug", debug, "log the library's debug lines too (by default: information and worse)");
    AddFlag("--verbose", verbose, "log every priority, omniORB's trace too");
    AddFlag("--quiet", quiet, "log notices and worse only");
    AddFlag("--help", m_helpGiven, "this text");
  }

  void ServerOptions::AddFlag(const std::string& name, bool& flag, const std::string& text)
  {
    m_options.push_back(Option{name, false, [&flag](const char*) { flag = true; return true; }, ""});
    m_help.Add({name, "", text, "", nullptr});
  }

  void ServerOptions::AddValue(const std::string& name, std::function<bool(const char*)> take,
                               const std::string& valueName, const std::string& text,
                               const std::string& defaultText)
  {
    m_options.push_back(Option{name, true, std::move(take), valueName});
    m_help.Add({name, valueName, text, defaultText, nullptr});
  }

  void ServerOptions::AddNumber(const std::string& name, int& value, int least, int most,
                                const std::string& text, const std::string& defaultText)
  {
    if (defaultText.empty())
      AddShownNumber(name, value, least, most, text, [&value] { return std::to_string(value); });
    else
      AddShownNumber(name, value, least, most, text, [defaultText] { return defaultText; });
  }

  void ServerOptions::AddShownNumber(const std::string& name, int& value, int least, int most,
                                     const std::string& text, std::function<std::string()> defaultOf)
  {
    m_options.push_back(Option{name, true, [&value, least, most](const char* given)
                               { return WholeNumber(given, least, most, value); }, "N"});
    m_help.Add({name, "N", text, "", std::move(defaultOf)});
  }

  bool ServerOptions::Parse(int argc, char** argv)
  {
    m_error.clear();
    m_help.TakeDefaults();
    if (!ParseArguments(argc, argv))
      return false;
    if (m_helpGiven)
      return false;
    ApplyLogLevel();
    return true;
  }

  bool ServerOptions::ParseOrExplain(int argc, char** argv)
  {
    if (Parse(argc, argv))
      return true;
    if (m_helpGiven)
    {
      std::printf("%s", Help(argv[0]).c_str());
      return false;
    }
    // The program's name without its directory, as the other error lines give it.
    const char* slash = std::strrchr(argv[0], '/');
    std::fprintf(stderr, "%s: %s\n%s\n", slash ? slash + 1 : argv[0], m_error.c_str(), Usage(argv[0]).c_str());
    return false;
  }

  bool ServerOptions::ParseArguments(int argc, char** argv)
  {
    // The ORB's options and TLS's are taken out first; the rest is ours.
    orbArgs.assign(1, argv[0]);
    std::vector<char*> ours(1, argv[0]);
    for (int i = 1; i < argc; ++i)
    {
      bool badTls = false;
      if (IsOrbOption(argv[i]))
      {
        orbArgs.push_back(argv[i]);
        if (i + 1 < argc && argv[i + 1][0] != '-')
          orbArgs.push_back(argv[++i]);
      }
      else if ((m_offered & kTls) && tls.Take(argc, argv, i, badTls))
      {
        if (badTls)
        {
          m_error = std::string("bad TLS option ") + argv[i];
          return false;
        }
      }
      else
        ours.push_back(argv[i]);
    }
    ours.push_back(nullptr);

    ACE_Get_Opt getOpt(static_cast<int>(ours.size()) - 1, ours.data(), ACE_TEXT(":"), 1, 0,
                       ACE_Get_Opt::RETURN_IN_ORDER, 1);
    for (std::size_t i = 0; i < m_options.size(); ++i)
      getOpt.long_option(m_options[i].name.c_str() + 2, kFirstOptionCode + static_cast<int>(i),
                         m_options[i].hasValue ? ACE_Get_Opt::ARG_REQUIRED : ACE_Get_Opt::NO_ARG);
    for (int code = getOpt(), count = 0; code != EOF && count < argc; code = getOpt(), ++count)
    {
      const int index = code - kFirstOptionCode;
      if (code == 1)
        m_error = std::string("unexpected argument ") + getOpt.opt_arg();
      else if (code == ':')
        m_error = std::string(ours[getOpt.opt_ind() - 1]) + " needs a value";
      else if (index < 0 || index >= static_cast<int>(m_options.size()))
        m_error = std::string("unknown option ") + ours[getOpt.opt_ind() - 1];
      else if (!m_options[index].take(getOpt.opt_arg()))
        m_error = "bad value for " + m_options[index].name + ": " + getOpt.opt_arg();
      if (!m_error.empty())
        return false;
    }
    if ((verbose || debug) && quiet)
    {
      m_error = std::string(verbose ? "--verbose" : "--debug") + " and --quiet exclude each other";
      return false;
    }
    if (!nameService.empty() && bindName.empty())
    {
      m_error = "--name-service needs --bind NAME";
      return false;
    }
    if (pool.minThreads > pool.maxThreads)
    {
      m_error = "--min-threads may not exceed --max-threads";
      return false;
    }
    if ((m_offered & kPrintIor) && iorFile.empty() && bindName.empty())
      printIor = true;
    if (verbose)
    {
      // omniORB's own trace, with its threads, in the same log. Without its
      // times: omniORB takes them with localtime from several threads at once.
      m_traceArgs = {"-ORBtraceLevel", "10", "-ORBtraceThreadId", "1"};
      for (std::string& argument : m_traceArgs)
        orbArgs.push_back(&argument[0]);
    }
    for (const auto& bound : kOrbBounds)
    {
      bool given = false;
      for (std::size_t i = 1; i < orbArgs.size(); ++i)
        given = given || std::strcmp(orbArgs[i], bound[0]) == 0;
      if (!given)
        m_boundArgs.insert(m_boundArgs.end(), {bound[0], bound[1]});
    }
    for (std::string& argument : m_boundArgs)
      orbArgs.push_back(&argument[0]);
    orbArgs.push_back(nullptr);  // argv is null-terminated
    if (m_offered & kTls)
      tls.TakeEnvironment();
    if (!tls.Valid())
    {
      m_error = "the TLS options do not fit together";
      return false;
    }
    tls.Apply(orbArgs);
    return true;
  }

  void ServerOptions::ApplyLogLevel()
  {
    // The default shows what an operator needs: information and worse.
    // Debug lines trace the library's inner steps (threads leaving the
    // pool, exception holders, ...).
    u_long mask = LM_SHUTDOWN | LM_INFO | LM_NOTICE | LM_WARNING | LM_STARTUP | LM_ERROR | LM_CRITICAL |
                  LM_ALERT | LM_EMERGENCY;
    if (debug || verbose)
      mask |= LM_DEBUG;
    if (verbose)
      mask |= LM_TRACE;
    if (quiet)
      mask &= ~static_cast<u_long>(LM_DEBUG | LM_INFO | LM_TRACE);
    ACE_LOG_MSG->priority_mask(mask, ACE_Log_Msg::PROCESS);
    LogFormat::StampTimes();
  }

  std::string ServerOptions::Usage(const char* program) const
  {
    std::string usage = std::string("usage: ") + program;
    std::size_t lineStart = 0;
    auto add = [&](const std::string& item)
    {
      if (usage.size() - lineStart + item.size() > 100)
      {
        usage += "\n      ";
        lineStart = usage.size() - 6;
      }
      usage += " " + item;
    };
    for (const Option& option : m_options)
      add("[" + option.name + (option.hasValue ? " " + option.valueName : "") + "]");
    if (m_offered & kTls)
      add(TlsOptions::Usage());
    add("[-ORB... options]");
    return usage;
  }

  std::string ServerOptions::Help(const char* program) const
  {
    OptionHelp table = m_help;
    if (m_offered & kTls)
      TlsOptions::DescribeIn(table);
    table.Add({"-ORB<option>", "VALUE", "omniORB's options, handed to the ORB (-ORBendPoint giop:tcp:HOST:PORT ...)",
               "", nullptr});
    return Usage(program) + "\n\noptions:\n" + table.Format();
  }
}
