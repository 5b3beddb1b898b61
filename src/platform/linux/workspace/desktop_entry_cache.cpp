#include "platform/linux/workspace/desktop_entry_cache.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>

namespace tavren::workspace {

namespace {

// GIO notices a changed directory through a file monitor a moment after the change.
constexpr std::chrono::seconds kSettleTime{2};

std::string baseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The program Exec runs, found on PATH with its symlinks resolved, so that "x-www-browser"
// matches the browser it stands for.
std::string resolvedProgram(const char* program) {
  if (!program || !*program) return {};
  gchar* found = g_find_program_in_path(program);
  if (!found) return {};
  char* real = realpath(found, nullptr);
  g_free(found);
  if (!real) return {};
  std::string target = baseName(real);
  free(real);
  return target;
}

DesktopEntry entryOf(GAppInfo* app) {
  DesktopEntry entry;
  const char* id = g_app_info_get_id(app);
  entry.id = id ? id : "";
  if (entry.id.ends_with(".desktop")) entry.id.resize(entry.id.size() - 8);
  const char* name = g_app_info_get_name(app);
  entry.name = name ? name : "";
  if (G_IS_DESKTOP_APP_INFO(app)) {
    auto* desktop = G_DESKTOP_APP_INFO(app);
    const char* wmClass = g_desktop_app_info_get_startup_wm_class(desktop);
    entry.startupWmClass = wmClass ? wmClass : "";
    entry.terminal = g_desktop_app_info_get_boolean(desktop, "Terminal");
  }
  const char* program = g_app_info_get_executable(app);
  entry.execName = program ? baseName(program) : "";
  entry.execTarget = resolvedProgram(program);
  return entry;
}

int64_t mtimeNs(const struct stat& st) {
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

}  // namespace

std::vector<DesktopEntry> loadDesktopEntries() {
  std::vector<DesktopEntry> entries;
  GList* all = g_app_info_get_all();
  for (GList* item = all; item; item = item->next) {
    entries.push_back(entryOf(G_APP_INFO(item->data)));
  }
  g_list_free_full(all, g_object_unref);
  std::sort(entries.begin(), entries.end(),
            [](const DesktopEntry& a, const DesktopEntry& b) { return a.id < b.id; });
  return entries;
}

std::vector<DesktopEntryCache::Stamp> DesktopEntryCache::stampDirectories() {
  std::vector<std::string> dirs{std::string(g_get_user_data_dir()) + "/applications"};
  for (const gchar* const* data = g_get_system_data_dirs(); *data; ++data) {
    dirs.push_back(std::string(*data) + "/applications");
  }
  std::vector<Stamp> stamps;
  for (std::string& dir : dirs) {
    struct stat st;
    bool exists = ::stat(dir.c_str(), &st) == 0;
    stamps.push_back({std::move(dir), exists, exists ? mtimeNs(st) : 0});
  }
  return stamps;
}

DesktopEntryList DesktopEntryCache::entries() {
  std::lock_guard lock(mutex_);
  std::vector<Stamp> stamps = stampDirectories();
  auto now = std::chrono::steady_clock::now();
  bool changed = !entries_ || stamps != stamps_;
  bool settled = rereadPending_ && now >= rereadAfter_;
  if (changed || settled) {
    entries_ = std::make_shared<const std::vector<DesktopEntry>>(loadDesktopEntries());
    rereadPending_ = changed && entries_ && !stamps_.empty();
    rereadAfter_ = now + kSettleTime;
    stamps_ = std::move(stamps);
  }
  return entries_;
}

}  // namespace tavren::workspace
