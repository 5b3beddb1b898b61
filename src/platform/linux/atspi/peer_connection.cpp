#include "platform/linux/atspi/peer_connection.h"

#include <gio/gio.h>
#include <systemd/sd-bus.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace tavren::atspi {
namespace {

using Clock = std::chrono::steady_clock;

uint64_t microsUntil(Clock::time_point deadline) {
  const auto left = deadline - Clock::now();
  if (left <= Clock::duration::zero()) return 0;
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(left).count());
}

void dropParameters(DbusCall& call) {
  if (call.parameters) g_variant_unref(g_variant_ref_sink(call.parameters));
  call.parameters = nullptr;
}

// A GVariant value appended to a message in D-Bus form; false on a type D-Bus lacks.
bool appendValue(sd_bus_message* message, GVariant* value) {
  const char* type = g_variant_get_type_string(value);
  switch (type[0]) {
    case 'b': {
      const int flag = g_variant_get_boolean(value) ? 1 : 0;
      return sd_bus_message_append_basic(message, 'b', &flag) >= 0;
    }
    case 'y': {
      const uint8_t v = g_variant_get_byte(value);
      return sd_bus_message_append_basic(message, 'y', &v) >= 0;
    }
    case 'n': {
      const int16_t v = g_variant_get_int16(value);
      return sd_bus_message_append_basic(message, 'n', &v) >= 0;
    }
    case 'q': {
      const uint16_t v = g_variant_get_uint16(value);
      return sd_bus_message_append_basic(message, 'q', &v) >= 0;
    }
    case 'i': {
      const int32_t v = g_variant_get_int32(value);
      return sd_bus_message_append_basic(message, 'i', &v) >= 0;
    }
    case 'u': {
      const uint32_t v = g_variant_get_uint32(value);
      return sd_bus_message_append_basic(message, 'u', &v) >= 0;
    }
    case 'x': {
      const int64_t v = g_variant_get_int64(value);
      return sd_bus_message_append_basic(message, 'x', &v) >= 0;
    }
    case 't': {
      const uint64_t v = g_variant_get_uint64(value);
      return sd_bus_message_append_basic(message, 't', &v) >= 0;
    }
    case 'd': {
      const double v = g_variant_get_double(value);
      return sd_bus_message_append_basic(message, 'd', &v) >= 0;
    }
    case 's':
    case 'o':
    case 'g':
      return sd_bus_message_append_basic(message, type[0], g_variant_get_string(value, nullptr)) >=
             0;
    default:
      break;
  }
  char container = 0;
  std::string contents;
  if (type[0] == 'a') {
    container = 'a';
    contents = type + 1;
  } else if (type[0] == '(' || type[0] == '{') {
    container = type[0] == '(' ? 'r' : 'e';
    contents.assign(type + 1, std::strlen(type) - 2);
  } else if (type[0] == 'v') {
    container = 'v';
    VariantRef inner(g_variant_get_variant(value));
    contents = g_variant_get_type_string(inner.get());
  } else {
    return false;  // maybe types and handles do not cross to applications
  }
  if (sd_bus_message_open_container(message, container, contents.c_str()) < 0) return false;
  const size_t n = g_variant_n_children(value);
  for (size_t i = 0; i < n; ++i) {
    VariantRef child(g_variant_get_child_value(value, i));
    if (!appendValue(message, child.get())) return false;
  }
  return sd_bus_message_close_container(message) >= 0;
}

void sinkAll(std::vector<GVariant*>& values) {
  for (GVariant* v : values) g_variant_unref(g_variant_ref_sink(v));
  values.clear();
}

// The next value of a message as a (floating) GVariant; null when it cannot be read.
GVariant* readValue(sd_bus_message* message) {
  char type = 0;
  const char* contents = nullptr;
  if (sd_bus_message_peek_type(message, &type, &contents) <= 0) return nullptr;
  switch (type) {
    case 'y': {
      uint8_t v = 0;
      return sd_bus_message_read_basic(message, type, &v) > 0 ? g_variant_new_byte(v) : nullptr;
    }
    case 'b': {
      int v = 0;
      return sd_bus_message_read_basic(message, type, &v) > 0 ? g_variant_new_boolean(v != 0)
                                                              : nullptr;
    }
    case 'n': {
      int16_t v = 0;
      return sd_bus_message_read_basic(message, type, &v) > 0 ? g_variant_new_int16(v) : nullptr;
    }
    case 'q': {
      uint16_t v = 0;
      return sd_bus_message_read_basic(message, type, &v) > 0 ? g_variant_new_uint16(v) : nullptr;
    }
    case 'i': {
      int32_t v = 0;
      return sd_bus_message_read_basic(message, type, &v) > 0 ? g_variant_new_int32(v) : nullptr;
    }
    case 'u': {
      uint32_t v = 0;
      return sd_bus_message_read_basic(message, type, &v) > 0 ? g_variant_new_uint32(v) : nullptr;
    }
    case 'x': {
      int64_t v = 0;
      return sd_bus_message_read_basic(message, type, &v) > 0 ? g_variant_new_int64(v) : nullptr;
    }
    case 't': {
      uint64_t v = 0;
      return sd_bus_message_read_basic(message, type, &v) > 0 ? g_variant_new_uint64(v) : nullptr;
    }
    case 'd': {
      double v = 0;
      return sd_bus_message_read_basic(message, type, &v) > 0 ? g_variant_new_double(v) : nullptr;
    }
    // sd-bus checks strings (valid UTF-8, no NUL), paths and signatures as it reads them.
    case 's': {
      const char* v = nullptr;
      return sd_bus_message_read_basic(message, type, &v) > 0 ? g_variant_new_string(v) : nullptr;
    }
    case 'o': {
      const char* v = nullptr;
      return sd_bus_message_read_basic(message, type, &v) > 0 ? g_variant_new_object_path(v)
                                                              : nullptr;
    }
    case 'g': {
      const char* v = nullptr;
      return sd_bus_message_read_basic(message, type, &v) > 0 ? g_variant_new_signature(v)
                                                              : nullptr;
    }
    default:
      break;
  }
  if (type == 'a' && std::strlen(contents) == 1 && std::strchr("ynqiuxtd", contents[0])) {
    // Arrays of numbers (states) are taken in one piece.
    const void* data = nullptr;
    size_t bytes = 0;
    if (sd_bus_message_read_array(message, contents[0], &data, &bytes) < 0) return nullptr;
    const gsize size = contents[0] == 'y'                         ? 1
                       : contents[0] == 'n' || contents[0] == 'q' ? 2
                       : contents[0] == 'i' || contents[0] == 'u' ? 4
                                                                  : 8;
    return g_variant_new_fixed_array(G_VARIANT_TYPE(contents), bytes ? data : nullptr, bytes / size,
                                     size);
  }
  if (type != 'a' && type != 'r' && type != 'e' && type != 'v') return nullptr;  // no handles
  if (sd_bus_message_enter_container(message, type, contents) <= 0) return nullptr;
  std::vector<GVariant*> children;
  for (;;) {
    const int end = sd_bus_message_at_end(message, 0);
    if (end < 0) {
      sinkAll(children);
      return nullptr;
    }
    if (end > 0) break;
    GVariant* child = readValue(message);
    if (child == nullptr) {
      sinkAll(children);
      return nullptr;
    }
    children.push_back(child);
  }
  if (sd_bus_message_exit_container(message) < 0) {
    sinkAll(children);
    return nullptr;
  }
  switch (type) {
    case 'a':
      return g_variant_new_array(G_VARIANT_TYPE(contents), children.data(), children.size());
    case 'r':
      return g_variant_new_tuple(children.data(), children.size());
    case 'e':
      if (children.size() == 2) return g_variant_new_dict_entry(children[0], children[1]);
      break;
    case 'v':
      if (children.size() == 1) return g_variant_new_variant(children[0]);
      break;
  }
  sinkAll(children);
  return nullptr;
}

// A reply's body as one tuple, as GDBus gives it; null when it cannot be read.
VariantRef replyBody(sd_bus_message* reply) {
  std::vector<GVariant*> values;
  for (;;) {
    const int end = sd_bus_message_at_end(reply, 0);
    if (end < 0) {
      sinkAll(values);
      return nullptr;
    }
    if (end > 0) break;
    GVariant* value = readValue(reply);
    if (value == nullptr) {
      sinkAll(values);
      return nullptr;
    }
    values.push_back(value);
  }
  return VariantRef(g_variant_ref_sink(g_variant_new_tuple(values.data(), values.size())));
}

struct Batch;
struct Pending {
  Batch* batch = nullptr;
  size_t index = 0;
  const GVariantType* replyType = nullptr;
  ReplyReader* read = nullptr;
  sd_bus_slot* slot = nullptr;
  bool answered = false;
};
struct Batch {
  std::vector<VariantRef>* replies = nullptr;
  std::vector<bool>* unreadable = nullptr;
  size_t remaining = 0;
  size_t lastSent = 0;        // the index of the last call sent
  bool lastAnswered = false;  // its reply came (or its error)
};

void markUnreadable(const Pending& pending) {
  if (pending.batch->unreadable) (*pending.batch->unreadable)[pending.index] = true;
}

int onReply(sd_bus_message* reply, void* data, sd_bus_error*) {
  auto* pending = static_cast<Pending*>(data);
  Batch& batch = *pending->batch;
  --batch.remaining;
  pending->answered = true;
  batch.lastAnswered = batch.lastAnswered || pending->index == batch.lastSent;
  if (sd_bus_message_is_method_error(reply, nullptr)) return 0;
  if (pending->read) {
    if ((*pending->read)(reply)) {
      (*batch.replies)[pending->index].reset(g_variant_ref_sink(g_variant_new_tuple(nullptr, 0)));
    } else {
      markUnreadable(*pending);
    }
    return 0;
  }
  VariantRef body = replyBody(reply);
  if (!body) markUnreadable(*pending);
  if (body && (!pending->replyType || g_variant_is_of_type(body.get(), pending->replyType))) {
    (*batch.replies)[pending->index] = std::move(body);
  }
  return 0;
}

bool localAddress(const std::string& address) {
  return address.rfind("unix:", 0) == 0 && address.find(';') == std::string::npos;
}

}  // namespace

std::shared_ptr<PeerConnection> PeerConnection::open(const std::string& address, int timeoutMs) {
  return start(address, timeoutMs, false);
}

std::shared_ptr<PeerConnection> PeerConnection::openBus(const std::string& address,
                                                        int timeoutMs) {
  return start(address, timeoutMs, true);
}

std::shared_ptr<PeerConnection> PeerConnection::start(const std::string& address, int timeoutMs,
                                                      bool viaBus) {
  // A local socket only: the address comes from another process, which must not send this
  // service across the network or make it run a program.
  if (!localAddress(address)) return nullptr;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  sd_bus* bus = nullptr;
  if (sd_bus_new(&bus) < 0) return nullptr;
  std::shared_ptr<PeerConnection> connection(new PeerConnection(bus, viaBus));
  // A peer needs no Hello, a message bus does (ready once it is answered). Either's end is
  // learnt, never acted on by exiting.
  if (sd_bus_set_address(bus, address.c_str()) < 0 || sd_bus_set_bus_client(bus, viaBus) < 0 ||
      sd_bus_set_exit_on_disconnect(bus, 0) < 0 || sd_bus_start(bus) < 0) {
    return nullptr;
  }
  for (;;) {
    const int processed = sd_bus_process(bus, nullptr);
    if (processed < 0) return nullptr;
    if (sd_bus_is_ready(bus) > 0) return connection;
    if (processed > 0) continue;
    const uint64_t left = microsUntil(deadline);
    if (left == 0 || sd_bus_wait(bus, left) < 0) return nullptr;
  }
}

bool PeerConnection::takeTurn(Clock::time_point deadline, bool wait) {
  std::unique_lock lock(mutex_);
  if (busy_ && (!wait || !turnEnded_.wait_until(lock, deadline, [this] { return !busy_; }))) {
    return false;
  }
  busy_ = true;
  return true;
}

void PeerConnection::endTurn() {
  {
    std::lock_guard lock(mutex_);
    busy_ = false;
  }
  turnEnded_.notify_one();
}

PeerConnection::~PeerConnection() {
  std::lock_guard lock(mutex_);  // the last user's turn ended before its reference went
  sd_bus_close_unref(bus_);      // no flush: it would wait for a handshake that may never end
}

bool PeerConnection::closed() {
  if (closed_.load(std::memory_order_acquire)) return true;
  if (!takeTurn(Clock::now(), false)) return false;
  // Late replies waiting on the socket are read and dropped; an end of the socket shows.
  int processed = 0;
  while ((processed = sd_bus_process(bus_, nullptr)) > 0) {
  }
  if (processed < 0 || sd_bus_is_open(bus_) <= 0) closed_.store(true, std::memory_order_release);
  endTurn();
  return closed_.load(std::memory_order_relaxed);
}

sd_bus_message* PeerConnection::newCall(DbusCall& call) {
  VariantRef parameters(call.parameters ? g_variant_ref_sink(call.parameters) : nullptr);
  call.parameters = nullptr;
  // Names that come from other processes are checked here, before sd-bus sees them.
  if ((parameters && !g_variant_is_of_type(parameters.get(), G_VARIANT_TYPE_TUPLE)) ||
      (viaBus_ && !g_dbus_is_name(call.destination.c_str())) ||
      !g_variant_is_object_path(call.path.c_str()) ||
      !g_dbus_is_interface_name(call.interface.c_str()) ||
      !g_dbus_is_member_name(call.method.c_str())) {
    return nullptr;
  }
  sd_bus_message* message = nullptr;
  if (sd_bus_message_new_method_call(bus_, &message, viaBus_ ? call.destination.c_str() : nullptr,
                                     call.path.c_str(), call.interface.c_str(),
                                     call.method.c_str()) < 0) {
    return nullptr;
  }
  bool built = call.autoStart || sd_bus_message_set_auto_start(message, 0) >= 0;
  if (parameters) {
    const size_t n = g_variant_n_children(parameters.get());
    for (size_t k = 0; k < n && built; ++k) {
      VariantRef value(g_variant_get_child_value(parameters.get(), k));
      built = appendValue(message, value.get());
    }
  }
  if (!built) return sd_bus_message_unref(message);
  return message;
}

bool PeerConnection::sendUnanswered(DbusCall call, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  if (closed_.load(std::memory_order_acquire) || !takeTurn(deadline)) {
    dropParameters(call);
    return false;
  }
  sd_bus_message* message = newCall(call);
  bool sent = message != nullptr && sd_bus_message_set_expect_reply(message, 0) >= 0 &&
              sd_bus_send(bus_, message, nullptr) >= 0;
  sd_bus_message_unref(message);
  // Written out before the turn ends, so that nothing sent later can overtake it.
  sent = sent && sd_bus_flush(bus_) >= 0;
  endTurn();
  return sent;
}

std::vector<VariantRef> PeerConnection::callAll(std::vector<DbusCall> calls, int timeoutMs,
                                                std::vector<ReplyReader> readers,
                                                std::vector<bool>* unreadable) {
  std::vector<VariantRef> replies(calls.size());
  if (unreadable) unreadable->assign(calls.size(), false);
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  if (calls.empty() || closed_.load(std::memory_order_acquire) || !takeTurn(deadline)) {
    for (DbusCall& call : calls) dropParameters(call);
    return replies;
  }
  const std::unique_ptr<PeerConnection, void (*)(PeerConnection*)> turn(
      this, [](PeerConnection* self) { self->endTurn(); });
  Batch batch;
  batch.replies = &replies;
  batch.unreadable = unreadable;
  std::vector<Pending> pending(calls.size());
  for (size_t i = 0; i < calls.size(); ++i) {
    sd_bus_message* message = newCall(calls[i]);
    if (message == nullptr) continue;
    ReplyReader* reader = i < readers.size() && readers[i] ? &readers[i] : nullptr;
    pending[i] = {&batch, i, calls[i].replyType, reader, nullptr};
    if (sd_bus_call_async(bus_, &pending[i].slot, message, onReply, &pending[i],
                          std::max<uint64_t>(microsUntil(deadline), 1)) >= 0) {
      ++batch.remaining;
      batch.lastSent = i;
    }
    sd_bus_message_unref(message);
  }
  // Replies are dispatched as they are read; a connection that ends answers every waiting
  // call with an error, at once.
  // The application answers a connection's calls in order: once the last call is answered, a
  // reply still missing was one sd-bus dropped as unreadable (see `unreadable`), not a slow one.
  while (batch.remaining > 0 && !batch.lastAnswered) {
    const int processed = sd_bus_process(bus_, nullptr);
    if (processed < 0) break;
    if (processed > 0) continue;
    const uint64_t left = microsUntil(deadline);
    if (left == 0) break;
    const int waited = sd_bus_wait(bus_, left);
    if (waited < 0 && waited != -EINTR) break;
  }
  // What has not answered by now counts as failed; its late reply is dropped on arrival.
  for (Pending& call : pending) {
    if (call.slot && !call.answered && batch.lastAnswered) markUnreadable(call);
    sd_bus_slot_unref(call.slot);
  }
  if (sd_bus_is_open(bus_) <= 0) closed_.store(true, std::memory_order_release);
  return replies;
}

VariantRef PeerConnection::callOne(DbusCall call, int timeoutMs) {
  std::vector<DbusCall> calls;
  calls.push_back(std::move(call));
  return std::move(callAll(std::move(calls), timeoutMs)[0]);
}

}  // namespace tavren::atspi
