#pragma once

#include <xcb/res.h>

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "platform/linux/x11/x_connection.h"

namespace tavren::x11 {

// The process ids of the X clients that created some windows, asked of the server (X-Resource
// QueryClientIds): one request per distinct client, all sent on construction and read by
// collect(), so the caller can have other requests in flight meanwhile.
class ClientPidQuery {
 public:
  ClientPidQuery(const XConnection& x, std::span<const xcb_window_t> windows);
  ClientPidQuery(const ClientPidQuery&) = delete;
  ClientPidQuery& operator=(const ClientPidQuery&) = delete;
  ~ClientPidQuery();

  // One pid per window given, 0 where the server does not know it (remote clients, or no
  // X-Resource extension). Call once.
  std::vector<int32_t> collect();

 private:
  struct Pending {
    uint32_t clientBase;
    xcb_res_query_client_ids_cookie_t cookie;
    bool read = false;
  };
  const XConnection& x_;
  std::vector<uint32_t> clientOfWindow_;
  std::vector<Pending> pending_;
};

// The pid to report for a window: the server's answer, else _NET_WM_PID when the window says it
// comes from this machine (a pid from another host would name an unrelated local process).
int32_t chooseWindowPid(int32_t serverPid, int32_t netWmPid, std::string_view clientMachine,
                        std::string_view localHost);

// This machine's host name.
const std::string& localHostName();

}  // namespace tavren::x11
