// ProcessHarness: child processes for cross-process tests.
//
// A test starts a real program (a server, a client) as a ChildProcess, with
// its standard output and error captured; waits, each time with a deadline,
// for a file to appear, for a text in the output or for the exit; sends it
// signals. Whatever happens in the test, the destructor kills and reaps the
// child, so no process outlives its test (and a child is killed too when the
// test process dies, through PR_SET_PDEATHSIG).
//
// ServerProcess adds the convention of the family's servers: start with
// --ior-file PATH on 127.0.0.1, wait for the IOR, stop with SIGTERM.
//
// Ownership and threads: each object belongs to the test that creates it
// and is used from that test's thread; only the output collectors have
// threads of their own, and their Text/WaitFor may be called from any
// thread. A ChildProcess must be created and destroyed by the same thread
// (the parent-death signal follows the thread that forked).
#ifndef KRO_TESTS_PROCESSHARNESS_H
#define KRO_TESTS_PROCESSHARNESS_H

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace KroTest
{
  using Milliseconds = std::chrono::milliseconds;

  // A fresh directory under $TMPDIR (or /tmp), removed with its contents
  // at destruction.
  class TemporaryDirectory
  {
  public:
    TemporaryDirectory();
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    // The directory's absolute path.
    const std::string& Path() const;
    // Path() + "/" + name.
    std::string File(const std::string& name) const;

  private:
    std::string m_path;  // the directory
  };

  // Collects everything written to a pipe, on a thread of its own, so that
  // the writer never blocks on a full pipe.
  class OutputCollector
  {
  public:
    // Takes ownership of readFd, the pipe's read end (closed here even
    // when the constructor throws).
    explicit OutputCollector(int readFd);
    // Stops reading (even if a writer still holds the pipe) and closes it.
    ~OutputCollector();
    OutputCollector(const OutputCollector&) = delete;
    OutputCollector& operator=(const OutputCollector&) = delete;

    // Everything read so far.
    std::string Text() const;
    // How many times text occurs in Text().
    int Count(const std::string& text) const;
    // Waits until text occurs at least times times, at most timeout.
    bool WaitFor(const std::string& text, Milliseconds timeout, int times = 1) const;
    // Waits until every writer has closed the pipe, at most timeout.
    bool WaitForEnd(Milliseconds timeout) const;

  private:
    // The reader thread's body.
    void Drain();

    int m_fd;                               // the pipe's read end, owned
    int m_stopFd;                           // eventfd that tells the reader to stop
    mutable std::mutex m_lock;              // guards m_text and m_ended
    mutable std::condition_variable m_changed;  // signalled on new text and at the end
    std::string m_text;                     // everything read so far
    bool m_ended;                           // end of file seen
    std::thread m_reader;                   // runs Drain
  };

  // How a child process ended.
  struct ExitStatus
  {
    bool exited = false;  // it called exit (then code is valid)
    int code = -1;        // exit code
    int signal = 0;       // the signal that ended it, 0 if none

    // "exit code N" or "killed by signal N".
    std::string Describe() const;
  };

  // A program running as a child of the test process, started with fork
  // and exec, standard input /dev/null, standard output and error each
  // captured by an OutputCollector.
  class ChildProcess
  {
  public:
    // Starts program (a path) with args (without argv[0]). Throws
    // std::runtime_error when it cannot be started (exec failure included).
    ChildProcess(const std::string& program, const std::vector<std::string>& args);
    // Kills (SIGKILL) the child if it has not been reaped, and reaps it.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const;
    // Sends sig, unless the child has already been reaped.
    void Signal(int sig);
    // Waits for the child's end, at most timeout, and reaps it; the outputs
    // are then complete. Empty if it still runs. Once reaped, returns the
    // same status at once.
    std::optional<ExitStatus> WaitForExit(Milliseconds timeout);
    // Whether the child has ended (reaping it if so); does not wait.
    bool HasExited();
    // SIGKILL, then reap.
    ExitStatus Kill();

    const OutputCollector& Stdout() const;
    const OutputCollector& Stderr() const;
    // Program, pid, status and both outputs: for failure messages.
    std::string Describe() const;

    // A descriptor that becomes readable when the child ends (pidfd), for
    // waiting on the child together with other events.
    int ExitFd() const;

  private:
    // Reaps the child if it has ended; true once it is reaped.
    bool TryReap();

    std::string m_program;                        // what was started
    pid_t m_pid;                                  // the child
    int m_pidFd;                                  // readable once the child ends
    std::optional<ExitStatus> m_status;           // set once reaped
    std::unique_ptr<OutputCollector> m_stdout;    // the child's standard output
    std::unique_ptr<OutputCollector> m_stderr;    // the child's standard error
  };

  // Waits until path exists (written in place or renamed there), at most
  // timeout. Gives up early, returning false, when child (if given) ends
  // first.
  bool WaitForFile(const std::string& path, Milliseconds timeout, ChildProcess* child = nullptr);

  // The whole content of path; throws std::runtime_error if unreadable.
  std::string ReadFileText(const std::string& path);

  // A server of the family in a child process: started with
  // --ior-file <own temporary directory>/server.ior and
  // -ORBendPoint giop:tcp:127.0.0.1:, then the extra arguments. The
  // constructor returns once the IOR is there.
  class ServerProcess
  {
  public:
    // Throws std::runtime_error, with the server's output, when no IOR
    // appears within startTimeout (the child is then killed and reaped).
    explicit ServerProcess(const std::string& program,
                           const std::vector<std::string>& extraArgs = {},
                           Milliseconds startTimeout = std::chrono::seconds(20));

    // The factory's IOR as the server wrote it; empty when the server ended
    // in order (status 0) before it could be read, its file removed.
    const std::string& Ior() const;
    const std::string& IorFile() const;
    ChildProcess& Process();

    // SIGTERM, then waits for the exit at most timeout. Empty if it still runs.
    std::optional<ExitStatus> Stop(Milliseconds timeout = std::chrono::seconds(10));

  private:
    TemporaryDirectory m_directory;           // holds the IOR file; outlives the process
    std::string m_iorFile;                    // where the server writes its IOR
    std::unique_ptr<ChildProcess> m_process;  // the server
    std::string m_ior;                        // the IOR read from m_iorFile
  };
}

#endif
