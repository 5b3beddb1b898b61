#include "platform/linux/capture/window_pixels_reader.h"

#include <xcb/composite.h>
#include <xcb/shm.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <string>
#include <vector>

#include "platform/linux/capture/shm_segment.h"
#include "platform/linux/x11/x_reply.h"

namespace tavren::x11 {
namespace {

// Deep enough for any reparenting window manager; a chain longer than this is not a window
// tree we understand.
constexpr int kMaxAncestors = 8;

using Error = Reply<xcb_generic_error_t>;

// Errors that mean the window (or the pixmap named for it) is gone or no longer viewable.
bool meansGone(const xcb_generic_error_t* e) {
  return e && (e->error_code == XCB_WINDOW || e->error_code == XCB_PIXMAP ||
               e->error_code == XCB_MATCH || e->error_code == XCB_DRAWABLE);
}

CaptureFailure failureOf(const xcb_generic_error_t* e, const char* request) {
  if (!e) return CaptureFailure{"X11", 0, std::string("The X server gave no answer to ") + request};
  return CaptureFailure{"X11", e->error_code,
                        std::string("X error ") + std::to_string(e->error_code) + " during " +
                            request + " (major " + std::to_string(e->major_code) + ", minor " +
                            std::to_string(e->minor_code) + ")"};
}

WindowPixels unavailableOr(const xcb_generic_error_t* e, const char* request) {
  if (meansGone(e)) return WindowUnavailable{};
  return failureOf(e, request);
}

struct Located {
  xcb_window_t topLevel = XCB_WINDOW_NONE;
  WindowPlacement place;
};

// Walks from the window up to the root's child that holds it, one round trip per level.
std::variant<Located, WindowPixels> locate(const XConnection& x, xcb_window_t window) {
  xcb_connection_t* c = x.get();
  auto attributesCookie = xcb_get_window_attributes(c, window);
  auto geometryCookie = xcb_get_geometry(c, window);
  auto treeCookie = xcb_query_tree(c, window);
  auto attributes = x.reply(xcb_get_window_attributes_reply, attributesCookie);
  if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE ||
      attributes->_class == XCB_WINDOW_CLASS_INPUT_ONLY) {
    // Replies nobody fetches would stay queued in the connection for good.
    xcb_discard_reply(c, geometryCookie.sequence);
    xcb_discard_reply(c, treeCookie.sequence);
    return WindowPixels(WindowUnavailable{});
  }
  std::vector<WindowGeometry> chain;
  xcb_window_t current = window;
  for (int level = 0; level < kMaxAncestors; ++level) {
    auto geometry = x.reply(xcb_get_geometry_reply, geometryCookie);
    auto tree = x.reply(xcb_query_tree_reply, treeCookie);
    if (!geometry || !tree) return WindowPixels(WindowUnavailable{});
    chain.push_back(
        {geometry->x, geometry->y, geometry->width, geometry->height, geometry->border_width});
    if (tree->parent == x.root() || tree->parent == XCB_WINDOW_NONE) {
      return Located{current, *placementOf(chain)};
    }
    current = tree->parent;
    geometryCookie = xcb_get_geometry(c, current);
    treeCookie = xcb_query_tree(c, current);
  }
  xcb_discard_reply(c, geometryCookie.sequence);
  xcb_discard_reply(c, treeCookie.sequence);
  return WindowPixels(WindowUnavailable{});
}

using ReadResult = std::variant<std::monostate, Error>;

// Through the socket: for servers that cannot attach our shared memory.
ReadResult readPlain(const XConnection& x, xcb_drawable_t drawable, const AreaToRead& area,
                     const PixelLayout& layout, uint32_t* to, size_t toStride) {
  Error error;
  auto reply = x.reply(xcb_get_image_reply,
                       xcb_get_image(x.get(), XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, area.fromX,
                                     area.fromY, area.width, area.height, ~0u),
                       &error);
  if (!reply) return error;
  const size_t rowBytes = static_cast<size_t>(area.width) * 4;
  if (static_cast<size_t>(xcb_get_image_data_length(reply.get())) < rowBytes * area.height) {
    return Error();
  }
  copyAsArgb(xcb_get_image_data(reply.get()), rowBytes, area.width, area.height, layout, to,
             toStride);
  return std::monostate{};
}

// Reads `area` of `drawable` into `image`; the error when the server refused.
ReadResult readArea(const XConnection& x, const ReadMethod& method, xcb_drawable_t drawable,
                    const AreaToRead& area, const PixelLayout& layout, CapturedPixels& image) {
  xcb_connection_t* c = x.get();
  uint32_t* to = image.argb.data() + static_cast<size_t>(area.toY) * image.width + area.toX;
  ShmSegments* shm = method.sharedMemory;
  if (!shm || !shm->usable()) return readPlain(x, drawable, area, layout, to, image.width);
  // In strips no larger than a kept segment, so that a large window needs no segment of its own
  // size, which would be resident beside its pixels and double what the capture holds.
  const size_t rowBytes = static_cast<size_t>(area.width) * 4;
  const int stripRows =
      static_cast<int>(std::clamp<size_t>(kMaxKeptSegmentBytes / rowBytes, 1, area.height));
  auto segment = shm->take(rowBytes * stripRows);
  if (!segment) return readPlain(x, drawable, area, layout, to, image.width);
  for (int y = 0; y < area.height; y += stripRows) {
    const int rows = std::min(stripRows, area.height - y);
    Error error;
    auto reply = x.reply(xcb_shm_get_image_reply,
                         xcb_shm_get_image(c, drawable, area.fromX, area.fromY + y, area.width,
                                           rows, ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, segment->id(), 0),
                         &error);
    if (!reply) {
      if (segment->attached()) {
        shm->give(std::move(segment));
        return error;
      }
      shm->markUnusable();
      return readPlain(x, drawable, area, layout, to, image.width);
    }
    copyAsArgb(segment->data(), rowBytes, area.width, rows, layout,
               to + static_cast<size_t>(y) * image.width, image.width);
  }
  // A strip-sized segment is not kept: the read is large and rare, and keeping it would add its
  // pages to every later capture's memory.
  if (stripRows >= area.height) shm->give(std::move(segment));
  return std::monostate{};
}

// A window-sized image, filled with `fill` where nothing is read into it.
std::optional<CapturedPixels> blankImage(const WindowPlacement& place, uint32_t fill) {
  CapturedPixels image;
  image.width = place.width;
  image.height = place.height;
  try {
    image.argb.assign(static_cast<size_t>(place.width) * place.height, fill);
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
  return image;
}

const CaptureFailure kOutOfMemory{"POSIX", ENOMEM, "Not enough memory for the window's pixels"};

WindowPixels fromWindowPixmap(const XConnection& x, const ScreenFormats& formats,
                              const ReadMethod& method, const Located& at) {
  xcb_connection_t* c = x.get();
  const xcb_pixmap_t pixmap = xcb_generate_id(c);
  auto named = xcb_composite_name_window_pixmap_checked(c, at.topLevel, pixmap);
  // The pixmap's own size, not the one seen a moment ago: the window may have been resized.
  auto geometry = x.reply(xcb_get_geometry_reply, xcb_get_geometry(c, pixmap));
  XLink::Checked nameCheck = x.check(named);
  if (!nameCheck.succeeded()) return unavailableOr(nameCheck.error.get(), "NameWindowPixmap");
  struct FreePixmap {
    xcb_connection_t* c;
    xcb_pixmap_t pixmap;
    ~FreePixmap() {
      xcb_discard_reply(c, xcb_free_pixmap_checked(c, pixmap).sequence);
      xcb_flush(c);
    }
  } freed{c, pixmap};
  if (!geometry) return WindowUnavailable{};
  auto layout = formats.byDepth.find(geometry->depth);
  if (layout == formats.byDepth.end()) {
    return CaptureFailure{"X11", 0,
                          "Windows of depth " + std::to_string(geometry->depth) +
                              " cannot be captured on this display"};
  }
  auto image = blankImage(at.place, 0);
  if (!image) return kOutOfMemory;
  const AreaToRead area = overlapOf(at.place.pixmapX, at.place.pixmapY, at.place.width,
                                    at.place.height, geometry->width, geometry->height);
  if (area.width == 0) return std::move(*image);
  auto read = readArea(x, method, pixmap, area, layout->second, *image);
  if (auto* error = std::get_if<Error>(&read)) return unavailableOr(error->get(), "GetImage");
  return std::move(*image);
}

WindowPixels fromScreen(const XConnection& x, const ScreenFormats& formats,
                        const ReadMethod& method, const Located& at) {
  xcb_connection_t* c = x.get();
  auto root = x.reply(xcb_get_geometry_reply, xcb_get_geometry(c, x.root()));
  auto layout = formats.byDepth.find(formats.rootDepth);
  if (!root || layout == formats.byDepth.end()) return failureOf(nullptr, "GetGeometry");
  // Off-screen parts have nothing to show: opaque black.
  auto image = blankImage(at.place, 0xFF000000u);
  if (!image) return kOutOfMemory;
  const AreaToRead area = overlapOf(at.place.rootX, at.place.rootY, at.place.width, at.place.height,
                                    root->width, root->height);
  if (area.width == 0) return std::move(*image);
  auto read = readArea(x, method, x.root(), area, layout->second, *image);
  if (auto* error = std::get_if<Error>(&read)) return failureOf(error->get(), "GetImage");
  return std::move(*image);
}

}  // namespace

ScreenFormats screenFormats(const XConnection& x) {
  const xcb_setup_t* setup = xcb_get_setup(x.get());
  std::map<uint8_t, uint8_t> bitsPerPixel;
  const xcb_format_t* formats = xcb_setup_pixmap_formats(setup);
  for (int i = 0; i < xcb_setup_pixmap_formats_length(setup); ++i) {
    bitsPerPixel[formats[i].depth] = formats[i].bits_per_pixel;
  }
  const bool bigEndian = setup->image_byte_order == XCB_IMAGE_ORDER_MSB_FIRST;
  ScreenFormats out;
  xcb_screen_iterator_t screen = xcb_setup_roots_iterator(setup);
  for (int i = 0; screen.rem && i < x.screenNumber(); ++i) xcb_screen_next(&screen);
  if (!screen.rem) return out;
  out.rootDepth = screen.data->root_depth;
  for (auto depth = xcb_screen_allowed_depths_iterator(screen.data); depth.rem;
       xcb_depth_next(&depth)) {
    for (auto visual = xcb_depth_visuals_iterator(depth.data); visual.rem;
         xcb_visualtype_next(&visual)) {
      const VisualFormat format{depth.data->depth,
                                bitsPerPixel[depth.data->depth],
                                visual.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR,
                                visual.data->red_mask,
                                visual.data->green_mask,
                                visual.data->blue_mask};
      if (auto layout = layoutFor(format, bigEndian)) {
        out.byDepth.emplace(format.depth, *layout);
        break;
      }
    }
  }
  return out;
}

WindowPixels readWindowPixels(const XConnection& x, const ScreenFormats& formats,
                              const ReadMethod& method, xcb_window_t window) {
  auto located = locate(x, window);
  if (auto* early = std::get_if<WindowPixels>(&located)) return std::move(*early);
  const Located& at = std::get<Located>(located);
  return method.windowPixmaps ? fromWindowPixmap(x, formats, method, at)
                              : fromScreen(x, formats, method, at);
}

}  // namespace tavren::x11
