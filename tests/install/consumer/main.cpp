// A minimal application server built against the installed package.
#include "Consumer.hh"
#include "KroDazadared/KroSystem.h"
#include "KroServer/SyncServerImpl.h"

#include <cstdio>
#include <string>

class Greeter : public virtual POA_Consumer::IGreeter, public Krovane::SyncServerImpl
{
public:
  explicit Greeter(PortableServer::POA_ptr poa) : Krovane::SyncServerImpl(poa, 1) {}
  char* Greet(const char* name) override { return CORBA::string_dup((std::string("hello ") + name).c_str()); }
};

int main(int argc, char** argv)
{
  Krovane::KroSystem::Instance(1)->InitOrb(argc, argv);
  PortableServer::POA_var root = Krovane::KroSystem::Instance(1)->GetRootPOA();
  PortableServer::ServantBase_var servant = new Greeter(root.in());
  PortableServer::ObjectId_var id = root->activate_object(servant.in());
  CORBA::Object_var object = root->id_to_reference(id.in());
  Consumer::IGreeter_var greeter = Consumer::IGreeter::_narrow(object.in());
  CORBA::String_var text = greeter->Greet("world");
  std::printf("%s\n", text.in());
  Krovane::KroSystem::Instance(1)->Destroy();
  return std::string(text.in()) == "hello world" ? 0 : 1;
}
