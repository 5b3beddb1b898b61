#include "platform/linux/input/record_monitor.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <xcb/record.h>
#include <xcb/xcbext.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <span>
#include <thread>

#include "platform/linux/input/recorded_input.h"
#include "platform/linux/input/typing_plan.h"

namespace tavren::input {
namespace {

// A server that does not answer a connection's set-up in this time is taken as unable to record.
constexpr auto kConnectBound = std::chrono::seconds(2);

// RECORD reply categories.
constexpr uint8_t kFromServer = 0;
constexpr uint8_t kStartOfData = 4;
constexpr uint8_t kEndOfData = 5;

std::shared_ptr<x11::XLink> connectBounded(const std::string& display) {
  auto future = x11::XLink::connectInBackground(display);
  if (future.wait_for(kConnectBound) != std::future_status::ready) return nullptr;
  return future.get();
}

// Whether the connection's server offers RECORD. XCB would wait for the answer without a
// deadline: the question goes out ahead and is read with a bounded round trip.
bool offersRecord(const x11::XLink& link) {
  xcb_prefetch_extension_data(link.get(), &xcb_record_id);
  if (!link.sync()) return false;
  const xcb_query_extension_reply_t* record = xcb_get_extension_data(link.get(), &xcb_record_id);
  return record && record->present;
}

// The modifier keys down right now.
HeldModifiers heldNow(const x11::XLink& link, const Keymap& map) {
  HeldModifiers held;
  auto reply = link.reply(xcb_query_keymap_reply, xcb_query_keymap(link.get()));
  if (!reply) return held;
  for (int keycode = 0; keycode < 256; ++keycode) {
    if (!(reply->keys[keycode / 8] & (1 << (keycode % 8)))) continue;
    const uint16_t code = virtualKeyCode(map, static_cast<uint8_t>(keycode));
    if (code != kNoKeyCode && isModifierKeyCode(code)) held.press(code);
  }
  return held;
}

// Waits, within the connection bound, for the reply that opens the recorded data.
bool startOfData(const x11::XLink& data, unsigned sequence) {
  const auto deadline = std::chrono::steady_clock::now() + kConnectBound;
  for (;;) {
    void* reply = nullptr;
    xcb_generic_error_t* error = nullptr;
    if (xcb_poll_for_reply(data.get(), sequence, &reply, &error)) {
      std::free(error);
      if (reply == nullptr) return false;
      const uint8_t category = static_cast<xcb_record_enable_context_reply_t*>(reply)->category;
      std::free(reply);
      if (category == kStartOfData) return true;
      continue;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || xcb_connection_has_error(data.get())) return false;
    pollfd p{xcb_get_file_descriptor(data.get()), POLLIN, 0};
    poll(&p, 1, static_cast<int>(left.count()));
  }
}

class RecordObservation final : public InputObservation {
 public:
  RecordObservation(std::shared_ptr<x11::XLink> control, std::shared_ptr<x11::XLink> data,
                    xcb_record_context_t context, unsigned enableSequence, Keymap keymap,
                    HeldModifiers held, std::function<void(const ObservedInput&)> onInput)
      : control_(std::move(control)),
        data_(std::move(data)),
        context_(context),
        enableSequence_(enableSequence),
        keymap_(std::move(keymap)),
        held_(std::move(held)),
        onInput_(std::move(onInput)) {
    if (pipe2(wake_, O_CLOEXEC) != 0) wake_[0] = wake_[1] = -1;
    reader_ = std::thread([this] { read(); });
  }

  ~RecordObservation() override {
    xcb_record_disable_context(control_->get(), context_);
    xcb_record_free_context(control_->get(), context_);
    xcb_flush(control_->get());
    stopping_ = true;
    if (wake_[1] >= 0) {
      const char byte = 1;
      (void)!write(wake_[1], &byte, 1);
    }
    reader_.join();
    for (int fd : wake_) {
      if (fd >= 0) close(fd);
    }
  }

 private:
  // Until the context ends, the connection breaks or the observation is destroyed.
  void read() {
    xcb_connection_t* data = data_->get();
    xcb_connection_t* control = control_->get();
    std::array<pollfd, 3> fds{pollfd{xcb_get_file_descriptor(data), POLLIN, 0},
                              pollfd{xcb_get_file_descriptor(control), POLLIN, 0},
                              pollfd{wake_[0], POLLIN, 0}};
    for (;;) {
      void* reply = nullptr;
      xcb_generic_error_t* error = nullptr;
      while (!stopping_ && xcb_poll_for_reply(data, enableSequence_, &reply, &error)) {
        std::free(error);
        if (reply == nullptr) return;
        const bool more = deliver(static_cast<xcb_record_enable_context_reply_t*>(reply));
        std::free(reply);
        if (!more) return;
        reply = nullptr;
        error = nullptr;
      }
      while (xcb_generic_event_t* event = xcb_poll_for_event(control)) {
        if ((event->response_type & 0x7f) == XCB_MAPPING_NOTIFY) keymap_ = keymapOf(*control_);
        std::free(event);
      }
      if (stopping_ || xcb_connection_has_error(data)) return;
      const nfds_t count = wake_[0] >= 0 ? 3 : 2;
      if (poll(fds.data(), count, wake_[0] >= 0 ? -1 : 100) < 0 && errno != EINTR) return;
      if (fds[2].revents) return;
    }
  }

  // Hands on the events of one reply; false once the context has ended.
  bool deliver(xcb_record_enable_context_reply_t* reply) {
    if (reply->category == kEndOfData) return false;
    if (reply->category != kFromServer) return true;
    const uint8_t* bytes = xcb_record_enable_context_data(reply);
    const int length = xcb_record_enable_context_data_length(reply);
    for (int offset = 0; offset + 32 <= length && !stopping_; offset += 32) {
      std::span<const uint8_t, 32> event(bytes + offset, 32);
      if (std::optional<ObservedInput> input = decodeRecordedEvent(event, keymap_, held_)) {
        onInput_(*input);
      }
    }
    return true;
  }

  std::shared_ptr<x11::XLink> control_;
  std::shared_ptr<x11::XLink> data_;
  xcb_record_context_t context_;
  unsigned enableSequence_;
  Keymap keymap_;        // the reader's
  HeldModifiers held_;   // the reader's
  std::function<void(const ObservedInput&)> onInput_;
  std::atomic<bool> stopping_{false};
  int wake_[2] = {-1, -1};
  std::thread reader_;  // last: starts once everything it uses is made
};

}  // namespace

std::unique_ptr<InputObservation> RecordMonitor::observe(
    std::function<void(const ObservedInput&)> onInput) {
  if (!x_ || !x_->alive() || !x_->extensions().record) return nullptr;
  // The server the shared connection serves, not whatever DISPLAY says.
  const std::string& display = x_->displayName();
  std::shared_ptr<x11::XLink> control = connectBounded(display);
  std::shared_ptr<x11::XLink> data = connectBounded(display);
  if (!control || !data || !offersRecord(*control) || !offersRecord(*data)) return nullptr;

  Keymap keymap = keymapOf(*control);
  HeldModifiers held = heldNow(*control, keymap);
  const xcb_record_context_t context = xcb_generate_id(control->get());
  const xcb_record_client_spec_t clients = XCB_RECORD_CS_ALL_CLIENTS;
  xcb_record_range_t range;
  std::memset(&range, 0, sizeof range);
  range.device_events.first = XCB_KEY_PRESS;  // key presses and releases, button presses
  range.device_events.last = XCB_BUTTON_PRESS;
  if (!control->check(xcb_record_create_context_checked(control->get(), context, 0, 1, 1,
                                                        &clients, &range))
           .succeeded()) {
    return nullptr;
  }
  const unsigned sequence = xcb_record_enable_context(data->get(), context).sequence;
  xcb_flush(data->get());
  // Input is recorded once the server has said so (StartOfData): what happens after start
  // returns is never missed.
  if (!startOfData(*data, sequence)) {
    xcb_record_free_context(control->get(), context);
    xcb_flush(control->get());
    return nullptr;
  }
  return std::make_unique<RecordObservation>(std::move(control), std::move(data), context,
                                             sequence, std::move(keymap), std::move(held),
                                             std::move(onInput));
}

}  // namespace tavren::input
