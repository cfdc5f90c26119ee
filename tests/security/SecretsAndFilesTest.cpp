// Secrets and files a server reads or writes: the IOR file is never
// written through a name or link someone else planted; secrets come from
// files or the environment, and a secret file others may read is warned of.
#include "KroKit/IorFile.h"
#include "KroKit/SecretFile.h"
#include "KroKit/TlsOptions.h"
#include "support/LogCapture.h"
#include "support/ProcessHarness.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace
{
  void WriteText(const std::string& path, const std::string& text, mode_t mode)
  {
    std::ofstream(path) << text;
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
  }

  std::vector<std::string> Entries(const std::string& folder)
  {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    for (dirent* entry = dir ? ::readdir(dir) : nullptr; entry; entry = ::readdir(dir))
      if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..")
        names.push_back(entry->d_name);
    if (dir)
      ::closedir(dir);
    return names;
  }

  TEST(IorFile, NeverWritesThroughALinkAndLeavesNoTemporaryFileBehind)
  {
    KroTest::TemporaryDirectory folder;
    const std::string victim = folder.File("victim");
    const std::string path = folder.File("server.ior");
    WriteText(victim, "precious\n", 0644);
    // Links planted at the old predictable temporary name and at the path itself.
    ASSERT_EQ(::symlink(victim.c_str(), (path + ".tmp." + std::to_string(::getpid())).c_str()), 0);
    ASSERT_EQ(::symlink(victim.c_str(), path.c_str()), 0);

    KroKit::WriteIorFile(path, "IOR:0001");
    EXPECT_EQ(KroTest::ReadFileText(victim), "precious\n");
    struct stat status{};
    ASSERT_EQ(::lstat(path.c_str(), &status), 0);
    EXPECT_TRUE(S_ISREG(status.st_mode)) << "the link is replaced by the file";
    EXPECT_EQ(KroKit::ReadIorFile(path), "IOR:0001");
    EXPECT_EQ(Entries(folder.Path()).size(), 3u) << "victim, the planted link, server.ior";

    EXPECT_THROW(KroKit::WriteIorFile(folder.File("missing/server.ior"), "IOR:0002"), std::runtime_error);
    EXPECT_EQ(Entries(folder.Path()).size(), 3u);
  }

  TEST(SecretFile, AFileOthersMayReadIsWarnedOfAndLineEndsAreNotPartOfTheSecret)
  {
    KroTest::TemporaryDirectory folder;
    struct Case
    {
      const char* name;
      mode_t mode;
      bool warned;
    };
    for (const Case& c : {Case{"owner only", 0600, false}, Case{"group", 0640, true}, Case{"everyone", 0644, true}})
    {
      SCOPED_TRACE(c.name);
      const std::string path = folder.File(c.name);
      WriteText(path, "s3cret-key-of-16+\r\n", c.mode);
      KroTest::LogCapture log;
      EXPECT_EQ(KroKit::ReadSecretFile(path, "the key file"), "s3cret-key-of-16+");
      EXPECT_EQ(log.Contains("is readable by other users"), c.warned);
    }
    EXPECT_THROW(KroKit::ReadSecretFile(folder.File("none"), "the key file"), std::runtime_error);
  }

  TEST(TlsOptions, TheKeysPassPhraseComesFromAFileOrTheEnvironmentAndLeavesIt)
  {
    KroTest::TemporaryDirectory folder;
    const std::string file = folder.File("pass");
    WriteText(file, "from the file\n", 0600);
    const auto take = [](KroKit::TlsOptions& options, std::vector<std::string> args) {
      args.insert(args.begin(), "server");
      std::vector<char*> argv;
      for (std::string& arg : args)
        argv.push_back(&arg[0]);
      bool bad = false;
      for (int i = 1; i < static_cast<int>(argv.size()); ++i)
        EXPECT_TRUE(options.Take(static_cast<int>(argv.size()), argv.data(), i, bad));
      return !bad;
    };
    {
      KroKit::TlsOptions options;
      ::setenv("KRO_TLS_KEY_PASSWORD", "from the environment", 1);
      EXPECT_TRUE(take(options, {"--tls-key-password-file", file}));
      options.TakeEnvironment();
      EXPECT_EQ(options.settings.keyPassword, "from the file") << "an option wins over the environment";
      EXPECT_EQ(std::getenv("KRO_TLS_KEY_PASSWORD"), nullptr) << "children do not inherit it";
    }
    {
      KroKit::TlsOptions options;
      ::setenv("KRO_TLS_KEY_PASSWORD", "from the environment", 1);
      options.TakeEnvironment();
      EXPECT_EQ(options.settings.keyPassword, "from the environment");
      EXPECT_EQ(std::getenv("KRO_TLS_KEY_PASSWORD"), nullptr);
    }
    {
      KroKit::TlsOptions options;
      EXPECT_FALSE(take(options, {"--tls-key-password-file", folder.File("none")}));
    }
  }
}
