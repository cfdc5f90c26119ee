// ObjectIdComparer: the order of object ids (octet sequences) in the
// object table: unsigned octets compared in turn, a prefix before the
// longer id, the empty id first.
#ifndef KROSERVER_OBJECTIDCOMPARER_H
#define KROSERVER_OBJECTIDCOMPARER_H

#include <omniORB4/CORBA.h>

namespace Krovane
{
  struct ObjectIdComparer
  {
    // Whether a sorts before b.
    bool operator()(const PortableServer::ObjectId& a, const PortableServer::ObjectId& b) const;
  };
}

#endif
