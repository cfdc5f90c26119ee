#include "ProcessHarness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <linux/close_range.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace KroTest
{
  namespace
  {
    using Clock = std::chrono::steady_clock;

    std::runtime_error SystemError(const std::string& what)
    {
      return std::runtime_error(what + ": " + std::strerror(errno));
    }

    // Milliseconds left until deadline, for poll: never negative.
    int RemainingMs(Clock::time_point deadline)
    {
      const auto left = std::chrono::duration_cast<Milliseconds>(deadline - Clock::now()).count();
      if (left <= 0)
        return 0;
      return left > INT_MAX ? INT_MAX : static_cast<int>(left);
    }

    ExitStatus StatusOf(int waitStatus)
    {
      ExitStatus status;
      if (WIFEXITED(waitStatus))
      {
        status.exited = true;
        status.code = WEXITSTATUS(waitStatus);
      }
      else if (WIFSIGNALED(waitStatus))
      {
        status.signal = WTERMSIG(waitStatus);
      }
      return status;
    }

    bool FileExists(const std::string& path)
    {
      return access(path.c_str(), F_OK) == 0;
    }

    void CloseQuietly(int fd)
    {
      if (fd >= 0)
        close(fd);
    }
  }

  // ---- TemporaryDirectory ----

  TemporaryDirectory::TemporaryDirectory()
  {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/kro-test-XXXXXX";
    if (!mkdtemp(pattern.data()))
      throw SystemError("mkdtemp " + pattern);
    m_path = pattern;
  }

  TemporaryDirectory::~TemporaryDirectory()
  {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
  }

  const std::string& TemporaryDirectory::Path() const
  {
    return m_path;
  }

  std::string TemporaryDirectory::File(const std::string& name) const
  {
    return m_path + "/" + name;
  }

  // ---- OutputCollector ----

  OutputCollector::OutputCollector(int readFd)
    : m_fd(readFd),
      m_stopFd(eventfd(0, EFD_CLOEXEC)),
      m_ended(false)
  {
    if (m_stopFd < 0)
    {
      CloseQuietly(m_fd);
      throw SystemError("eventfd");
    }
    try
    {
      m_reader = std::thread(&OutputCollector::Drain, this);
    }
    catch (...)
    {
      CloseQuietly(m_fd);
      CloseQuietly(m_stopFd);
      throw;
    }
  }

  OutputCollector::~OutputCollector()
  {
    const uint64_t one = 1;
    if (write(m_stopFd, &one, sizeof one) < 0)
    {
      // Cannot happen with a fresh eventfd; the reader ends at the pipe's end anyway.
    }
    m_reader.join();
    CloseQuietly(m_fd);
    CloseQuietly(m_stopFd);
  }

  void OutputCollector::Drain()
  {
    pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_stopFd, POLLIN, 0}};
    char buffer[4096];
    // Ends at the end of the pipe, on a read error, or when told to stop.
    for (;;)
    {
      if (poll(fds, 2, -1) < 0)
      {
        if (errno == EINTR)
          continue;
        break;
      }
      if (fds[1].revents)
        return;  // stopping: whoever waits has gone
      const ssize_t count = read(m_fd, buffer, sizeof buffer);
      if (count < 0 && errno == EINTR)
        continue;
      if (count <= 0)
        break;
      std::lock_guard<std::mutex> guard(m_lock);
      m_text.append(buffer, static_cast<size_t>(count));
      m_changed.notify_all();
    }
    std::lock_guard<std::mutex> guard(m_lock);
    m_ended = true;
    m_changed.notify_all();
  }

  std::string OutputCollector::Text() const
  {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_text;
  }

  namespace
  {
    int Occurrences(const std::string& haystack, const std::string& needle)
    {
      if (needle.empty())
        return 0;
      int count = 0;
      for (std::string::size_type at = haystack.find(needle); at != std::string::npos;
           at = haystack.find(needle, at + needle.size()))
        ++count;
      return count;
    }
  }

  int OutputCollector::Count(const std::string& text) const
  {
    std::lock_guard<std::mutex> guard(m_lock);
    return Occurrences(m_text, text);
  }

  bool OutputCollector::WaitFor(const std::string& text, Milliseconds timeout, int times) const
  {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_changed.wait_for(lock, timeout, [&] { return Occurrences(m_text, text) >= times; });
  }

  bool OutputCollector::WaitForEnd(Milliseconds timeout) const
  {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_changed.wait_for(lock, timeout, [&] { return m_ended; });
  }

  // ---- ExitStatus ----

  std::string ExitStatus::Describe() const
  {
    if (exited)
      return "exit code " + std::to_string(code);
    return "killed by signal " + std::to_string(signal);
  }

  // ---- ChildProcess ----

  ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args)
    : m_program(program), m_pid(-1), m_pidFd(-1)
  {
    // Everything the child needs is prepared before fork: after it, the
    // child may only make async-signal-safe calls.
    std::vector<std::string> words;
    words.push_back(program);
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words)
      argv.push_back(word.data());
    argv.push_back(nullptr);

    int outPipe[2], errPipe[2], execPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0)
      throw SystemError("pipe");
    if (pipe2(errPipe, O_CLOEXEC) != 0)
    {
      CloseQuietly(outPipe[0]); CloseQuietly(outPipe[1]);
      throw SystemError("pipe");
    }
    if (pipe2(execPipe, O_CLOEXEC) != 0)
    {
      CloseQuietly(outPipe[0]); CloseQuietly(outPipe[1]);
      CloseQuietly(errPipe[0]); CloseQuietly(errPipe[1]);
      throw SystemError("pipe");
    }
    const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t parent = getpid();

    m_pid = fork();
    if (m_pid == 0)
    {
      // The child: default signal handling, die with the parent, our pipes
      // as standard output and error, nothing else of the parent's open.
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      struct sigaction defaults;
      std::memset(&defaults, 0, sizeof defaults);
      defaults.sa_handler = SIG_DFL;
      sigaction(SIGPIPE, &defaults, nullptr);
      sigaction(SIGTERM, &defaults, nullptr);
      sigaction(SIGINT, &defaults, nullptr);
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent)
        _exit(127);
      if (devNull >= 0)
        dup2(devNull, STDIN_FILENO);
      dup2(outPipe[1], STDOUT_FILENO);
      dup2(errPipe[1], STDERR_FILENO);
      close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
      execv(argv[0], argv.data());
      const int error = errno;
      if (write(execPipe[1], &error, sizeof error) < 0)
        _exit(126);
      _exit(127);
    }

    const int forkError = errno;
    CloseQuietly(devNull);
    CloseQuietly(outPipe[1]);
    CloseQuietly(errPipe[1]);
    CloseQuietly(execPipe[1]);
    if (m_pid < 0)
    {
      CloseQuietly(outPipe[0]); CloseQuietly(errPipe[0]); CloseQuietly(execPipe[0]);
      throw std::runtime_error("fork: " + std::string(std::strerror(forkError)));
    }

    // The exec pipe closes on a successful exec, or brings exec's errno.
    int execError = 0;
    ssize_t got;
    do
      got = read(execPipe[0], &execError, sizeof execError);
    while (got < 0 && errno == EINTR);
    CloseQuietly(execPipe[0]);

    // From here on the child exists: any failure kills and reaps it, since
    // no destructor runs for a constructor that throws.
    try
    {
      try
      {
        m_stdout = std::make_unique<OutputCollector>(outPipe[0]);  // owns the fd even if it throws
      }
      catch (...)
      {
        CloseQuietly(errPipe[0]);
        throw;
      }
      m_stderr = std::make_unique<OutputCollector>(errPipe[0]);
      if (got > 0)
        throw std::runtime_error("cannot run " + program + ": " + std::strerror(execError));
      // Through syscall: the C library's own declaration lacks C linkage here.
      m_pidFd = static_cast<int>(syscall(SYS_pidfd_open, m_pid, 0));
      if (m_pidFd < 0)
        throw SystemError("pidfd_open");
    }
    catch (...)
    {
      Kill();
      throw;
    }
  }

  ChildProcess::~ChildProcess()
  {
    Kill();
    CloseQuietly(m_pidFd);
    // The collectors stop with their members' destruction.
  }

  pid_t ChildProcess::Pid() const
  {
    return m_pid;
  }

  void ChildProcess::Signal(int sig)
  {
    if (!m_status)
      kill(m_pid, sig);  // a zombie keeps its pid until reaped: never someone else's
  }

  bool ChildProcess::TryReap()
  {
    if (m_status)
      return true;
    int waitStatus = 0;
    pid_t reaped;
    do
      reaped = waitpid(m_pid, &waitStatus, WNOHANG);
    while (reaped < 0 && errno == EINTR);
    if (reaped != m_pid)
      return false;
    m_status = StatusOf(waitStatus);
    return true;
  }

  bool ChildProcess::HasExited()
  {
    return TryReap();
  }

  std::optional<ExitStatus> ChildProcess::WaitForExit(Milliseconds timeout)
  {
    const Clock::time_point deadline = Clock::now() + timeout;
    // Bounded by the deadline; each pass waits on the pidfd.
    while (!TryReap())
    {
      const int remaining = RemainingMs(deadline);
      if (remaining == 0)
        return std::nullopt;
      pollfd exit = {m_pidFd, POLLIN, 0};
      if (poll(&exit, 1, remaining) < 0 && errno != EINTR)
        throw SystemError("poll on pidfd");
    }
    // Let the collectors read what the child wrote last (bounded: a
    // grandchild might still hold the pipes).
    m_stdout->WaitForEnd(std::chrono::seconds(2));
    m_stderr->WaitForEnd(std::chrono::seconds(2));
    return m_status;
  }

  ExitStatus ChildProcess::Kill()
  {
    if (!m_status && m_pid > 0)
    {
      kill(m_pid, SIGKILL);
      int waitStatus = 0;
      pid_t reaped;
      do
        reaped = waitpid(m_pid, &waitStatus, 0);  // SIGKILL cannot be ignored: returns promptly
      while (reaped < 0 && errno == EINTR);
      m_status = reaped == m_pid ? StatusOf(waitStatus) : ExitStatus();
    }
    return m_status.value_or(ExitStatus());
  }

  const OutputCollector& ChildProcess::Stdout() const
  {
    return *m_stdout;
  }

  const OutputCollector& ChildProcess::Stderr() const
  {
    return *m_stderr;
  }

  int ChildProcess::ExitFd() const
  {
    return m_pidFd;
  }

  std::string ChildProcess::Describe() const
  {
    std::ostringstream text;
    text << m_program << " (pid " << m_pid << ", "
         << (m_status ? m_status->Describe() : std::string("not reaped")) << ")\n"
         << "--- standard output ---\n" << m_stdout->Text()
         << "--- standard error ---\n" << m_stderr->Text()
         << "--- end ---\n";
    return text.str();
  }

  // ---- files ----

  bool WaitForFile(const std::string& path, Milliseconds timeout, ChildProcess* child)
  {
    const Clock::time_point deadline = Clock::now() + timeout;
    const std::filesystem::path file(path);
    const std::string directory = file.has_parent_path() ? file.parent_path().string() : ".";

    const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (watch < 0)
      throw SystemError("inotify_init1");
    if (inotify_add_watch(watch, directory.c_str(), IN_CREATE | IN_MOVED_TO | IN_CLOSE_WRITE) < 0)
    {
      CloseQuietly(watch);
      throw SystemError("inotify_add_watch " + directory);
    }

    bool found = false;
    // Bounded by the deadline; each pass waits for a directory event or the child's end.
    for (;;)
    {
      found = FileExists(path);  // checked after the watch is set: no event is missed
      if (found)
        break;
      const int remaining = RemainingMs(deadline);
      if (remaining == 0)
        break;
      pollfd fds[2] = {{watch, POLLIN, 0}, {child ? child->ExitFd() : -1, POLLIN, 0}};
      if (poll(fds, child ? 2 : 1, remaining) < 0 && errno != EINTR)
        break;
      if (child && fds[1].revents)
      {
        found = FileExists(path);
        break;
      }
      char events[4096];
      while (read(watch, events, sizeof events) > 0)
      {
        // Only the wake-up matters; the test above looks at the file itself.
      }
    }
    CloseQuietly(watch);
    return found;
  }

  std::string ReadFileText(const std::string& path)
  {
    std::ifstream in(path, std::ios::binary);
    if (!in)
      throw std::runtime_error("cannot read " + path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // ---- ServerProcess ----

  ServerProcess::ServerProcess(const std::string& program, const std::vector<std::string>& extraArgs,
                               Milliseconds startTimeout)
    : m_iorFile(m_directory.File("server.ior"))
  {
    std::vector<std::string> args = {"--ior-file", m_iorFile, "-ORBendPoint", "giop:tcp:127.0.0.1:"};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    m_process = std::make_unique<ChildProcess>(program, args);
    // A server that ended in order at once (idle) has removed its IOR file
    // again: it has no IOR to give, and that is no failure.
    const auto endedInOrder = [this](Milliseconds wait)
    {
      const std::optional<ExitStatus> status = m_process->WaitForExit(wait);
      return status && status->exited && status->code == 0;
    };
    if (!WaitForFile(m_iorFile, startTimeout, m_process.get()))
    {
      if (endedInOrder(Milliseconds(0)))
        return;
      throw std::runtime_error("no IOR from the server within " + std::to_string(startTimeout.count()) +
                               " ms: " + m_process->Describe());
    }
    std::string text;
    try
    {
      text = ReadFileText(m_iorFile);
    }
    catch (const std::runtime_error&)
    {
      // Gone between the two looks: the server is ending.
      if (endedInOrder(startTimeout))
        return;
      throw;
    }
    m_ior = text.substr(0, text.find_first_of("\r\n"));
  }

  const std::string& ServerProcess::Ior() const
  {
    return m_ior;
  }

  const std::string& ServerProcess::IorFile() const
  {
    return m_iorFile;
  }

  ChildProcess& ServerProcess::Process()
  {
    return *m_process;
  }

  std::optional<ExitStatus> ServerProcess::Stop(Milliseconds timeout)
  {
    m_process->Signal(SIGTERM);
    return m_process->WaitForExit(timeout);
  }
}
