#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/atspi/accessible_reads.h"
#include "platform/linux/atspi/app_connections.h"
#include "platform/linux/atspi/atspi_bus.h"
#include "platform/linux/atspi/dbus_batch.h"
#include "platform/linux/atspi/peer_connection.h"

namespace tavren::atspi {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kInterfaceXml =
    "<node><interface name='org.tavren.Test'>"
    "<method name='Echo'><arg type='s' direction='in'/><arg type='s' direction='out'/></method>"
    "<method name='Never'/>"
    "<method name='Mirror'><arg type='v' direction='in'/><arg type='v' direction='out'/></method>"
    "<method name='Odd'><arg type='s' direction='out'/></method>"
    "</interface>"
    "<interface name='org.a11y.atspi.Application'>"
    "<method name='GetApplicationBusAddress'><arg type='s' direction='out'/></method>"
    "</interface></node>";

// A peer-to-peer D-Bus server on its own thread: Echo answers at once, Never never answers.
class TestServer {
 public:
  TestServer() {
    std::promise<std::string> address;
    auto ready = address.get_future();
    thread_ = std::thread([this, &address] { run(address); });
    address_ = ready.get();
  }
  ~TestServer() {
    g_main_context_invoke(
        context_,
        [](gpointer loop) {
          g_main_loop_quit(static_cast<GMainLoop*>(loop));
          return G_SOURCE_REMOVE;
        },
        loop_);
    thread_.join();
  }
  const std::string& address() const { return address_; }

  // What GetApplicationBusAddress answers.
  void offer(std::string address) {
    std::lock_guard lock(offerMutex_);
    offer_ = std::move(address);
  }

  // Ends every client connection from this side, leaving calls in progress unanswered.
  void hangUp() {
    // The server travels as an atomic: GLib hands the job over with locks thread checkers
    // do not see.
    struct Job {
      std::atomic<TestServer*> server{nullptr};
      std::promise<void> done;
    } job;
    auto finished = job.done.get_future();
    job.server.store(this, std::memory_order_release);
    g_main_context_invoke(
        context_,
        [](gpointer data) {
          auto* job = static_cast<Job*>(data);
          for (GDBusConnection* c : job->server.load(std::memory_order_acquire)->connections_) {
            g_dbus_connection_close_sync(c, nullptr, nullptr);
          }
          job->done.set_value();
          return G_SOURCE_REMOVE;
        },
        &job);
    finished.wait();
  }

 private:
  void run(std::promise<std::string>& address) {
    context_ = g_main_context_new();
    g_main_context_push_thread_default(context_);
    loop_ = g_main_loop_new(context_, FALSE);
    info_ = g_dbus_node_info_new_for_xml(kInterfaceXml, nullptr);
    gchar* guid = g_dbus_generate_guid();
    GDBusServer* server = g_dbus_server_new_sync("unix:tmpdir=/tmp", G_DBUS_SERVER_FLAGS_NONE, guid,
                                                 nullptr, nullptr, nullptr);
    g_free(guid);
    g_signal_connect(server, "new-connection", G_CALLBACK(onConnection), this);
    g_dbus_server_start(server);
    address.set_value(g_dbus_server_get_client_address(server));
    g_main_loop_run(loop_);
    g_dbus_server_stop(server);
    g_object_unref(server);
    for (GDBusMethodInvocation* held : held_) {
      g_dbus_method_invocation_return_dbus_error(held, "org.tavren.Test.Gone", "");
    }
    for (GDBusConnection* c : connections_) g_object_unref(c);
    g_dbus_node_info_unref(info_);
    g_main_loop_unref(loop_);
    g_main_context_pop_thread_default(context_);
    g_main_context_unref(context_);
  }

  static gboolean onConnection(GDBusServer*, GDBusConnection* connection, gpointer self) {
    auto* server = static_cast<TestServer*>(self);
    static const GDBusInterfaceVTable vtable{onCall, nullptr, nullptr, {}};
    g_dbus_connection_register_object(connection, "/test", server->info_->interfaces[0], &vtable,
                                      server, nullptr, nullptr);
    g_dbus_connection_register_object(connection, "/test", server->info_->interfaces[1], &vtable,
                                      server, nullptr, nullptr);
    server->connections_.push_back(G_DBUS_CONNECTION(g_object_ref(connection)));
    return TRUE;
  }

  static void onCall(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                     const gchar* method, GVariant* parameters, GDBusMethodInvocation* invocation,
                     gpointer self) {
    if (std::string(method) == "GetApplicationBusAddress") {
      auto* server = static_cast<TestServer*>(self);
      std::lock_guard lock(server->offerMutex_);
      g_dbus_method_invocation_return_value(invocation,
                                            g_variant_new("(s)", server->offer_.c_str()));
      return;
    }
    if (std::string(method) == "Never") {
      static_cast<TestServer*>(self)->held_.push_back(invocation);
      return;
    }
    if (std::string(method) == "Odd") {  // a noncharacter, as Qt's rich text holds
      g_dbus_method_invocation_return_value(invocation, g_variant_new("(s)", "frame \uFDD0 end"));
      return;
    }
    if (std::string(method) == "Mirror") {
      g_dbus_method_invocation_return_value(invocation, g_variant_ref(parameters));
      return;
    }
    const gchar* text = nullptr;
    g_variant_get(parameters, "(&s)", &text);
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(s)", text));
  }

  std::thread thread_;
  std::string address_;
  GMainContext* context_ = nullptr;
  GMainLoop* loop_ = nullptr;
  GDBusNodeInfo* info_ = nullptr;
  std::vector<GDBusConnection*> connections_;
  std::vector<GDBusMethodInvocation*> held_;
  std::mutex offerMutex_;
  std::string offer_;
};

class LinuxDbusBatch : public ::testing::Test {
 protected:
  LinuxDbusBatch()
      : connection(g_dbus_connection_new_for_address_sync(
            server.address().c_str(), G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT, nullptr,
            nullptr, nullptr)) {
    if (connection) routeReplies(connection.get());
  }

  static DbusCall echo(const char* text) {
    return {"org.tavren.Test",    "/test", "org.tavren.Test", "Echo", g_variant_new("(s)", text),
            G_VARIANT_TYPE("(s)")};
  }
  static DbusCall never() {
    return {"org.tavren.Test", "/test", "org.tavren.Test", "Never", nullptr, nullptr};
  }
  static std::string text(const VariantRef& reply) {
    if (!reply) return "<none>";
    const gchar* value = nullptr;
    g_variant_get(reply.get(), "(&s)", &value);
    return value;
  }

  ConnectionContext context;  // outlives the connections made in it
  TestServer server;
  ObjectRef<GDBusConnection> connection;
};

TEST_F(LinuxDbusBatch, RepliesComeBackInCallOrder) {
  ASSERT_TRUE(connection);
  std::vector<DbusCall> calls;
  for (int i = 0; i < 50; ++i) calls.push_back(echo(std::to_string(i).c_str()));
  std::vector<VariantRef> replies = callAll(connection.get(), std::move(calls));
  ASSERT_EQ(replies.size(), 50u);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(text(replies[i]), std::to_string(i));
  EXPECT_TRUE(callAll(connection.get(), {}).empty());
}

TEST_F(LinuxDbusBatch, SilentPeerCostsOneTimeoutNotOnePerCall) {
  std::vector<DbusCall> calls;
  calls.push_back(never());
  calls.push_back(echo("a"));
  calls.push_back(never());
  calls.push_back(never());
  calls.push_back(echo("b"));
  auto start = Clock::now();
  std::vector<VariantRef> replies = callAll(connection.get(), std::move(calls), 300);
  auto elapsed = Clock::now() - start;
  EXPECT_EQ(text(replies[0]), "<none>");
  EXPECT_EQ(text(replies[1]), "a");
  EXPECT_EQ(text(replies[3]), "<none>");
  EXPECT_EQ(text(replies[4]), "b");
  EXPECT_GE(elapsed, std::chrono::milliseconds(250));
  EXPECT_LT(elapsed, std::chrono::milliseconds(800));
}

TEST_F(LinuxDbusBatch, MalformedCallsFailWithoutWaiting) {
  std::vector<DbusCall> calls;
  calls.push_back(echo("ok"));
  DbusCall badName = echo("x");
  badName.destination = "not a bus name";
  DbusCall badPath = echo("x");
  badPath.path = "relative/path";
  DbusCall badArgs = echo("x");
  g_variant_unref(g_variant_ref_sink(badArgs.parameters));
  badArgs.parameters = g_variant_new_string("not a tuple");
  calls.push_back(std::move(badName));
  calls.push_back(std::move(badPath));
  calls.push_back(std::move(badArgs));
  auto start = Clock::now();
  std::vector<VariantRef> replies = callAll(connection.get(), std::move(calls), 5000);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(text(replies[0]), "ok");
  for (size_t i = 1; i < replies.size(); ++i) EXPECT_FALSE(replies[i]) << i;
  EXPECT_FALSE(callOne(nullptr, echo("no connection")));
}

TEST_F(LinuxDbusBatch, ThreadsShareOneConnection) {
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 20; ++round) {
        std::string mine = std::to_string(t) + "/" + std::to_string(round);
        std::vector<DbusCall> calls;
        calls.push_back(echo(mine.c_str()));
        calls.push_back(echo((mine + "+").c_str()));
        auto replies = callAll(connection.get(), std::move(calls));
        if (text(replies[0]) != mine || text(replies[1]) != mine + "+") ++wrong;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong, 0);
}

TEST_F(LinuxDbusBatch, PeerConnectionCarriesBatchesInCallOrder) {
  std::shared_ptr<PeerConnection> peer = PeerConnection::open(server.address(), 2000);
  ASSERT_TRUE(peer);
  std::vector<DbusCall> calls;
  for (int i = 0; i < 300; ++i) calls.push_back(echo(std::to_string(i).c_str()));
  DbusCall badPath = echo("x");
  badPath.path = "relative/path";
  calls.push_back(std::move(badPath));
  DbusCall typed = echo("typed");
  typed.replyType = G_VARIANT_TYPE("(u)");
  calls.push_back(std::move(typed));
  std::vector<VariantRef> replies = peer->callAll(std::move(calls));
  ASSERT_EQ(replies.size(), 302u);
  for (int i = 0; i < 300; ++i) EXPECT_EQ(text(replies[i]), std::to_string(i));
  EXPECT_FALSE(replies[300]);
  EXPECT_FALSE(replies[301]);
  EXPECT_FALSE(peer->closed());
}

TEST_F(LinuxDbusBatch, PeerConnectionKeepsValueShapesBothWays) {
  // What goes out as a GVariant comes back equal, through D-Bus's own encoding twice.
  std::shared_ptr<PeerConnection> peer = PeerConnection::open(server.address(), 2000);
  ASSERT_TRUE(peer);
  const char* shapes[] = {
      "<(uint32 1, [uint32 2, 3], @a{sv} {'Name': <'x'>, 'n': <int32 -4>})>",
      "<[('org.a', objectpath '/a/b'), ('', '/')]>",
      "<(true, byte 7, int16 -2, uint16 9, int64 -5, uint64 6, 2.5, signature 'a{sv}')>",
      "<@as []>",
      "<'text \u00e9'>",
  };
  for (const char* shape : shapes) {
    VariantRef value(g_variant_ref_sink(g_variant_new_parsed(shape)));
    DbusCall call{"",
                  "/test",
                  "org.tavren.Test",
                  "Mirror",
                  g_variant_new_tuple(std::array{value.get()}.data(), 1),
                  nullptr};
    VariantRef reply = peer->callOne(std::move(call));
    ASSERT_TRUE(reply) << shape;
    VariantRef back(g_variant_get_child_value(reply.get(), 0));
    EXPECT_TRUE(g_variant_equal(back.get(), value.get())) << shape;
  }
}

TEST_F(LinuxDbusBatch, PeerRepliesSdBusRefusesAreToldApart) {
  // D-Bus allows noncharacters in strings (Qt's rich text holds U+FDD0); sd-bus will not read
  // them. The caller learns which replies those were, to ask elsewhere.
  std::shared_ptr<PeerConnection> peer = PeerConnection::open(server.address(), 2000);
  ASSERT_TRUE(peer);
  std::vector<DbusCall> calls;
  calls.push_back({"", "/test", "org.tavren.Test", "Odd", nullptr, nullptr});
  calls.push_back(echo("fine"));
  std::vector<bool> unreadable;
  const auto start = Clock::now();
  std::vector<VariantRef> replies = peer->callAll(std::move(calls), 5000, {}, &unreadable);
  // Known as soon as the call after it is answered: the application answers in order.
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
  EXPECT_FALSE(replies[0]);
  EXPECT_EQ(text(replies[1]), "fine");
  EXPECT_EQ(unreadable, (std::vector<bool>{true, false}));
}

TEST_F(LinuxDbusBatch, ApplicationRepliesSdBusRefusesComeThroughTheBus) {
  std::shared_ptr<PeerConnection> peer = PeerConnection::open(server.address(), 2000);
  ASSERT_TRUE(peer);
  AppLink link;
  link.bus = connection.get();
  link.direct = peer.get();
  link.busName = "org.tavren.Test";
  std::vector<DbusCall> calls;
  calls.push_back({"org.tavren.Test", "/test", "org.tavren.Test", "Odd", nullptr, nullptr});
  calls.push_back(echo("direct"));
  std::vector<VariantRef> replies = callApp(link, std::move(calls));
  EXPECT_EQ(text(replies[0]), "frame \uFDD0 end");
  EXPECT_EQ(text(replies[1]), "direct");
  EXPECT_TRUE(link.answering);
}

TEST_F(LinuxDbusBatch, PeerReplyReadersTakeTheirReplies) {
  std::shared_ptr<PeerConnection> peer = PeerConnection::open(server.address(), 2000);
  ASSERT_TRUE(peer);
  std::vector<DbusCall> calls;
  calls.push_back(echo("plain"));
  calls.push_back(echo("read"));
  calls.push_back(echo("refused"));
  std::string seen;
  std::vector<ReplyReader> readers(3);
  readers[1] = [&](sd_bus_message* reply) {
    const char* value = nullptr;
    return sd_bus_message_read(reply, "s", &value) > 0 && (seen = value, true);
  };
  readers[2] = [](sd_bus_message*) { return false; };
  std::vector<VariantRef> replies = peer->callAll(std::move(calls), 2000, std::move(readers));
  EXPECT_EQ(text(replies[0]), "plain");
  ASSERT_TRUE(replies[1]);
  EXPECT_EQ(g_variant_n_children(replies[1].get()), 0u);
  EXPECT_EQ(seen, "read");
  EXPECT_FALSE(replies[2]);
}

TEST_F(LinuxDbusBatch, PeerConnectionBoundsSilenceAndSharing) {
  std::shared_ptr<PeerConnection> peer = PeerConnection::open(server.address(), 2000);
  ASSERT_TRUE(peer);
  std::vector<DbusCall> calls;
  calls.push_back(echo("a"));
  calls.push_back(never());
  auto start = Clock::now();
  std::vector<VariantRef> replies = peer->callAll(std::move(calls), 300);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(250));
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(800));
  EXPECT_EQ(text(replies[0]), "a");
  EXPECT_FALSE(replies[1]);
  // Threads take turns on one connection; each gets its own replies.
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 20; ++round) {
        std::string mine = std::to_string(t) + "/" + std::to_string(round);
        std::vector<DbusCall> batch;
        batch.push_back(echo(mine.c_str()));
        batch.push_back(echo((mine + "+").c_str()));
        auto answered = peer->callAll(std::move(batch));
        if (text(answered[0]) != mine || text(answered[1]) != mine + "+") ++wrong;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong, 0);
}

TEST_F(LinuxDbusBatch, ConnectionThatEndsFailsWaitingCallsAtOnce) {
  std::shared_ptr<PeerConnection> peer = PeerConnection::open(server.address(), 2000);
  ASSERT_TRUE(peer);
  auto start = Clock::now();
  std::thread hangUp([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    server.hangUp();
  });
  std::vector<DbusCall> calls;
  for (int i = 0; i < 3; ++i) calls.push_back(never());
  std::vector<VariantRef> replies = peer->callAll(std::move(calls), 10000);
  hangUp.join();
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
  for (const VariantRef& reply : replies) EXPECT_FALSE(reply);
  EXPECT_TRUE(peer->closed());
  // Later batches on the ended connection fail without waiting.
  start = Clock::now();
  EXPECT_FALSE(peer->callOne(echo("late"), 10000));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
}

TEST_F(LinuxDbusBatch, EndedPeerIsSeenWithoutACall) {
  std::shared_ptr<PeerConnection> peer = PeerConnection::open(server.address(), 2000);
  ASSERT_TRUE(peer);
  EXPECT_EQ(text(peer->callOne(echo("here"))), "here");  // the server holds the connection now
  EXPECT_FALSE(peer->closed());
  server.hangUp();
  const auto deadline = Clock::now() + std::chrono::seconds(2);
  while (!peer->closed() && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(peer->closed());
}

TEST_F(LinuxDbusBatch, WrongReplyTypeCountsAsFailed) {
  DbusCall call = echo("typed");
  call.replyType = G_VARIANT_TYPE("(u)");
  EXPECT_FALSE(callOne(connection.get(), std::move(call)));
}

TEST_F(LinuxDbusBatch, ApplicationsAreReachedDirectlyOnlyThroughLocalSockets) {
  // The offered address comes from another process: a network address or a command to run
  // is never followed, and the application is then read over the bus for good.
  const RegisteredApp app{"org.tavren.Test", "/test", 4242};
  for (const char* offered : {"tcp:host=192.0.2.1,port=4000", "unixexec:path=/bin/true", ""}) {
    server.offer(offered);
    AppConnections connections;
    AppConnections::Direct direct = connections.connectionTo(connection.get(), app);
    EXPECT_FALSE(direct.connection) << offered;
    EXPECT_FALSE(direct.silent) << offered;
    server.offer(server.address());
    EXPECT_FALSE(connections.connectionTo(connection.get(), app).connection) << offered;
  }
  server.offer(server.address());
  AppConnections connections;
  std::shared_ptr<PeerConnection> direct =
      connections.connectionTo(connection.get(), app).connection;
  ASSERT_TRUE(direct);
  auto reached = connections.reachable(connection.get(), 4242);
  ASSERT_TRUE(reached);
  EXPECT_EQ(reached->connection.get(), direct.get());
  EXPECT_FALSE(connections.reachable(connection.get(), 4243));
}

TEST_F(LinuxDbusBatch, ARestartedBusHandsItsNamesToOtherApplications) {
  // The bus restarts (another GUID) and gives the name an application had to another one,
  // while the first still holds its direct connection open: nothing learnt on the old bus is
  // used for the new one's application.
  server.offer(server.address());
  AppConnections connections;
  const RegisteredApp before{":1.7", "/test", 4242};
  std::shared_ptr<PeerConnection> old = connections.connectionTo(connection.get(), before).connection;
  ASSERT_TRUE(old);

  TestServer restarted;
  restarted.offer(restarted.address());
  ObjectRef<GDBusConnection> bus(g_dbus_connection_new_for_address_sync(
      restarted.address().c_str(), G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT, nullptr,
      nullptr, nullptr));
  ASSERT_TRUE(bus);
  routeReplies(bus.get());
  EXPECT_FALSE(connections.reachable(bus.get(), 4242)) << "an application of the old bus";
  const RegisteredApp after{":1.7", "/test", 5151};
  std::shared_ptr<PeerConnection> fresh = connections.connectionTo(bus.get(), after).connection;
  ASSERT_TRUE(fresh);
  EXPECT_NE(fresh.get(), old.get());
  auto reached = connections.reachable(bus.get(), 5151);
  ASSERT_TRUE(reached);
  EXPECT_EQ(reached->connection.get(), fresh.get());
  EXPECT_FALSE(old->closed()) << "the old application itself is left alone";
}

TEST(LinuxBusConnection, PeerThatNeverAuthenticatesIsGivenUp) {
  // A socket that accepts connections (through its backlog) but never says a word.
  std::string path = "/tmp/tavren-mute-" + std::to_string(getpid());
  int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  unlink(path.c_str());
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  ConnectionContext context;
  auto start = Clock::now();
  EXPECT_FALSE(openBusConnection(context, "unix:path=" + path, 300));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
  EXPECT_FALSE(openBusConnection(context, "", 300));
  EXPECT_FALSE(openBusConnection(context, "nonsense", 300));
  start = Clock::now();
  EXPECT_FALSE(PeerConnection::open("unix:path=" + path, 300));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
  for (const char* address : {"", "tcp:host=127.0.0.1,port=1", "unixexec:path=/bin/true",
                              "unix:path=/nonexistent;tcp:host=127.0.0.1,port=1"}) {
    EXPECT_FALSE(PeerConnection::open(address, 300)) << address;
  }
  close(listener);
  unlink(path.c_str());
}

}  // namespace
}  // namespace tavren::atspi
