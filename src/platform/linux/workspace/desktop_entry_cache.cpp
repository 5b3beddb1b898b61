#include "platform/linux/workspace/desktop_entry_cache.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>

namespace tavren::workspace {

namespace fs = std::filesystem;

namespace {

// What changes an entry below a watched directory: our own reads (open, access) are left out.
constexpr uint32_t kWatchedEvents = IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE |
                                    IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF |
                                    IN_MOVE_SELF | IN_ONLYDIR;

std::string baseName(const char* path) {
  return fs::path(path).filename().string();
}

// The program Exec runs, found on PATH with its symlinks resolved, so that "x-www-browser"
// matches the browser it stands for.
std::string resolvedProgram(const char* program) {
  if (!program || !*program) return {};
  gchar* found = g_find_program_in_path(program);
  if (!found) return {};
  std::error_code error;
  fs::path real = fs::canonical(found, error);
  g_free(found);
  return error ? std::string() : real.filename().string();
}

DesktopEntry entryOf(std::string id, GDesktopAppInfo* desktop) {
  GAppInfo* app = G_APP_INFO(desktop);
  DesktopEntry entry;
  entry.id = std::move(id);
  const char* name = g_app_info_get_name(app);
  entry.name = name ? name : "";
  const char* wmClass = g_desktop_app_info_get_startup_wm_class(desktop);
  entry.startupWmClass = wmClass ? wmClass : "";
  entry.terminal = g_desktop_app_info_get_boolean(desktop, "Terminal");
  const char* program = g_app_info_get_executable(app);
  entry.execName = program ? baseName(program) : "";
  entry.execTarget = resolvedProgram(program);
  return entry;
}

// The desktop file id of a file below an applications directory, without ".desktop".
std::string desktopIdOf(const fs::path& relative) {
  std::string id = relative.string();
  std::replace(id.begin(), id.end(), '/', '-');
  id.resize(id.size() - std::string_view(".desktop").size());
  return id;
}

std::vector<std::string> existingDirectories(const std::vector<std::string>& dirs) {
  std::vector<std::string> existing;
  for (const std::string& dir : dirs) {
    std::error_code error;
    if (fs::is_directory(dir, error)) existing.push_back(dir);
  }
  return existing;
}

}  // namespace

std::vector<std::string> applicationDirectories() {
  std::vector<std::string> dirs{(fs::path(g_get_user_data_dir()) / "applications").string()};
  for (const gchar* const* data = g_get_system_data_dirs(); *data; ++data) {
    dirs.push_back((fs::path(*data) / "applications").string());
  }
  return dirs;
}

std::vector<DesktopEntry> loadDesktopEntries(
    const std::vector<std::string>& dirs, const std::function<void(const std::string&)>& visited) {
  std::set<std::string> seen;  // ids of earlier directories mask later ones, valid or not
  std::vector<DesktopEntry> entries;
  for (const std::string& dir : dirs) {
    std::error_code error;
    fs::recursive_directory_iterator it(dir, fs::directory_options::skip_permission_denied, error);
    if (error) continue;
    if (visited) visited(dir);
    std::set<std::string> here;
    for (; it != fs::recursive_directory_iterator(); it.increment(error)) {
      if (error) break;
      const fs::directory_entry& file = *it;
      if (file.is_directory(error)) {
        if (visited) visited(file.path().string());
        continue;
      }
      if (file.path().extension() != ".desktop") continue;
      std::string id = desktopIdOf(file.path().lexically_relative(dir));
      if (seen.contains(id) || !here.insert(id).second) continue;
      GDesktopAppInfo* info = g_desktop_app_info_new_from_filename(file.path().c_str());
      if (!info) continue;  // not an application, or its TryExec program is missing
      if (!g_desktop_app_info_get_is_hidden(info)) entries.push_back(entryOf(id, info));
      g_object_unref(info);
    }
    seen.merge(here);
  }
  std::sort(entries.begin(), entries.end(),
            [](const DesktopEntry& a, const DesktopEntry& b) { return a.id < b.id; });
  return entries;
}

DesktopEntryCache::~DesktopEntryCache() {
  if (watch_ >= 0) close(watch_);
}

bool DesktopEntryCache::changedSinceLoad() {
  if (watch_ < 0) return true;  // nothing watches: read every time rather than miss a change
  bool changed = false;
  alignas(inotify_event) char events[4096];
  while (read(watch_, events, sizeof events) > 0) changed = true;
  return changed || existingDirectories(dirs_) != existingDirs_;
}

void DesktopEntryCache::load() {
  if (watch_ >= 0) close(watch_);
  // Watches first, so that a change made while the files are read is seen by the next call.
  watch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  existingDirs_ = existingDirectories(dirs_);
  auto watch = [this](const std::string& dir) {
    if (watch_ >= 0 && inotify_add_watch(watch_, dir.c_str(), kWatchedEvents) < 0) {
      close(watch_);
      watch_ = -1;
    }
  };
  entries_ =
      std::make_shared<const std::vector<DesktopEntry>>(loadDesktopEntries(existingDirs_, watch));
}

DesktopEntryList DesktopEntryCache::entries() {
  std::lock_guard lock(mutex_);
  if (!entries_ || changedSinceLoad()) load();
  return entries_;
}

}  // namespace tavren::workspace
