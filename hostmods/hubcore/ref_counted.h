// Every object hubcore hands out counts its references the same way.
#ifndef HUBCORE_REF_COUNTED_H
#define HUBCORE_REF_COUNTED_H

#include "mj/mj_object_impl.h"

namespace hubcore {

template <class Derived, class Interface>
using RefCounted = mj::RefCounted<Derived, Interface>;

}  // namespace hubcore

#endif  // HUBCORE_REF_COUNTED_H
