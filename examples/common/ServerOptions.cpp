#include "ServerOptions.h"

#include <cstdlib>

namespace KroExample
{
  ServerOptions::ServerOptions(unsigned offered) : m_offered(offered)
  {
    if (offered & kIorFile)
      AddValue("--ior-file", [this](const char* path) { iorFile = path; return true; });
    if (offered & kPrintIor)
      AddFlag("--print-ior", printIor);
    if (offered & kThreads)
      AddNumber("--threads", threads);
    if (offered & kIdleSeconds)
      AddNumber("--idle-seconds", idleSeconds);
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
      });
  }

  void ServerOptions::AddFlag(const std::string& name, bool& flag)
  {
    m_options.push_back(Option{name, false, [&flag](const char*) { flag = true; return true; }});
  }

  void ServerOptions::AddValue(const std::string& name, std::function<bool(const char*)> take)
  {
    m_options.push_back(Option{name, true, std::move(take)});
  }

  void ServerOptions::AddNumber(const std::string& name, int& value)
  {
    AddValue(name, [&value](const char* text) { value = std::atoi(text); return true; });
  }

  bool ServerOptions::Parse(int argc, char** argv)
  {
    orbArgs.assign(1, argv[0]);
    for (int i = 1; i < argc; ++i)
    {
      const std::string argument = argv[i];
      const Option* option = Find(argument);
      bool badTls = false;
      if ((m_offered & kTls) && tls.Take(argc, argv, i, badTls))
      {
        if (badTls)
          return false;
      }
      else if (option && !option->hasValue)
        option->take(nullptr);
      else if (option && i + 1 < argc)
      {
        if (!option->take(argv[++i]))
          return false;
      }
      else if (argument.compare(0, 2, "--") == 0)
        return false;
      else
        orbArgs.push_back(argv[i]);
    }
    if ((m_offered & kPrintIor) && iorFile.empty())
      printIor = true;
    orbArgs.push_back(nullptr);  // argv is null-terminated
    if (!tls.Valid())
      return false;
    tls.Apply(orbArgs);
    return true;
  }

  const ServerOptions::Option* ServerOptions::Find(const std::string& name) const
  {
    for (const Option& option : m_options)
      if (option.name == name)
        return &option;
    return nullptr;
  }
}
