#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/linux/atspi/dbus_batch.h"
#include "platform/linux/atspi/glib_ref.h"

struct sd_bus;
struct sd_bus_message;

namespace tavren::atspi {

// Reads a large reply straight from the message, rather than making it a GVariant; true when
// it was read. Null: the reply becomes a GVariant as usual.
using ReplyReader = std::function<bool(sd_bus_message*)>;

// A connection straight to one application (no message bus in between), on sd-bus: its
// client cost per call is a fraction of GDBus's, which matters when a tree takes thousands of
// calls. Calls and replies keep the GVariant shapes of dbus_batch.h. Safe from any thread: one
// batch at a time uses the connection; batches to different applications run in parallel.
// For an application that offers no such connection, the same kind of connection goes to the
// message bus (openBus), with the application's name as each call's destination.
class PeerConnection {
 public:
  // Connected and authenticated within timeoutMs, or null. Only unix: addresses are taken.
  static std::shared_ptr<PeerConnection> open(const std::string& address, int timeoutMs);
  // A connection of its own to the message bus at this address (Hello answered within
  // timeoutMs), or null. Its calls go to their destination. It does not learn of any one
  // peer's end: closed() tells only of the bus's.
  static std::shared_ptr<PeerConnection> openBus(const std::string& address, int timeoutMs);
  ~PeerConnection();
  PeerConnection(const PeerConnection&) = delete;
  PeerConnection& operator=(const PeerConnection&) = delete;

  // As callAll of dbus_batch.h: every call sent at once, replies in call order, null for a
  // call that failed or was not answered within timeoutMs (which also bounds the wait for a
  // batch of another thread to finish). The destination is ignored on a connection straight
  // to a peer (the peer answers); on a bus connection a call without one is not sent. A
  // connection that ends fails its waiting calls at once. `readers`, when given, holds one
  // reader (or null) per call: the reply of a call read by its reader is an empty tuple.
  // `unreadable`, when given, tells which calls were answered with a reply sd-bus would not
  // read: it refuses strings that D-Bus allows (noncharacters such as U+FDD0, which Qt's rich
  // text holds), or a reader refused it.
  std::vector<VariantRef> callAll(std::vector<DbusCall> calls, int timeoutMs = kCallTimeoutMs,
                                  std::vector<ReplyReader> readers = {},
                                  std::vector<bool>* unreadable = nullptr);
  VariantRef callOne(DbusCall call, int timeoutMs = kCallTimeoutMs);
  // Sends one call that expects no answer; false when it could not be sent.
  bool sendUnanswered(DbusCall call, int timeoutMs = kCallTimeoutMs);

  // True once the peer has gone. Learnt from the socket without waiting; a connection busy
  // with another thread's batch counts as open.
  bool closed();
  // True for a connection to the message bus (openBus).
  bool viaBus() const { return viaBus_; }

 private:
  PeerConnection(sd_bus* bus, bool viaBus) : bus_(bus), viaBus_(viaBus) {}
  static std::shared_ptr<PeerConnection> start(const std::string& address, int timeoutMs,
                                               bool viaBus);
  // The call as a message of this connection; null when it cannot be one. Takes the parameters.
  sd_bus_message* newCall(DbusCall& call);
  // The connection for this thread alone, waited for until `deadline` (wait: false, not at all).
  // (A flag under a plain mutex: thread checkers do not see timed mutexes' timed locks.)
  bool takeTurn(std::chrono::steady_clock::time_point deadline, bool wait = true);
  void endTurn();

  std::mutex mutex_;
  std::condition_variable turnEnded_;
  bool busy_ = false;  // a thread is using bus_
  sd_bus* bus_;
  const bool viaBus_;
  std::atomic<bool> closed_{false};
};

}  // namespace tavren::atspi
