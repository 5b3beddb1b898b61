#include "platform/linux/watch/x11_app_watcher.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <future>
#include <set>

#include "platform/linux/x11/client_pids.h"
#include "platform/linux/x11/window_facts.h"
#include "platform/linux/x11/x_reply.h"

namespace tavren::watch {

using x11::Atom;

class X11AppWatcher::Thread {
 public:
  static std::unique_ptr<Thread> start(const x11::XConnection& x,
                                       std::shared_ptr<const x11::XLink> link);
  ~Thread();

  // Runs `job` on the thread, between two rounds of events.
  void post(std::function<void()> job);
  bool lost() const { return lost_; }

  // On the thread only.
  WatchStart watchOnThread(int32_t pid, WindowChangeListener listener);

 private:
  Thread(const x11::XConnection& x, std::shared_ptr<const x11::XLink> link, int wakeFd);
  void run();
  void wake();
  void runJobs();
  void drainEvents();
  void handle(const xcb_generic_event_t* event);

  std::vector<xcb_window_t> readClientList();
  xcb_window_t readActiveWindow();
  // Asks for the events of these windows on the event connection, and waits until the server
  // has taken that in, so that facts read afterwards miss no change.
  void select(std::span<const xcb_window_t> windows);
  std::vector<WindowState> readStates(std::span<const xcb_window_t> windows);
  // Learns the pids of clients not seen before.
  void learnPids(std::span<const xcb_window_t> clients);

  void clientListChanged();
  void refresh(std::span<const xcb_window_t> windows);
  void flushRefreshes();
  void deliver(const std::vector<WindowChange>& changes);

  const x11::XConnection& x_;
  const std::shared_ptr<const x11::XLink> link_;
  xcb_connection_t* const events_;
  const int wakeFd_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> lost_{false};

  std::mutex jobsMutex_;
  std::deque<std::function<void()>> jobs_;

  // Below: the thread's own.
  std::map<xcb_window_t, int32_t> clients_;  // the manager's clients and their pids
  std::map<int32_t, WindowChangeListener> listeners_;
  WatchedWindows watched_;
  std::vector<xcb_window_t> pendingRefresh_;

  std::thread thread_;  // last: started once everything above is set
};

std::unique_ptr<X11AppWatcher::Thread> X11AppWatcher::Thread::start(
    const x11::XConnection& x, std::shared_ptr<const x11::XLink> link) {
  if (!link) return nullptr;
  const uint32_t rootMask = XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_change_window_attributes(link->get(), link->root(), XCB_CW_EVENT_MASK, &rootMask);
  if (!link->sync()) return nullptr;
  const int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd < 0) return nullptr;
  auto thread = std::unique_ptr<Thread>(new Thread(x, std::move(link), wakeFd));
  // Read after the root's events were selected: a change from now on is both read and sent.
  thread->watched_.active = thread->readActiveWindow();
  thread->learnPids(thread->readClientList());
  thread->thread_ = std::thread([t = thread.get()] { t->run(); });
  return thread;
}

X11AppWatcher::Thread::Thread(const x11::XConnection& x, std::shared_ptr<const x11::XLink> link,
                              int wakeFd)
    : x_(x), link_(std::move(link)), events_(link_->get()), wakeFd_(wakeFd) {}

X11AppWatcher::Thread::~Thread() {
  stopping_ = true;
  wake();
  if (thread_.joinable()) thread_.join();
  close(wakeFd_);
}

void X11AppWatcher::Thread::wake() {
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof one);
}

void X11AppWatcher::Thread::post(std::function<void()> job) {
  {
    std::lock_guard lock(jobsMutex_);
    jobs_.push_back(std::move(job));
  }
  wake();
}

void X11AppWatcher::Thread::run() {
  pollfd fds[2] = {{xcb_get_file_descriptor(events_), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
  while (!stopping_) {
    poll(fds, 2, -1);
    if (fds[1].revents & POLLIN) {
      uint64_t count;
      [[maybe_unused]] ssize_t n = read(wakeFd_, &count, sizeof count);
    }
    runJobs();
    // A round trip on this thread may have read events into XCB's queue: drain it every time.
    drainEvents();
    if (xcb_connection_has_error(events_)) {
      lost_ = true;
      runJobs();  // whoever waits is answered; later jobs find lost() set first
      return;
    }
  }
}

void X11AppWatcher::Thread::runJobs() {
  std::deque<std::function<void()>> jobs;
  {
    std::lock_guard lock(jobsMutex_);
    jobs.swap(jobs_);
  }
  for (auto& job : jobs) job();
}

void X11AppWatcher::Thread::drainEvents() {
  // Refreshes of one window from several events in a row read it once.
  while (xcb_generic_event_t* event = xcb_poll_for_event(events_)) {
    handle(event);
    std::free(event);
  }
  flushRefreshes();
}

void X11AppWatcher::Thread::handle(const xcb_generic_event_t* event) {
  switch (event->response_type & 0x7f) {
    case XCB_PROPERTY_NOTIFY: {
      const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event);
      if (notify->window == link_->root()) {
        if (notify->atom == x_.atom(Atom::_NET_CLIENT_LIST)) {
          flushRefreshes();
          clientListChanged();
        } else if (notify->atom == x_.atom(Atom::_NET_ACTIVE_WINDOW)) {
          flushRefreshes();
          deliver(activeWindowChanged(watched_, readActiveWindow()));
        }
        return;
      }
      const xcb_atom_t a = notify->atom;
      if (a == XCB_ATOM_WM_NAME || a == x_.atom(Atom::_NET_WM_NAME) ||
          a == x_.atom(Atom::WM_STATE) || a == x_.atom(Atom::_NET_WM_STATE)) {
        if (watched_.windows.contains(notify->window) &&
            std::find(pendingRefresh_.begin(), pendingRefresh_.end(), notify->window) ==
                pendingRefresh_.end()) {
          pendingRefresh_.push_back(notify->window);
        }
      }
      return;
    }
    case XCB_CONFIGURE_NOTIFY: {
      // Real ones for resizes, synthetic ones from the manager for moves of the frame.
      const auto* notify = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
      if (notify->event == notify->window && watched_.windows.contains(notify->window) &&
          std::find(pendingRefresh_.begin(), pendingRefresh_.end(), notify->window) ==
              pendingRefresh_.end()) {
        pendingRefresh_.push_back(notify->window);
      }
      return;
    }
    case XCB_DESTROY_NOTIFY: {
      const auto* notify = reinterpret_cast<const xcb_destroy_notify_event_t*>(event);
      if (notify->event != notify->window) return;
      flushRefreshes();
      clients_.erase(notify->window);
      deliver(windowGone(watched_, notify->window));
      return;
    }
    default:
      return;  // errors for windows gone before their events were selected, and the rest
  }
}

std::vector<xcb_window_t> X11AppWatcher::Thread::readClientList() {
  if (!x_.alive()) return {};
  auto reply = x_.reply(xcb_get_property_reply,
                        xcb_get_property(x_.get(), 0, x_.root(), x_.atom(Atom::_NET_CLIENT_LIST),
                                         XCB_ATOM_WINDOW, 0, x11::kListProperty));
  return x11::windowList(reply.get());
}

xcb_window_t X11AppWatcher::Thread::readActiveWindow() {
  if (!x_.alive()) return XCB_WINDOW_NONE;
  auto reply = x_.reply(xcb_get_property_reply,
                        xcb_get_property(x_.get(), 0, x_.root(), x_.atom(Atom::_NET_ACTIVE_WINDOW),
                                         XCB_ATOM_WINDOW, 0, 1));
  return x11::singleWindow(reply.get());
}

void X11AppWatcher::Thread::learnPids(std::span<const xcb_window_t> clients) {
  std::vector<xcb_window_t> fresh;
  for (xcb_window_t w : clients) {
    if (!clients_.contains(w)) fresh.push_back(w);
  }
  if (fresh.empty() || !x_.alive()) return;
  x11::ClientPidQuery serverPids(x_, fresh);
  std::vector<x11::WindowFacts> facts = x11::fetchWindowFacts(x_, fresh);
  std::vector<int32_t> pids = serverPids.collect();
  for (size_t i = 0; i < fresh.size(); ++i) {
    if (!facts[i].exists) continue;
    clients_[fresh[i]] = x11::chooseWindowPid(pids[i], facts[i].netWmPid, facts[i].clientMachine,
                                              x11::localHostName());
  }
}

void X11AppWatcher::Thread::select(std::span<const xcb_window_t> windows) {
  if (windows.empty()) return;
  const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
  for (xcb_window_t w : windows) {
    xcb_change_window_attributes(events_, w, XCB_CW_EVENT_MASK, &mask);
  }
  link_->sync();
}

std::vector<WindowState> X11AppWatcher::Thread::readStates(std::span<const xcb_window_t> windows) {
  std::vector<WindowState> states;
  if (windows.empty() || !x_.alive()) return states;
  std::vector<x11::WindowFacts> facts = x11::fetchWindowFacts(x_, windows);
  for (size_t i = 0; i < windows.size(); ++i) {
    if (!facts[i].exists) continue;
    auto pid = clients_.find(windows[i]);
    WindowState s;
    s.window = windows[i];
    s.pid = pid != clients_.end() ? pid->second : 0;
    s.title = std::move(facts[i].title);
    s.bounds = facts[i].bounds;
    s.minimized = facts[i].wmState == x11::kIconicState || facts[i].hidden;
    states.push_back(std::move(s));
  }
  return states;
}

WatchStart X11AppWatcher::Thread::watchOnThread(int32_t pid, WindowChangeListener listener) {
  auto windowsOf = [&] {
    int64_t n = 0;
    for (const auto& [id, w] : watched_.windows) n += w.pid == pid ? 1 : 0;
    return n;
  };
  if (listeners_.contains(pid)) return WatchStart{.watching = true, .windows = windowsOf()};
  std::vector<xcb_window_t> list = readClientList();
  learnPids(list);
  std::vector<xcb_window_t> own;
  for (xcb_window_t w : list) {
    if (auto it = clients_.find(w); it != clients_.end() && it->second == pid) own.push_back(w);
  }
  select(own);
  for (WindowState& s : readStates(own)) trackWindow(watched_, std::move(s));
  listeners_.emplace(pid, std::move(listener));
  return WatchStart{.watching = true, .windows = windowsOf()};
}

void X11AppWatcher::Thread::clientListChanged() {
  std::vector<xcb_window_t> list = readClientList();
  std::set<xcb_window_t> listed(list.begin(), list.end());
  // Withdrawn or destroyed: gone from the list. Destroyed windows usually went already.
  std::vector<xcb_window_t> dropped;
  for (const auto& [w, pid] : clients_) {
    if (!listed.contains(w)) dropped.push_back(w);
  }
  // A window the client withdrew was unmapped by it before the manager let it go. One still
  // mapped has lost its manager instead (replaced, or killed: the server puts the manager's
  // windows back on the root, still mapped), and the next manager will list it again.
  std::vector<x11::WindowFacts> facts = x11::fetchWindowFacts(x_, dropped);
  for (size_t i = 0; i < dropped.size(); ++i) {
    if (i < facts.size() && facts[i].exists && facts[i].mapped) continue;
    clients_.erase(dropped[i]);
    deliver(windowGone(watched_, dropped[i]));
  }
  std::vector<xcb_window_t> fresh;
  for (xcb_window_t w : list) {
    if (!clients_.contains(w)) fresh.push_back(w);
  }
  learnPids(fresh);
  std::vector<xcb_window_t> watchedFresh;
  for (xcb_window_t w : fresh) {
    auto it = clients_.find(w);
    if (it != clients_.end() && listeners_.contains(it->second)) watchedFresh.push_back(w);
  }
  select(watchedFresh);
  for (WindowState& s : readStates(watchedFresh)) deliver(windowCreated(watched_, std::move(s)));
}

void X11AppWatcher::Thread::flushRefreshes() {
  if (pendingRefresh_.empty()) return;
  std::vector<xcb_window_t> windows;
  windows.swap(pendingRefresh_);
  refresh(windows);
}

void X11AppWatcher::Thread::refresh(std::span<const xcb_window_t> windows) {
  // A window gone meanwhile is not read; its DestroyNotify follows.
  for (const WindowState& s : readStates(windows)) deliver(windowUpdated(watched_, s));
}

void X11AppWatcher::Thread::deliver(const std::vector<WindowChange>& changes) {
  for (const WindowChange& change : changes) {
    if (auto it = listeners_.find(change.pid); it != listeners_.end()) it->second(change);
  }
}

X11AppWatcher::X11AppWatcher(const x11::XConnection* x) : x_(x) {}

X11AppWatcher::~X11AppWatcher() = default;

X11AppWatcher::Thread* X11AppWatcher::thread() {
  // Called with mutex_ held: watch() calls are rare, and one opening at a time is enough.
  if (thread_ && !thread_->lost()) return thread_.get();
  thread_.reset();
  if (!x_ || !x_->alive()) return nullptr;
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) return nullptr;
  auto connecting = x11::XLink::connectInBackground(display);
  if (connecting.wait_for(x11::XLink::kReplyTimeout) != std::future_status::ready) return nullptr;
  thread_ = Thread::start(*x_, connecting.get());
  return thread_.get();
}

WatchStart X11AppWatcher::watch(int32_t pid, WindowChangeListener listener) {
  std::lock_guard lock(mutex_);
  Thread* t = thread();
  if (t == nullptr) return WatchStart{.code = kAXErrorCannotComplete};
  auto answer = std::make_shared<std::promise<WatchStart>>();
  std::future<WatchStart> answered = answer->get_future();
  t->post([t, pid, listener = std::move(listener), answer]() mutable {
    if (t->lost()) {
      answer->set_value(WatchStart{.code = kAXErrorCannotComplete});
      return;
    }
    answer->set_value(t->watchOnThread(pid, std::move(listener)));
  });
  if (answered.wait_for(kWatchBound) != std::future_status::ready) {
    return WatchStart{.code = kAXErrorCannotComplete};
  }
  return answered.get();
}

}  // namespace tavren::watch
