#include "OrbLayer/TlsContext.h"

#include <ace/Log_Msg.h>

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
      throw CORBA::INITIALIZE(0, CORBA::COMPLETED_NO);
    }

    // OpenSSL's pass phrase callback: the pass phrase is its user data.
    int GivePassword(char* buffer, int size, int, void* userData)
    {
      const std::string& password = *static_cast<const std::string*>(userData);
      const int length = static_cast<int>(password.size()) < size ? static_cast<int>(password.size()) : size;
      password.copy(buffer, static_cast<size_t>(length));
      return length;
    }
  }

  TlsContext::TlsContext(const TlsSettings& settings)
    : TlsSettings(settings),
      sslContext(caFile.c_str(), keyFile.empty() ? nullptr : keyFile.c_str(),
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

  int TlsContext::set_verify_mode()
  {
    return requireClientCertificate ? SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT : SSL_VERIFY_PEER;
  }
}

extern "C" bool KroOrbInstallTlsContext(const KroOrb::TlsSettings* settings)
{
  if (sslContext::singleton)
    return false;
  // omniORB keeps it for the life of the process.
  sslContext::singleton = new KroOrb::TlsContext(*settings);
  return true;
}
