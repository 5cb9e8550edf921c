#pragma once

// Owning handles for the GLib and GIO objects the notification centre keeps or returns.

#include <gio/gio.h>
#include <memory>

namespace ventaro::gio {

struct ObjectUnref {
  void operator()(gpointer object) const {
    if (object != nullptr) {
      g_object_unref(object);
    }
  }
};
struct VariantUnref {
  void operator()(GVariant* value) const { g_variant_unref(value); }
};
struct MainContextUnref {
  void operator()(GMainContext* context) const { g_main_context_unref(context); }
};

template <typename T> using ObjectPtr = std::unique_ptr<T, ObjectUnref>;
using VariantPtr = std::unique_ptr<GVariant, VariantUnref>;
using MainContextPtr = std::unique_ptr<GMainContext, MainContextUnref>;

/// A connection shared between the centre and whoever made it.
using ConnectionPtr = std::shared_ptr<GDBusConnection>;

/// Takes over the caller's reference to a connection.
inline ConnectionPtr adoptConnection(GDBusConnection* connection) {
  return ConnectionPtr(connection, ObjectUnref{});
}

} // namespace ventaro::gio
