#pragma once

#include <gio/gio.h>

#include <memory>

namespace tavren::atspi {

struct ObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
struct VariantUnref {
  void operator()(GVariant* variant) const { g_variant_unref(variant); }
};

// One owned reference to a GObject.
template <class T>
using ObjectRef = std::unique_ptr<T, ObjectUnref>;

// One owned reference to a GVariant (never floating).
using VariantRef = std::unique_ptr<GVariant, VariantUnref>;

// A new reference to an object someone else owns.
template <class T>
ObjectRef<T> addRef(T* object) {
  return ObjectRef<T>(object ? static_cast<T*>(g_object_ref(object)) : nullptr);
}

}  // namespace tavren::atspi
