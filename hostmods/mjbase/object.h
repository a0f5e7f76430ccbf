// Every MJBase object counts its references the same way.
#ifndef MJBASE_OBJECT_H
#define MJBASE_OBJECT_H

#include "mj/mj_interfaces.h"
#include "mj/mj_object_impl.h"

namespace mjbase {

template <class Derived, class Interface>
using Object = mj::RefCounted<Derived, Interface>;

// Factories of the five classes; each returns an object holding one
// reference, or null when memory ran out.
mj::IMJObject* NewLogSink();
mj::IMJObject* NewEnvironment();
mj::IMJObject* NewParamBag();
mj::IMJObject* NewTextConverter();
mj::IMJObject* NewFile();

}  // namespace mjbase

#endif  // MJBASE_OBJECT_H
