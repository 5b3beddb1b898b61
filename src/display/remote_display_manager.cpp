#include "display/remote_display_manager.h"

#include <cmath>
#include <exception>

#include "core/unicode_text.h"

namespace tavren {
namespace {

// The system's own messages, kept as they stand.
constexpr const char* kNoValidOwner = "缺少有效的远控会话标识。";
constexpr const char* kOwnedByAnother = "虚拟显示器正由另一个远控会话使用。";
constexpr const char* kSizeNotNumber = "虚拟显示器尺寸无效。";
constexpr const char* kSizeOutOfRange = "虚拟显示器尺寸必须在 640×480 至 3840×2160 之间。";
constexpr const char* kNotCreated = "macOS 未能创建虚拟显示器；请确认已登录图形桌面。";
constexpr const char* kCreationFailed = "macOS 虚拟显示器接口不兼容，未能创建显示器。";
constexpr const char* kReleaseFailed = "macOS 未能释放虚拟显示器。";
constexpr const char* kUnsupported = "当前 macOS 不提供可用的虚拟显示器接口。";
constexpr const char* kListUnreadable = "无法读取 macOS 显示器状态，未修改显示器配置。";
constexpr const char* kStatusFailed = "macOS 虚拟显示器接口不可用。";

Json errorObject(const char* message) { return Json{{"error", message}}; }

// The owner when "owner" is a string of 1 to 256 UTF-16 code units.
const std::string* validOwner(const Json& params) {
  auto it = params.find("owner");
  if (it == params.end() || !it->is_string()) return nullptr;
  const std::string& owner = it->get_ref<const std::string&>();
  const int64_t length = utf16Length(owner);
  return length >= 1 && length <= kMaxOwnerLength ? &owner : nullptr;
}

// One side of the size: absent gives the default; a number or a boolean (which a JSON reader
// of the platform takes as a number too) gives its value; anything else nothing.
std::optional<double> sizeParameter(const Json& params, const char* key, int fallback) {
  auto it = params.find(key);
  if (it == params.end()) return fallback;
  if (it->is_boolean()) return it->get<bool>() ? 1.0 : 0.0;
  if (it->is_number()) return it->get<double>();
  return std::nullopt;
}

bool wholeWithin(double value, int low, int high) {
  return std::isfinite(value) && std::floor(value) == value && value >= low && value <= high;
}

std::string decimal(uint32_t id) { return std::to_string(id); }

}  // namespace

TavrenRemoteDisplayManager::TavrenRemoteDisplayManager(Displays& displays, DisplayChanged changed)
    : displays_(displays), changed_(std::move(changed)) {}

TavrenRemoteDisplayManager::~TavrenRemoteDisplayManager() { endOwnedDisplay(); }

Json TavrenRemoteDisplayManager::status() {
  std::lock_guard lock(mutex_);
  dropEndedDisplayLocked();
  return statusLocked();
}

// A display whose server ended without being released is no display: the owner neither keeps
// an identifier that names nothing nor blocks everyone else for good.
void TavrenRemoteDisplayManager::dropEndedDisplayLocked() {
  if (!ownedDisplay_ || ownedDisplay_->alive()) return;
  if (changed_) changed_(nullptr);
  ownedDisplay_.reset();
  owner_.clear();
}

Json TavrenRemoteDisplayManager::statusLocked() {
  const std::optional<std::vector<uint32_t>> online = displays_.onlineDisplays();
  const bool available = displays_.virtualDisplaysAvailable();
  if (!online) return Json{{"supported", available}, {"headless", false}, {"reason", kListUnreadable}};
  // The backend lists the displays this process did not make: each is a physical one.
  Json ids = Json::array();
  for (uint32_t id : *online) ids.push_back(decimal(id));
  if (ownedDisplay_) ids.push_back(decimal(ownedDisplay_->id()));
  Json status{{"supported", available}, {"headless", online->empty()}, {"displayIds", ids}};
  if (ownedDisplay_) status["ownedDisplayId"] = decimal(ownedDisplay_->id());
  if (!available) status["reason"] = kUnsupported;
  return status;
}

Json TavrenRemoteDisplayManager::ensure(const Json& params) {
  const std::string* owner = validOwner(params);
  if (owner == nullptr) return errorObject(kNoValidOwner);
  std::lock_guard lock(mutex_);
  dropEndedDisplayLocked();
  if (ownedDisplay_) {
    if (*owner != owner_) return errorObject(kOwnedByAnother);
    return Json{{"displayId", decimal(ownedDisplay_->id())}, {"created", false}};
  }
  Json status = statusLocked();
  if (auto reason = status.find("reason"); reason != status.end()) return Json{{"error", *reason}};
  if (!status["headless"].get<bool>()) return Json{{"created", false}, {"skipped", "display-present"}};

  const std::optional<double> width = sizeParameter(params, "width", kDefaultDisplayWidth);
  const std::optional<double> height = sizeParameter(params, "height", kDefaultDisplayHeight);
  if (!width || !height) return errorObject(kSizeNotNumber);
  if (!wholeWithin(*width, kMinDisplayWidth, kMaxDisplayWidth) ||
      !wholeWithin(*height, kMinDisplayHeight, kMaxDisplayHeight)) {
    return errorObject(kSizeOutOfRange);
  }
  std::unique_ptr<VirtualDisplay> display =
      displays_.createVirtualDisplay(static_cast<int>(*width), static_cast<int>(*height));
  if (!display) return errorObject(kNotCreated);
  ownedDisplay_ = std::move(display);
  owner_ = *owner;
  if (changed_) changed_(&ownedDisplay_->address());
  return Json{{"displayId", decimal(ownedDisplay_->id())}, {"created", true}};
}

Json TavrenRemoteDisplayManager::release(const Json& params) {
  auto it = params.find("owner");
  std::lock_guard lock(mutex_);
  if (!ownedDisplay_ || it == params.end() || !it->is_string() ||
      it->get_ref<const std::string&>() != owner_) {
    return Json{{"released", false}};
  }
  // Later requests go back to the service's own desktop before the display goes away.
  if (changed_) changed_(nullptr);
  std::unique_ptr<VirtualDisplay> display = std::move(ownedDisplay_);
  owner_.clear();
  display.reset();
  return Json{{"released", true}};
}

void TavrenRemoteDisplayManager::endOwnedDisplay() {
  std::unique_ptr<VirtualDisplay> display;
  std::lock_guard lock(mutex_);
  display = std::move(ownedDisplay_);
  owner_.clear();
  display.reset();
}

Json guardedDisplayStatus(TavrenRemoteDisplayManager& manager) {
  try {
    return manager.status();
  } catch (const std::exception&) {
    return Json{{"supported", false}, {"headless", false}, {"reason", kStatusFailed}};
  }
}

Json guardedDisplayEnsure(TavrenRemoteDisplayManager& manager, const Json& params) {
  try {
    return manager.ensure(params);
  } catch (const std::exception&) {
    return errorObject(kCreationFailed);
  }
}

Json guardedDisplayRelease(TavrenRemoteDisplayManager& manager, const Json& params) {
  try {
    return manager.release(params);
  } catch (const std::exception&) {
    return errorObject(kReleaseFailed);
  }
}

}  // namespace tavren
