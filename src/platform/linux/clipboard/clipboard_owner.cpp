#include "platform/linux/clipboard/clipboard_owner.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <optional>

#include "platform/linux/clipboard/selection_connection.h"

namespace tavren::x11 {

namespace {

// What the selection serves: one item's representations and their target atoms.
struct Content {
  std::vector<PasteboardRepresentation> reps;
  std::vector<xcb_atom_t> atoms;
  xcb_timestamp_t since = XCB_CURRENT_TIME;
};

// A large value being sent to a requester in chunks, each after it deleted the last.
struct Transfer {
  xcb_window_t requestor = XCB_WINDOW_NONE;
  xcb_atom_t property = XCB_ATOM_NONE;
  xcb_atom_t type = XCB_ATOM_NONE;
  std::shared_ptr<const Content> content;
  size_t rep = 0;
  size_t offset = 0;
  SteadyClock::time_point deadline;
};

int millisUntil(SteadyClock::time_point t) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(t - SteadyClock::now());
  return int(std::clamp<int64_t>(left.count() + 1, 0, 60'000));
}

}  // namespace

struct ClipboardOwner::Command {
  enum class Kind { Own, HandOff } kind = Kind::Own;
  std::vector<PasteboardItem> items;
  bool finished = false;
  bool result = false;
};

struct ClipboardOwner::State {
  std::unique_ptr<SelectionConnection> x;
  ClipboardServeLimits limits;
  std::shared_ptr<const Content> content;  // set while we own the selection
  std::vector<Transfer> transfers;
  std::shared_ptr<Command> handOff;  // waiting for the clipboard manager
  SteadyClock::time_point handOffDeadline;
  std::function<void(const std::shared_ptr<Command>&, bool)> finish;

  // The most one property change may carry on this server, with room for the request itself.
  size_t serverRoom() const {
    return x->maxRequestBytes() > 4096 ? x->maxRequestBytes() - 1024 : 4096;
  }
  size_t incrThreshold() const { return std::min(limits.incrThreshold, serverRoom()); }

  void handle(const xcb_generic_event_t& e) {
    switch (eventType(e)) {
      case XCB_SELECTION_REQUEST:
        serve(reinterpret_cast<const xcb_selection_request_event_t&>(e));
        break;
      case XCB_SELECTION_CLEAR: {
        const auto& c = reinterpret_cast<const xcb_selection_clear_event_t&>(e);
        if (c.selection == x->atoms().clipboard) content.reset();
        break;
      }
      case XCB_PROPERTY_NOTIFY: {
        const auto& p = reinterpret_cast<const xcb_property_notify_event_t&>(e);
        if (p.state == XCB_PROPERTY_DELETE) continueTransfer(p.window, p.atom);
        break;
      }
      case XCB_SELECTION_NOTIFY: {
        const auto& n = reinterpret_cast<const xcb_selection_notify_event_t&>(e);
        if (handOff && n.selection == x->atoms().clipboardManager) {
          finish(handOff, n.property != XCB_ATOM_NONE);
          handOff.reset();
        }
        break;
      }
      default:  // errors of requests to windows that went away, and the like
        break;
    }
  }

  void serve(const xcb_selection_request_event_t& r) {
    const SelectionAtoms& a = x->atoms();
    const xcb_atom_t property = r.property != XCB_ATOM_NONE ? r.property : r.target;
    bool ok = false;
    if (content && r.selection == a.clipboard &&
        (r.time == XCB_CURRENT_TIME || r.time >= content->since)) {
      ok = r.target == a.multiple ? serveMultiple(r.requestor, r.property)
                                  : serveTarget(r.requestor, r.target, property);
    }
    xcb_selection_notify_event_t n{};
    n.response_type = XCB_SELECTION_NOTIFY;
    n.time = r.time;
    n.requestor = r.requestor;
    n.selection = r.selection;
    n.target = r.target;
    n.property = ok ? property : xcb_atom_t(XCB_ATOM_NONE);
    xcb_send_event(x->get(), 0, r.requestor, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&n));
  }

  bool serveTarget(xcb_window_t requestor, xcb_atom_t target, xcb_atom_t property) {
    const SelectionAtoms& a = x->atoms();
    if (target == a.targets) {
      std::vector<xcb_atom_t> list = {a.targets, a.multiple, a.timestamp};
      list.insert(list.end(), content->atoms.begin(), content->atoms.end());
      xcb_change_property(x->get(), XCB_PROP_MODE_REPLACE, requestor, property, XCB_ATOM_ATOM, 32,
                          uint32_t(list.size()), list.data());
      return true;
    }
    if (target == a.timestamp) {
      xcb_change_property(x->get(), XCB_PROP_MODE_REPLACE, requestor, property,
                          XCB_ATOM_INTEGER, 32, 1, &content->since);
      return true;
    }
    auto it = std::find(content->atoms.begin(), content->atoms.end(), target);
    if (target == XCB_ATOM_NONE || it == content->atoms.end()) return false;
    const size_t rep = size_t(it - content->atoms.begin());
    const std::string& data = content->reps[rep].data;
    if (data.size() <= incrThreshold()) {
      xcb_change_property(x->get(), XCB_PROP_MODE_REPLACE, requestor, property, target, 8,
                          uint32_t(data.size()), data.data());
      return true;
    }
    // The requester reads the size, deletes the property, and each deletion asks for a chunk.
    const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(x->get(), requestor, XCB_CW_EVENT_MASK, &events);
    const uint32_t size = uint32_t(std::min<size_t>(data.size(), UINT32_MAX));
    xcb_change_property(x->get(), XCB_PROP_MODE_REPLACE, requestor, property, a.incr, 32, 1,
                        &size);
    transfers.push_back(Transfer{requestor, property, target, content, rep, 0,
                                 SteadyClock::now() + limits.incrPause});
    return true;
  }

  bool serveMultiple(xcb_window_t requestor, xcb_atom_t property) {
    if (property == XCB_ATOM_NONE) return false;
    auto cookie = xcb_get_property(x->get(), 0, requestor, property, XCB_GET_PROPERTY_TYPE_ANY, 0,
                                   kListProperty);
    auto reply = x->reply(xcb_get_property_reply, cookie);
    if (!reply || reply->format != 32) return false;
    std::vector<uint32_t> pairs = propertyWords(reply.get());
    pairs.resize(pairs.size() / 2 * 2);
    for (size_t i = 0; i < pairs.size(); i += 2) {
      const bool served = pairs[i] != x->atoms().multiple && pairs[i + 1] != XCB_ATOM_NONE &&
                          serveTarget(requestor, pairs[i], pairs[i + 1]);
      if (!served) pairs[i] = XCB_ATOM_NONE;
    }
    xcb_change_property(x->get(), XCB_PROP_MODE_REPLACE, requestor, property, reply->type, 32,
                        uint32_t(pairs.size()), pairs.data());
    return true;
  }

  void continueTransfer(xcb_window_t window, xcb_atom_t property) {
    auto it = std::find_if(transfers.begin(), transfers.end(), [&](const Transfer& t) {
      return t.requestor == window && t.property == property;
    });
    if (it == transfers.end()) return;
    const std::string& data = it->content->reps[it->rep].data;
    const size_t n = std::min({limits.incrChunk, serverRoom(), data.size() - it->offset});
    xcb_change_property(x->get(), XCB_PROP_MODE_REPLACE, window, property, it->type, 8,
                        uint32_t(n), data.data() + it->offset);
    it->offset += n;
    it->deadline = SteadyClock::now() + limits.incrPause;
    if (n == 0) endTransfer(it);  // the empty chunk ends it
  }

  void endTransfer(std::vector<Transfer>::iterator it) {
    const xcb_window_t window = it->requestor;
    transfers.erase(it);
    const bool more = std::any_of(transfers.begin(), transfers.end(),
                                  [&](const Transfer& t) { return t.requestor == window; });
    if (!more) {
      const uint32_t none = XCB_EVENT_MASK_NO_EVENT;
      xcb_change_window_attributes(x->get(), window, XCB_CW_EVENT_MASK, &none);
    }
  }

  void expire() {
    const auto now = SteadyClock::now();
    for (size_t i = transfers.size(); i-- > 0;) {
      if (transfers[i].deadline <= now) endTransfer(transfers.begin() + ptrdiff_t(i));
    }
    if (handOff && handOffDeadline <= now) {
      finish(handOff, false);
      handOff.reset();
    }
  }

  std::optional<SteadyClock::time_point> nextDeadline() const {
    std::optional<SteadyClock::time_point> next;
    for (const auto& t : transfers) {
      if (!next || t.deadline < *next) next = t.deadline;
    }
    if (handOff && (!next || handOffDeadline < *next)) next = handOffDeadline;
    return next;
  }

  std::optional<xcb_window_t> owner(xcb_atom_t selection) {
    auto cookie = xcb_get_selection_owner(x->get(), selection);
    auto r = x->reply(xcb_get_selection_owner_reply, cookie);
    if (!r) return std::nullopt;
    return r->owner;
  }

  bool own(std::vector<PasteboardItem>& items) {
    const auto deadline = SteadyClock::now() + limits.request;
    auto next = std::make_shared<Content>();
    if (!items.empty()) {
      for (auto& r : items.front()) {
        if (std::none_of(next->reps.begin(), next->reps.end(),
                         [&](const auto& k) { return k.type == r.type; })) {
          next->reps.push_back(std::move(r));
        }
      }
      std::vector<std::string> names;
      for (const auto& r : next->reps) names.push_back(r.type);
      next->atoms = x->internAtoms(names);
      if (std::find(next->atoms.begin(), next->atoms.end(), XCB_ATOM_NONE) !=
          next->atoms.end()) {
        return false;
      }
    }
    auto time = x->serverTime([this](const xcb_generic_event_t& e) { handle(e); }, deadline);
    if (!time) return false;
    next->since = *time;
    const xcb_window_t wanted = items.empty() ? xcb_window_t(XCB_WINDOW_NONE) : x->window();
    xcb_set_selection_owner(x->get(), wanted, x->atoms().clipboard, *time);
    // Our earlier content stops with the request above; a later SelectionClear is for it.
    content.reset();
    std::optional<xcb_window_t> now = owner(x->atoms().clipboard);
    if (!now || *now != wanted) return false;
    if (!items.empty()) content = std::move(next);
    return true;
  }

  void startHandOff(const std::shared_ptr<Command>& command) {
    std::optional<xcb_window_t> manager;
    if (content) manager = owner(x->atoms().clipboardManager);
    if (!manager || *manager == XCB_WINDOW_NONE) {
      finish(command, false);
      return;
    }
    if (handOff) finish(handOff, false);
    xcb_convert_selection(x->get(), x->window(), x->atoms().clipboardManager,
                          x->atoms().saveTargets, x->atoms().transferProperty, XCB_CURRENT_TIME);
    handOff = command;
    handOffDeadline = SteadyClock::now() + limits.handOff;
  }
};

std::unique_ptr<ClipboardOwner> ClipboardOwner::start(const std::string& display,
                                                      const ClipboardServeLimits& limits) {
  auto x = SelectionConnection::open(display);
  if (!x) return nullptr;
  // Room in the socket for a whole INCR chunk: a chunk then leaves in one write instead of a
  // write per socket buffer, each waiting for the server to read the last (the kernel caps it).
  const int sendBuffer = int(std::min<size_t>(limits.incrChunk + (64 << 10), INT_MAX));
  ::setsockopt(xcb_get_file_descriptor(x->get()), SOL_SOCKET, SO_SNDBUF, &sendBuffer,
               sizeof sendBuffer);
  return std::unique_ptr<ClipboardOwner>(new ClipboardOwner(std::move(x), limits));
}

ClipboardOwner::ClipboardOwner(std::unique_ptr<SelectionConnection> x,
                               const ClipboardServeLimits& limits)
    : state_(std::make_unique<State>()), wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  state_->x = std::move(x);
  state_->limits = limits;
  state_->finish = [this](const std::shared_ptr<Command>& c, bool result) {
    std::lock_guard lock(mutex_);
    c->result = result;
    c->finished = true;
    done_.notify_all();
  };
  thread_ = std::thread([this] { run(); });
}

ClipboardOwner::~ClipboardOwner() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  const uint64_t one = 1;
  (void)::write(wakeFd_, &one, sizeof one);
  thread_.join();
  ::close(wakeFd_);
}

bool ClipboardOwner::submit(std::shared_ptr<Command> command) {
  std::unique_lock lock(mutex_);
  if (stopping_) return false;
  commands_.push_back(command);
  const uint64_t one = 1;
  (void)::write(wakeFd_, &one, sizeof one);
  // The thread bounds each step; this only guards against a thread that is gone.
  const auto limit = state_->limits.request * 3 + state_->limits.handOff;
  done_.wait_for(lock, limit, [&] { return command->finished; });
  return command->finished && command->result;
}

bool ClipboardOwner::own(std::vector<PasteboardItem> items) {
  auto c = std::make_shared<Command>();
  c->kind = Command::Kind::Own;
  c->items = std::move(items);
  return submit(std::move(c));
}

bool ClipboardOwner::handToManager() {
  auto c = std::make_shared<Command>();
  c->kind = Command::Kind::HandOff;
  return submit(std::move(c));
}

void ClipboardOwner::run() {
  State& s = *state_;
  for (;;) {
    std::deque<std::shared_ptr<Command>> commands;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) break;
      commands.swap(commands_);
    }
    for (const auto& c : commands) {
      if (!s.x->alive()) {
        s.finish(c, false);
      } else if (c->kind == Command::Kind::Own) {
        s.finish(c, s.own(c->items));
      } else {
        s.startHandOff(c);
      }
    }
    while (auto* e = xcb_poll_for_event(s.x->get())) {
      s.handle(*e);
      std::free(e);
    }
    s.expire();
    xcb_flush(s.x->get());

    pollfd fds[2] = {{xcb_get_file_descriptor(s.x->get()), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    const auto next = s.nextDeadline();
    // A dead connection is only watched for commands, which then fail at once.
    const nfds_t count = s.x->alive() ? 2 : 1;
    pollfd* watched = s.x->alive() ? fds : fds + 1;
    ::poll(watched, count, next ? millisUntil(*next) : -1);
    uint64_t drained = 0;
    (void)::read(wakeFd_, &drained, sizeof drained);
  }
  if (s.handOff) s.finish(s.handOff, false);
  std::deque<std::shared_ptr<Command>> left;
  {
    std::lock_guard lock(mutex_);
    left.swap(commands_);
  }
  for (const auto& c : left) s.finish(c, false);
}

}  // namespace tavren::x11
