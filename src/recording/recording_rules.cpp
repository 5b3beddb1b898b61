#include "recording/recording_rules.h"

#include <algorithm>
#include <array>
#include <utility>

namespace tavren {
namespace {

// Virtual key codes of the Apple layout that are reported by name.
constexpr auto kKeyNames = std::to_array<std::pair<uint16_t, std::string_view>>({
    {0, "a"},   {1, "s"},       {2, "d"},      {3, "f"},     {4, "h"},      {5, "g"},
    {6, "z"},   {7, "x"},       {8, "c"},      {9, "v"},     {11, "b"},     {12, "q"},
    {13, "w"},  {14, "e"},      {15, "r"},     {16, "y"},    {17, "t"},     {31, "o"},
    {32, "u"},  {34, "i"},      {35, "p"},     {37, "l"},    {38, "j"},     {40, "k"},
    {45, "n"},  {46, "m"},      {36, "return"}, {48, "tab"}, {49, "space"}, {51, "delete"},
    {53, "escape"}, {123, "left"}, {124, "right"}, {125, "down"}, {126, "up"},
});

constexpr std::string_view kSpecialKeys[] = {"return", "tab",   "space", "delete", "escape",
                                             "left",   "right", "up",    "down"};

constexpr std::pair<uint64_t, std::string_view> kModifierNames[] = {
    {0x100000, "cmd"}, {0x40000, "ctrl"}, {0x80000, "alt"}, {0x20000, "shift"}};

constexpr std::string_view kExcluded[] = {
    kHostAppId,
    "com.apple.Terminal",
    "com.googlecode.iterm2",
    "com.apple.SecurityAgent",
    "com.apple.CoreServicesUIAgent",
    // Terminals of Linux desktops, by application id and, where they have none, by name.
    "org.gnome.Terminal",
    "org.gnome.Console",
    "org.gnome.Ptyxis",
    "org.kde.konsole",
    "org.kde.yakuake",
    "org.xfce.terminal",
    "xfce4-terminal",
    "mate-terminal",
    "lxterminal",
    "org.lxqt.qterminal",
    "qterminal",
    "io.elementary.terminal",
    "com.gexperts.Tilix",
    "terminator",
    "guake",
    "tilda",
    "kitty",
    "Alacritty",
    "org.wezfurlong.wezterm",
    "foot",
    "debian-xterm",
    "debian-uxterm",
    "xterm",
    "XTerm",
    "UXTerm",
    "rxvt-unicode",
    "URxvt",
    // Password prompts: polkit authentication agents, keyring and key prompters.
    "polkit-gnome-authentication-agent-1",
    "polkit-mate-authentication-agent-1",
    "org.kde.polkit-kde-authentication-agent-1",
    "lxpolkit",
    "xfce-polkit",
    "gcr-prompter",
    "org.gnome.keyring.SystemPrompter",
    "org.gnome.keyring.PrivatePrompter",
    "pinentry-gnome3",
    "pinentry-gtk-2",
    "pinentry-qt",
    "ssh-askpass",
    "ksshaskpass",
    "org.kde.ksshaskpass",
};

}  // namespace

std::string safeKeyName(uint16_t keyCode) {
  for (const auto& [code, name] : kKeyNames) {
    if (code == keyCode) return std::string(name);
  }
  return "key-" + std::to_string(keyCode);
}

bool isSpecialKeyName(std::string_view name) {
  return std::find(std::begin(kSpecialKeys), std::end(kSpecialKeys), name) !=
         std::end(kSpecialKeys);
}

std::vector<std::string> recordingModifierNames(uint64_t flags) {
  std::vector<std::string> names;
  for (const auto& [flag, name] : kModifierNames) {
    if (flags & flag) names.emplace_back(name);
  }
  return names;
}

std::optional<std::string_view> recordingKind(const ObservedInput& input,
                                              std::span<const std::string> modifiers,
                                              std::string_view keyName) {
  if (input.pointer) {
    if (input.pointer->action != PointerAction::Down) return std::nullopt;
    switch (input.pointer->button) {
      case 0: return "click";
      case 1: return "right-click";
      default: return "middle-click";
    }
  }
  if (input.scroll) return "scroll";
  if (input.key) {
    if (!input.key->down) return std::nullopt;
    const bool command = std::any_of(modifiers.begin(), modifiers.end(), [](const std::string& m) {
      return m == "cmd" || m == "ctrl" || m == "alt";
    });
    return command || isSpecialKeyName(keyName) ? "key" : "text-input";
  }
  return std::nullopt;
}

std::span<const std::string_view> excludedRecordingApps() { return kExcluded; }

bool isExcludedRecordingApp(std::string_view appId) {
  return std::find(std::begin(kExcluded), std::end(kExcluded), appId) != std::end(kExcluded);
}

}  // namespace tavren
