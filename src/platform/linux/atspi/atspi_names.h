#pragma once

// The AT-SPI D-Bus interfaces and well-known object paths this service calls, named once.

namespace tavren::atspi::spi {

inline constexpr const char* kAccessible = "org.a11y.atspi.Accessible";
inline constexpr const char* kAction = "org.a11y.atspi.Action";
inline constexpr const char* kApplication = "org.a11y.atspi.Application";
inline constexpr const char* kCache = "org.a11y.atspi.Cache";
inline constexpr const char* kCollection = "org.a11y.atspi.Collection";
inline constexpr const char* kComponent = "org.a11y.atspi.Component";
inline constexpr const char* kEditableText = "org.a11y.atspi.EditableText";
inline constexpr const char* kRegistry = "org.a11y.atspi.Registry";
inline constexpr const char* kText = "org.a11y.atspi.Text";
inline constexpr const char* kValue = "org.a11y.atspi.Value";

inline constexpr const char* kCachePath = "/org/a11y/atspi/cache";
inline constexpr const char* kNullPath = "/org/a11y/atspi/null";
inline constexpr const char* kRegistryPath = "/org/a11y/atspi/registry";
inline constexpr const char* kRootPath = "/org/a11y/atspi/accessible/root";

}  // namespace tavren::atspi::spi
