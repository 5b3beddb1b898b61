#include "platform/linux/capture/x11_capture.h"

#include <xcb/composite.h>
#include <xcb/shm.h>

#include "platform/linux/x11/x_reply.h"

namespace tavren::x11 {
namespace {

bool redirectTopLevels(const XConnection& x) {
  xcb_connection_t* c = x.get();
  // Automatic: the server keeps compositing the screen itself, so nothing on it changes, and the
  // redirection ends with this connection. Any number of clients may ask for it.
  xcb_generic_error_t* error = xcb_request_check(
      c, xcb_composite_redirect_subwindows_checked(c, x.root(), XCB_COMPOSITE_REDIRECT_AUTOMATIC));
  const bool redirected = error == nullptr;
  std::free(error);
  return redirected;
}

bool sharedMemoryOffered(const XConnection& x) {
  // Requests of an extension the server lacks would close the whole connection: ask first.
  const xcb_query_extension_reply_t* shm = xcb_get_extension_data(x.get(), &xcb_shm_id);
  if (!shm || !shm->present) return false;
  auto version = own(xcb_shm_query_version_reply(x.get(), xcb_shm_query_version(x.get()), nullptr));
  return version != nullptr;
}

}  // namespace

X11Capture::X11Capture(const XConnection* x) : x_(x), threads_(defaultCaptureThreadCount()) {
  if (!x_) return;
  formats_ = screenFormats(*x_);
  segments_ = std::make_unique<ShmSegments>(x_->get(), sharedMemoryOffered(*x_));
  method_.windowPixmaps = x_->extensions().composite && redirectTopLevels(*x_);
  method_.sharedMemory = segments_.get();
}

bool X11Capture::available() const {
  // The screen's own format is the least a capture needs: without Composite it is what is read,
  // and with it, top-levels share it unless they ask for another visual.
  return x_ != nullptr && x_->alive() && formats_.byDepth.count(formats_.rootDepth) != 0;
}

WindowPixels X11Capture::windowPixels(uint32_t window) {
  if (!x_ || !x_->alive()) return WindowUnavailable{};
  return readWindowPixels(*x_, formats_, method_, window);
}

}  // namespace tavren::x11
