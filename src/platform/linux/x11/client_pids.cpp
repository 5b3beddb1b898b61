#include "platform/linux/x11/client_pids.h"

#include <unistd.h>

#include <algorithm>
#include <climits>

#include "platform/linux/x11/x_reply.h"

namespace tavren::x11 {

ClientPidQuery::ClientPidQuery(const XConnection& x, std::span<const xcb_window_t> windows)
    : x_(x) {
  clientOfWindow_.reserve(windows.size());
  for (xcb_window_t window : windows) clientOfWindow_.push_back(window & x.clientMask());
  if (!x.extensions().clientIds) return;
  for (size_t i = 0; i < windows.size(); ++i) {
    uint32_t base = clientOfWindow_[i];
    // Base 0 is the server itself; asking about client 0 would mean "every client".
    if (base == 0) continue;
    bool asked = std::any_of(pending_.begin(), pending_.end(),
                             [&](const Pending& p) { return p.clientBase == base; });
    if (asked) continue;
    xcb_res_client_id_spec_t spec{windows[i], XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
    pending_.push_back({base, xcb_res_query_client_ids(x.get(), 1, &spec)});
  }
  xcb_flush(x.get());
}

ClientPidQuery::~ClientPidQuery() {
  for (Pending& p : pending_) {
    if (!p.read) xcb_discard_reply(x_.get(), p.cookie.sequence);
  }
}

std::vector<int32_t> ClientPidQuery::collect() {
  std::vector<std::pair<uint32_t, int32_t>> pidOfClient;
  for (Pending& p : pending_) {
    p.read = true;
    auto reply = x_.reply(xcb_res_query_client_ids_reply, p.cookie);
    if (!reply) continue;
    for (auto it = xcb_res_query_client_ids_ids_iterator(reply.get()); it.rem;
         xcb_res_client_id_value_next(&it)) {
      if (!(it.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID)) continue;
      if (xcb_res_client_id_value_value_length(it.data) < 1) continue;
      uint32_t pid = *xcb_res_client_id_value_value(it.data);
      if (pid > 0 && pid <= INT32_MAX) pidOfClient.emplace_back(p.clientBase, pid);
    }
  }
  std::vector<int32_t> pids(clientOfWindow_.size(), 0);
  for (size_t i = 0; i < pids.size(); ++i) {
    for (const auto& [base, pid] : pidOfClient) {
      if (base == clientOfWindow_[i]) pids[i] = pid;
    }
  }
  return pids;
}

namespace {

// Host names may be given short or fully qualified.
bool sameHost(std::string_view a, std::string_view b) {
  if (a == b) return true;
  if (a.size() > b.size()) std::swap(a, b);
  return b.size() > a.size() && b.substr(0, a.size()) == a && b[a.size()] == '.';
}

}  // namespace

int32_t chooseWindowPid(int32_t serverPid, int32_t netWmPid, std::string_view clientMachine,
                        std::string_view localHost) {
  if (serverPid > 0) return serverPid;
  if (netWmPid <= 0) return 0;
  bool local =
      clientMachine.empty() || clientMachine == "localhost" || sameHost(clientMachine, localHost);
  if (!local) return 0;
  return netWmPid;
}

const std::string& localHostName() {
  static const std::string name = [] {
    char buffer[256] = {};
    if (gethostname(buffer, sizeof buffer - 1) != 0) return std::string();
    return std::string(buffer);
  }();
  return name;
}

}  // namespace tavren::x11
