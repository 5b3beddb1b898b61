#include "platform/linux/x11/x_extensions.h"

#include <xcb/composite.h>
#include <xcb/randr.h>
#include <xcb/record.h>
#include <xcb/res.h>
#include <xcb/shm.h>
#include <xcb/xinput.h>
#include <xcb/xtest.h>

#include "platform/linux/x11/x_link.h"

namespace tavren::x11 {

namespace {

bool present(xcb_connection_t* connection, xcb_extension_t* extension) {
  const xcb_query_extension_reply_t* data = xcb_get_extension_data(connection, extension);
  return data && data->present;
}

bool atLeast(uint32_t major, uint32_t minor, uint32_t wantMajor, uint32_t wantMinor) {
  return major > wantMajor || (major == wantMajor && minor >= wantMinor);
}

}  // namespace

XExtensions probeExtensions(const XLink& link, const AtomTable& atoms) {
  XExtensions found;
  xcb_connection_t* connection = link.get();
  // Every extension any request of the backend uses: XCB looks an extension up, and waits for
  // the answer without a deadline, the first time one of its requests is sent. Asked here, all
  // at once, and answered before the sync's reply, after which the look-ups cost nothing.
  xcb_extension_t* all[] = {&xcb_test_id,  &xcb_composite_id, &xcb_res_id, &xcb_record_id,
                            &xcb_input_id, &xcb_randr_id,     &xcb_shm_id};
  for (xcb_extension_t* extension : all) xcb_prefetch_extension_data(connection, extension);
  if (!link.sync()) return found;

  // Announcing the versions we speak is also what the server needs before some requests.
  bool hasTest = present(connection, &xcb_test_id);
  bool hasComposite = present(connection, &xcb_composite_id);
  bool hasRes = present(connection, &xcb_res_id);
  bool hasRecord = present(connection, &xcb_record_id);
  bool hasInput = present(connection, &xcb_input_id);
  bool hasRandr = present(connection, &xcb_randr_id);
  found.shm = present(connection, &xcb_shm_id);
  xcb_test_get_version_cookie_t test{};
  xcb_composite_query_version_cookie_t composite{};
  xcb_res_query_version_cookie_t res{};
  xcb_record_query_version_cookie_t record{};
  xcb_input_xi_query_version_cookie_t input{};
  xcb_randr_query_version_cookie_t randr{};
  if (hasTest) test = xcb_test_get_version(connection, 2, 2);
  if (hasComposite) composite = xcb_composite_query_version(connection, 0, 4);
  if (hasRes) res = xcb_res_query_version(connection, 1, 2);
  if (hasRecord) record = xcb_record_query_version(connection, 1, 13);
  if (hasInput) input = xcb_input_xi_query_version(connection, 2, 2);
  if (hasRandr) randr = xcb_randr_query_version(connection, 1, 5);

  if (hasTest) found.xtest = link.reply(xcb_test_get_version_reply, test) != nullptr;
  if (hasComposite) {
    auto reply = link.reply(xcb_composite_query_version_reply, composite);
    found.composite = reply && atLeast(reply->major_version, reply->minor_version, 0, 2);
  }
  if (hasRes) {
    auto reply = link.reply(xcb_res_query_version_reply, res);
    found.clientIds = reply && atLeast(reply->server_major, reply->server_minor, 1, 2);
  }
  if (hasRecord) found.record = link.reply(xcb_record_query_version_reply, record) != nullptr;
  if (hasInput) {
    auto reply = link.reply(xcb_input_xi_query_version_reply, input);
    found.xinput2 = reply && reply->major_version >= 2;
    found.xinput21 = reply && atLeast(reply->major_version, reply->minor_version, 2, 1);
  }
  if (hasRandr) {
    auto reply = link.reply(xcb_randr_query_version_reply, randr);
    found.randrMonitors = reply && atLeast(reply->major_version, reply->minor_version, 1, 5);
  }
  found.wmCheckWindow = findWmCheckWindow(link, atoms);
  return found;
}

xcb_window_t findWmCheckWindow(const XLink& link, const AtomTable& atoms) {
  xcb_connection_t* connection = link.get();
  xcb_atom_t check = atoms[Atom::_NET_SUPPORTING_WM_CHECK];
  if (check == XCB_ATOM_NONE) return XCB_WINDOW_NONE;
  auto onRoot = link.reply(xcb_get_property_reply, xcb_get_property(connection, 0, link.root(),
                                                                    check, XCB_ATOM_WINDOW, 0, 1));
  xcb_window_t child = singleWindow(onRoot.get());
  if (child == XCB_WINDOW_NONE) return XCB_WINDOW_NONE;
  // A stale property left by a manager that has exited names a window that is gone or that no
  // longer points to itself.
  auto onChild = link.reply(xcb_get_property_reply,
                            xcb_get_property(connection, 0, child, check, XCB_ATOM_WINDOW, 0, 1));
  if (singleWindow(onChild.get()) != child) return XCB_WINDOW_NONE;
  return child;
}

}  // namespace tavren::x11
