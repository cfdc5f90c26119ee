// Object ids: octets read a batch at a time must still be fresh for every
// id, in every thread, and in a forked child.
#include "KroServer/UnguessableObjectIds.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

namespace
{
  using Krovane::UnguessableObjectIds;

  std::string NewIdOctets()
  {
    PortableServer::ObjectId_var id = UnguessableObjectIds::NewId();
    return std::string(reinterpret_cast<const char*>(id->get_buffer()), id->length());
  }
}

TEST(UnguessableObjectIds, EveryIdIsFreshAcrossThreadsAndBatches)
{
  // Each thread takes several batches' worth.
  constexpr int kThreads = 4;
  constexpr int kPerThread = 100;
  std::vector<std::vector<std::string>> taken(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&taken, t] {
      for (int i = 0; i < kPerThread; ++i)
        taken[t].push_back(NewIdOctets());
    });
  for (std::thread& thread : threads)
    thread.join();
  std::set<std::string> distinct;
  const std::string zeros(UnguessableObjectIds::kIdOctets, '\0');
  for (const std::vector<std::string>& ids : taken)
    for (const std::string& id : ids)
    {
      EXPECT_EQ(UnguessableObjectIds::kIdOctets, id.size());
      EXPECT_NE(zeros, id);  // octets cleared once handed out are never handed out again
      distinct.insert(id);
    }
  EXPECT_EQ(static_cast<std::size_t>(kThreads * kPerThread), distinct.size());
}

TEST(UnguessableObjectIds, ForkedChildNeverRepeatsItsParentsNextIds)
{
  NewIdOctets();  // this thread now holds a batch with ids left in it
  constexpr int kNext = 8;
  int channel[2];
  ASSERT_EQ(0, ::pipe(channel));
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0)
  {
    ::close(channel[0]);
    for (int i = 0; i < kNext; ++i)
    {
      const std::string id = NewIdOctets();
      if (::write(channel[1], id.data(), id.size()) != static_cast<ssize_t>(id.size()))
        ::_exit(2);
    }
    ::_exit(0);
  }
  ::close(channel[1]);
  std::set<std::string> parents;
  for (int i = 0; i < kNext; ++i)
    parents.insert(NewIdOctets());
  std::vector<std::string> childs;
  char octets[UnguessableObjectIds::kIdOctets];
  for (int i = 0; i < kNext; ++i)
  {
    std::size_t got = 0;
    while (got < sizeof octets)
    {
      const ssize_t n = ::read(channel[0], octets + got, sizeof octets - got);
      if (n <= 0)
        break;
      got += static_cast<std::size_t>(n);
    }
    ASSERT_EQ(sizeof octets, got);
    childs.emplace_back(octets, sizeof octets);
  }
  ::close(channel[0]);
  int status = 0;
  ASSERT_EQ(child, ::waitpid(child, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  for (const std::string& id : childs)
    EXPECT_EQ(0u, parents.count(id)) << "the child repeated one of its parent's ids";
}
