#include "platform/linux/x11/x_connection.h"

#include <cstdlib>

namespace tavren::x11 {

std::unique_ptr<XConnection> XConnection::open() {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) return nullptr;
  int screenNumber = 0;
  xcb_connection_t* connection = xcb_connect(display, &screenNumber);
  if (!connection) return nullptr;
  if (xcb_connection_has_error(connection)) {
    xcb_disconnect(connection);
    return nullptr;
  }
  return std::unique_ptr<XConnection>(new XConnection(connection, screenNumber));
}

XConnection::XConnection(xcb_connection_t* connection, int screenNumber)
    : connection_(connection), screenNumber_(screenNumber) {
  const xcb_setup_t* setup = xcb_get_setup(connection_);
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
  for (int i = 0; it.rem && i < screenNumber_; ++i) xcb_screen_next(&it);
  if (!it.rem) it = xcb_setup_roots_iterator(setup);
  root_ = it.data->root;
  clientMask_ = ~setup->resource_id_mask;
  atoms_ = AtomTable::intern(connection_);
  extensions_ = probeExtensions(connection_, root_, atoms_);
}

XConnection::~XConnection() {
  xcb_disconnect(connection_);
}

}  // namespace tavren::x11
