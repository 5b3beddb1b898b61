#include "platform/linux/capture/x11_capture.h"

#include <xcb/composite.h>
#include <xcb/shm.h>

#include "platform/linux/x11/x_reply.h"

namespace tavren::x11 {
namespace {

bool redirectTopLevels(const XConnection& x) {
  // Automatic: the server keeps compositing the screen itself, so nothing on it changes, and the
  // redirection ends with this connection. Any number of clients may ask for it.
  return x
      .check(xcb_composite_redirect_subwindows_checked(x.get(), x.root(),
                                                       XCB_COMPOSITE_REDIRECT_AUTOMATIC))
      .succeeded();
}

bool sharedMemoryOffered(const XConnection& x) {
  // Requests of an extension the server lacks would close the whole connection: ask first.
  if (!x.extensions().shm) return false;
  return x.reply(xcb_shm_query_version_reply, xcb_shm_query_version(x.get())) != nullptr;
}

}  // namespace

X11Capture::X11Capture(const XConnection* x) : x_(x), threads_(defaultCaptureThreadCount()) {}

const X11Capture::Setup* X11Capture::setup() const {
  if (!x_ || !x_->alive()) return nullptr;
  std::lock_guard lock(mutex_);
  if (!setup_) {
    // Made on first use rather than with the platform, which must not wait for the server.
    auto made = std::make_unique<Setup>();
    made->formats = screenFormats(*x_);
    made->segments = std::make_unique<ShmSegments>(x_->link(), sharedMemoryOffered(*x_));
    made->method.windowPixmaps = x_->extensions().composite && redirectTopLevels(*x_);
    made->method.sharedMemory = made->segments.get();
    // A server that stopped answering meanwhile leaves nothing half learnt behind.
    if (!x_->alive()) return nullptr;
    setup_ = std::move(made);
  }
  return setup_.get();
}

bool X11Capture::available() const {
  // The screen's own format is the least a capture needs: without Composite it is what is read,
  // and with it, top-levels share it unless they ask for another visual.
  const Setup* s = setup();
  return s && s->formats.byDepth.count(s->formats.rootDepth) != 0;
}

WindowPixels X11Capture::windowPixels(uint32_t window) {
  const Setup* s = setup();
  if (!s) return WindowUnavailable{};
  return readWindowPixels(*x_, s->formats, s->method, window);
}

bool X11Capture::readsWindowPixmaps() const {
  const Setup* s = setup();
  return s && s->method.windowPixmaps;
}

}  // namespace tavren::x11
