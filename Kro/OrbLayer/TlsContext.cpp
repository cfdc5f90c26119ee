#include "OrbLayer/TlsContext.h"

#include <ace/Log_Msg.h>
#include <omniORB4/internal/initialiser.h>
#include <omniORB4/omniInterceptors.h>

#include <openssl/crypto.h>
#include <openssl/err.h>

namespace KroOrb
{
  namespace
  {
    // The first error OpenSSL queued, as text.
    std::string OpenSslError()
    {
      const unsigned long code = ERR_get_error();
      if (code == 0)
        return "no detail";
      char text[256];
      ERR_error_string_n(code, text, sizeof text);
      ERR_clear_error();
      return text;
    }

    // Logs why the context cannot be made; the ORB's start then fails.
    [[noreturn]] void Refuse(const char* what, const std::string& file)
    {
      ACE_ERROR((LM_ERROR, ACE_TEXT("(%P|%t) TLS: cannot use %C %C: %C\n"), what, file.c_str(),
                 OpenSslError().c_str()));
      throw CORBA::INITIALIZE(kTlsSettingsRefused, CORBA::COMPLETED_NO);
    }

    // OpenSSL's pass phrase callback: the pass phrase is its user data.
    int GivePassword(char* buffer, int size, int, void* userData)
    {
      const std::string& password = *static_cast<const std::string*>(userData);
      const int length = static_cast<int>(password.size()) < size ? static_cast<int>(password.size()) : size;
      password.copy(buffer, static_cast<size_t>(length));
      return length;
    }

    // Lets each thread omniORB makes drop its OpenSSL state while the ORB
    // still counts it. Left to the thread's own exit, OpenSSL's clean-up takes
    // a process-wide lock that OpenSSL frees at process exit; destroy() does
    // not wait for thread exits, so a thread that ends just after it would
    // take a freed lock. omniORB waits for its threads' run to return before
    // destroy() returns: the state goes first.
    class ThreadEndsItsOpenSslState : public omni::omniInitialiser
    {
    public:
      // Installs the one hook of the process, once; before ORB_init, as
      // omniORB's own modules do.
      static void Install()
      {
        static ThreadEndsItsOpenSslState* hook = [] {
          ThreadEndsItsOpenSslState* made = new ThreadEndsItsOpenSslState;  // lives to process end
          omni::omniInitialiser::install(made);
          return made;
        }();
        (void)hook;
      }

      // Runs in ORB_init, once the ORB's hooks exist; an ORB started again
      // after destroy() keeps the one hook.
      void attach() override
      {
        if (m_added)
          return;
        omniORB::getInterceptors()->createThread.add(&RunThenStop);
        m_added = true;
      }

      void detach() override {}

    private:
      static void RunThenStop(omni::omniInterceptors::createThread_T::info_T& thread)
      {
        thread.run();
        OPENSSL_thread_stop();
      }

      bool m_added = false;  // ORB_init runs in one thread at a time
    };
  }

  TlsContext::TlsContext(const TlsSettings& settings)
    : TlsSettings(settings),
      OrbSslContext(caFile.c_str(), keyFile.empty() ? nullptr : keyFile.c_str(),
                    keyPassword.empty() ? nullptr : keyPassword.c_str())
  {
  }

  void TlsContext::set_certificate()
  {
    if (certificateFile.empty())
      return;
    if (SSL_CTX_use_certificate_chain_file(get_SSL_CTX(), certificateFile.c_str()) != 1)
      Refuse("the certificate", certificateFile);
  }

  void TlsContext::set_privatekey()
  {
    if (keyFile.empty())
      return;
    SSL_CTX* context = get_SSL_CTX();
    SSL_CTX_set_default_passwd_cb(context, &GivePassword);
    SSL_CTX_set_default_passwd_cb_userdata(context, const_cast<std::string*>(&keyPassword));
    if (SSL_CTX_use_PrivateKey_file(context, keyFile.c_str(), SSL_FILETYPE_PEM) != 1)
      Refuse("the private key", keyFile);
    if (SSL_CTX_check_private_key(context) != 1)
      Refuse("the private key (it does not match the certificate)", keyFile);
  }

#if KRO_OMNIORB_4_2
  int TlsContext::set_verify_mode() { return VerifyMode(); }
#else
  void TlsContext::set_verify()
  {
    // -1: accepted connections keep the context's mode rather than one of
    // omniORB's global settings.
    pd_verify_mode = VerifyMode();
    pd_verify_mode_incoming = -1;
    SSL_CTX_set_verify(get_SSL_CTX(), pd_verify_mode, pd_verify_cb);
  }
#endif

  int TlsContext::VerifyMode() const
  {
    // Here because every process, with a certificate or without, comes
    // through once the context exists.
    if (SSL_CTX_set_cipher_list(get_SSL_CTX(), cipherList.c_str()) != 1)
      Refuse("the cipher list", cipherList);
    return requireClientCertificate ? SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT : SSL_VERIFY_PEER;
  }
}

extern "C" bool KroOrbInstallTlsContext(const KroOrb::TlsSettings* settings)
{
  if (KroOrb::OrbSslContext::singleton)
    return false;
  KroOrb::ThreadEndsItsOpenSslState::Install();
  KroOrb::OrbSslContext::singleton = new KroOrb::TlsContext(*settings);  // omniORB's from here on
  return true;
}
