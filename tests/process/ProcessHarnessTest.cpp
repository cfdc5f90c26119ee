// The harness itself: every cross-process test relies on it to capture
// output, to bound its waits and to leave no process behind.
#include "support/ProcessHarness.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cerrno>
#include <csignal>

using namespace std::chrono_literals;
using KroTest::ChildProcess;

namespace
{
  // A shell command as a child process.
  std::unique_ptr<ChildProcess> Shell(const std::string& command)
  {
    return std::make_unique<ChildProcess>("/bin/sh", std::vector<std::string>{"-c", command});
  }
}

TEST(ProcessHarness, WaitsAreBoundedAndSignalsArrive)
{
  auto child = Shell("echo started; exec sleep 60");
  EXPECT_TRUE(child->Stdout().WaitFor("started", 10s));
  EXPECT_FALSE(child->Stdout().WaitFor("never printed", 50ms));

  const auto before = std::chrono::steady_clock::now();
  EXPECT_FALSE(child->WaitForExit(100ms).has_value());
  EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);

  child->Signal(SIGTERM);
  const auto status = child->WaitForExit(10s);
  ASSERT_TRUE(status.has_value());
  EXPECT_FALSE(status->exited);
  EXPECT_EQ(SIGTERM, status->signal);
}

TEST(ProcessHarness, DestructorKillsAndReapsARunningChild)
{
  pid_t pid = -1;
  {
    auto child = Shell("exec sleep 60");
    pid = child->Pid();
    EXPECT_FALSE(child->HasExited());
  }
  // Reaped: no longer our child at all, not even a zombie.
  int status = 0;
  EXPECT_EQ(-1, waitpid(pid, &status, WNOHANG));
  EXPECT_EQ(ECHILD, errno);
}

TEST(ProcessHarness, WaitForFileGivesUpWhenTheChildEnds)
{
  KroTest::TemporaryDirectory directory;
  auto child = Shell("exit 1");
  const auto before = std::chrono::steady_clock::now();
  EXPECT_FALSE(KroTest::WaitForFile(directory.File("never"), 30s, child.get()));
  EXPECT_LT(std::chrono::steady_clock::now() - before, 10s);
}
