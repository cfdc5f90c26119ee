#include "KroServer/UnguessableObjectIds.h"

#include <ace/Log_Msg.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

#include <fcntl.h>
#include <pthread.h>
#include <sys/random.h>
#include <unistd.h>

namespace Krovane
{
  namespace
  {
    // Fills length octets at buffer from /dev/urandom; false when it cannot.
    bool ReadUrandom(unsigned char* buffer, size_t length)
    {
      const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
      if (fd < 0)
        return false;
      size_t done = 0;
      while (done < length)
      {
        const ssize_t got = ::read(fd, buffer + done, length - done);
        if (got > 0)
          done += static_cast<size_t>(got);
        else if (got == 0 || errno != EINTR)
          break;
      }
      ::close(fd);
      return done == length;
    }

    // Fills length octets at buffer from the kernel's secure source; false
    // when it cannot. getrandom blocks only until the pool is first seeded.
    bool SecureRandom(unsigned char* buffer, size_t length)
    {
      size_t done = 0;
      while (done < length)
      {
        const ssize_t got = ::getrandom(buffer + done, length - done, 0);
        if (got > 0)
          done += static_cast<size_t>(got);
        else if (got < 0 && errno == ENOSYS)
          return ReadUrandom(buffer, length);
        else if (got == 0 || errno != EINTR)
          return false;
      }
      return true;
    }

    constexpr size_t kBatch = 256;  // octets read at a time

    // Forks seen by this process; a batch read before the last one is the
    // parent's, whose ids must not be repeated by the child.
    std::atomic<unsigned> s_forks{0};

    void CountFork() { s_forks.fetch_add(1); }

    // Fills length (<= kBatch) octets at buffer from the secure source, read
    // a batch at a time by each thread: a system call for every id would be
    // one per relay activated, which a server activating a relay per
    // operation feels. False when the source cannot be read.
    bool BatchedRandom(unsigned char* buffer, size_t length)
    {
      static std::once_flag forkWatch;
      std::call_once(forkWatch, [] { ::pthread_atfork(nullptr, nullptr, CountFork); });
      thread_local unsigned char octets[kBatch];
      thread_local size_t used = kBatch;      // octets of octets handed out
      thread_local unsigned readAfter = 0;    // s_forks when octets were read
      const unsigned forks = s_forks.load();
      if (forks != readAfter || kBatch - used < length)
      {
        if (!SecureRandom(octets, kBatch))
          return false;
        readAfter = forks;
        used = 0;
      }
      std::memcpy(buffer, octets + used, length);
      std::memset(octets + used, 0, length);  // an id handed out does not stay behind
      used += length;
      return true;
    }

    // Logs, once per POA name, that poa's ids are its own and can be guessed.
    void WarnGuessable(PortableServer::POA_ptr poa)
    {
      static std::mutex lock;
      static std::set<std::string> warned;  // guarded by lock; POA names logged
      CORBA::String_var name = poa->the_name();
      {
        std::lock_guard<std::mutex> guard(lock);
        if (!warned.insert(name.in()).second)
          return;
      }
      ACE_DEBUG((LM_WARNING,
                 ACE_TEXT("(%P|%t) POA %C assigns its own object ids (SYSTEM_ID): references to its objects "
                          "can be guessed\n"),
                 name.in()));
    }
  }

  PortableServer::ObjectId* UnguessableObjectIds::NewId()
  {
    PortableServer::ObjectId_var id = new PortableServer::ObjectId;
    id->length(kIdOctets);
    static_assert(kIdOctets <= kBatch, "an id fits in one batch");
    if (!BatchedRandom(id->get_buffer(), kIdOctets))
    {
      ACE_ERROR((LM_ERROR, ACE_TEXT("(%P|%t) no random octets for an object id: %m\n")));
      throw CORBA::NO_RESOURCES(0, CORBA::COMPLETED_NO);
    }
    return id._retn();
  }

  PortableServer::ObjectId* UnguessableObjectIds::Activate(PortableServer::POA_ptr poa,
                                                           PortableServer::Servant servant)
  {
    PortableServer::ObjectId_var id = NewId();
    try
    {
      poa->activate_object_with_id(id.in(), servant);
      return id._retn();
    }
    catch (const CORBA::BAD_PARAM&)
    {
      // A SYSTEM_ID POA: it takes only ids it made itself.
    }
    WarnGuessable(poa);
    return poa->activate_object(servant);
  }
}
