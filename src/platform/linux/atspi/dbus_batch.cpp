#include "platform/linux/atspi/dbus_batch.h"

namespace tavren::atspi {

namespace {

struct Batch {
  std::vector<VariantRef> replies;
  size_t pending = 0;
};

struct Pending {
  Batch* batch;
  size_t index;
};

void onReply(GObject* source, GAsyncResult* result, gpointer data) {
  auto* pending = static_cast<Pending*>(data);
  GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
  pending->batch->replies[pending->index].reset(reply);
  --pending->batch->pending;
  delete pending;
}

// GDBus refuses malformed names without ever calling back; names that come from other
// processes are checked here first.
bool wellFormed(const DbusCall& call) {
  return g_dbus_is_name(call.destination.c_str()) && g_variant_is_object_path(call.path.c_str()) &&
         g_dbus_is_interface_name(call.interface.c_str()) &&
         g_dbus_is_member_name(call.method.c_str()) &&
         (!call.parameters || g_variant_is_of_type(call.parameters, G_VARIANT_TYPE_TUPLE));
}

void dropParameters(DbusCall& call) {
  if (call.parameters) g_variant_unref(g_variant_ref_sink(call.parameters));
  call.parameters = nullptr;
}

}  // namespace

std::vector<VariantRef> callAll(GDBusConnection* connection, std::vector<DbusCall> calls,
                                int timeoutMs) {
  Batch batch;
  batch.replies.resize(calls.size());
  if (!connection || g_dbus_connection_is_closed(connection)) {
    for (DbusCall& call : calls) dropParameters(call);
    return std::move(batch.replies);
  }
  // Replies are dispatched to the thread-default context of the calling thread at call time;
  // a private one keeps them off any loop that thread may otherwise run.
  GMainContext* context = g_main_context_new();
  g_main_context_push_thread_default(context);
  for (size_t i = 0; i < calls.size(); ++i) {
    DbusCall& call = calls[i];
    if (!wellFormed(call)) {
      dropParameters(call);
      continue;
    }
    ++batch.pending;
    g_dbus_connection_call(connection, call.destination.c_str(), call.path.c_str(),
                           call.interface.c_str(), call.method.c_str(), call.parameters,
                           call.replyType, G_DBUS_CALL_FLAGS_NONE, timeoutMs, nullptr, onReply,
                           new Pending{&batch, i});
  }
  g_main_context_pop_thread_default(context);
  // Every call ends with a reply, an error or its timeout, so this loop ends; the batch lives on
  // this stack, so it must not return before the last callback ran.
  while (batch.pending > 0) g_main_context_iteration(context, TRUE);
  g_main_context_unref(context);
  return std::move(batch.replies);
}

VariantRef callOne(GDBusConnection* connection, DbusCall call, int timeoutMs) {
  std::vector<DbusCall> calls;
  calls.push_back(std::move(call));
  return std::move(callAll(connection, std::move(calls), timeoutMs)[0]);
}

DbusCall propertyGet(std::string destination, std::string path, const char* interface,
                     const char* property) {
  return {std::move(destination),
          std::move(path),
          "org.freedesktop.DBus.Properties",
          "Get",
          g_variant_new("(ss)", interface, property),
          G_VARIANT_TYPE("(v)")};
}

VariantRef propertyValue(const VariantRef& reply) {
  if (!reply) return nullptr;
  GVariant* value = nullptr;
  g_variant_get(reply.get(), "(v)", &value);
  return VariantRef(value);
}

}  // namespace tavren::atspi
