#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/linux/workspace/app_identity.h"
#include "platform/linux/workspace/atspi_name_memo.h"
#include "platform/linux/workspace/bundle_path.h"
#include "platform/linux/workspace/desktop_entry_cache.h"
#include "platform/linux/workspace/desktop_entries.h"
#include "platform/linux/workspace/process_info.h"

namespace tavren::workspace {
namespace {

TEST(LinuxBundlePath, SharedDirectoriesHaveNoBundle) {
  for (const char* path :
       {"/usr/bin/gtk3-widget-factory", "/bin/sh", "/usr/sbin/cupsd", "/usr/games/sol",
        "/usr/libexec/at-spi-bus-launcher", "/usr/local/bin/tool", "/home/ann/.local/bin/tool",
        "/root/.local/bin/tool"}) {
    EXPECT_EQ(bundlePathFor(path), "") << path;
  }
}

TEST(LinuxBundlePath, PrivateDirectoryIsTheBundle) {
  EXPECT_EQ(bundlePathFor("/usr/lib/firefox-esr/firefox-esr"), "/usr/lib/firefox-esr");
  EXPECT_EQ(bundlePathFor("/opt/Editor/editor"), "/opt/Editor");
  // An application's own bin directory stands for the directory above it.
  EXPECT_EQ(bundlePathFor("/opt/jdk-17/bin/java"), "/opt/jdk-17");
  EXPECT_EQ(bundlePathFor("/home/ann/apps/tool/bin/tool"), "/home/ann/apps/tool");
}

TEST(LinuxBundlePath, OddPathsHaveNoBundle) {
  EXPECT_EQ(bundlePathFor(""), "");
  EXPECT_EQ(bundlePathFor("relative/dir/tool"), "");
  EXPECT_EQ(bundlePathFor("/tool"), "");
  EXPECT_EQ(bundlePathFor("/bin/"), "");
  // "bin" right under the root is not an install directory of "/".
  EXPECT_EQ(bundlePathFor("/bin/tool"), "");
}

TEST(LinuxBundlePath, NeverAHomeASharedPrefixOrASharedBin) {
  EXPECT_EQ(bundlePathFor("/home/ann/bin/tool", "/home/ann"), "");  // ~/bin: not the home
  EXPECT_EQ(bundlePathFor("/home/ann/tool", "/home/ann/"), "");
  EXPECT_EQ(bundlePathFor("/home/tool", "/home/ann"), "");  // above the home
  EXPECT_EQ(bundlePathFor("/home/ann/apps/tool/bin/tool", "/home/ann"), "/home/ann/apps/tool");
  EXPECT_EQ(bundlePathFor("/opt/tool"), "");
  EXPECT_EQ(bundlePathFor("/opt/bin/tool"), "");
  EXPECT_EQ(bundlePathFor("/usr/local/tool"), "");
  EXPECT_EQ(bundlePathFor("/usr/tool"), "");
  // A bin directory holding other programs (a build folder) belongs to none of them.
  EXPECT_EQ(bundlePathFor("/src/project/build/bin/tool", "", true), "");
  EXPECT_EQ(bundlePathFor("/src/project/build/tool", "", true), "/src/project/build");
}

TEST(LinuxBundlePath, OtherExecutablesBesideTheProgramAreFoundOnDisk) {
  EXPECT_TRUE(holdsOtherExecutables("/usr/bin/env"));
  EXPECT_FALSE(holdsOtherExecutables("/nonexistent/dir/tool"));
  char dir[] = "/tmp/tavren-bin-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string tool = std::string(dir) + "/tool", other = std::string(dir) + "/other";
  FILE* f = fopen(tool.c_str(), "w");
  fclose(f);
  chmod(tool.c_str(), 0755);
  EXPECT_FALSE(holdsOtherExecutables(tool));
  f = fopen(other.c_str(), "w");
  fclose(f);
  EXPECT_FALSE(holdsOtherExecutables(tool));  // not executable: data beside the program
  chmod(other.c_str(), 0755);
  EXPECT_TRUE(holdsOtherExecutables(tool));
  unlink(tool.c_str());
  unlink(other.c_str());
  rmdir(dir);
}

TEST(LinuxProcStat, ReadsThisProcess) {
  auto self = readProcess(getpid());
  ASSERT_TRUE(self);
  EXPECT_FALSE(self->comm.empty());
  EXPECT_EQ(self->executablePath.front(), '/');
  EXPECT_FALSE(readProcess(0));
  EXPECT_FALSE(readProcess(-5));
}

TEST(LinuxLaunchTime, AddsTicksToBootTime) {
  EXPECT_EQ(launchTimeMs(0, 100, 1'700'000'000'000), 1'700'000'000'000);
  EXPECT_EQ(launchTimeMs(12345, 100, 1'700'000'000'000), 1'700'000'123'450);
  // Large tick counts must not overflow on the way to milliseconds.
  EXPECT_EQ(launchTimeMs(100ull * 3600 * 24 * 365 * 30, 100, 0), 946'080'000'000);
  EXPECT_EQ(launchTimeMs(7, 0, 5), 5);
}

std::vector<DesktopEntry> installedEntries() {
  return {
      {"firefox-esr", "Firefox ESR", "Firefox-esr", "firefox-esr", "firefox-esr", false},
      {"gtk3-widget-factory", "Widget Factory", "", "gtk3-widget-factory", "gtk3-widget-factory",
       false},
      {"org.gnome.Calculator", "Calculator", "", "gnome-calculator", "gnome-calculator", false},
      {"python3.11", "Python (v3.11)", "", "python3.11", "python3.11", true},
      {"vim", "Vim", "", "vim", "vim.basic", true},
      {"x-browser", "Web Browser", "", "x-www-browser", "firefox-esr", false},
  };
}

TEST(LinuxDesktopEntryMatch, GtkApplicationIdComesFirst) {
  auto entries = installedEntries();
  const DesktopEntry* entry = matchDesktopEntry(
      entries, {"org.gnome.Calculator", "firefox-esr", "Firefox-esr", "/usr/bin/firefox-esr"});
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->id, "org.gnome.Calculator");
}

TEST(LinuxDesktopEntryMatch, StartupWmClassIgnoresCaseAndMatchesEitherHalf) {
  auto entries = installedEntries();
  for (AppClues clues : {AppClues{"", "x", "FIREFOX-ESR", ""}, AppClues{"", "firefox-esr", "", ""},
                         AppClues{"org.unknown", "Navigator", "firefox-esr", "/opt/ff/ff"}}) {
    const DesktopEntry* entry = matchDesktopEntry(entries, clues);
    ASSERT_TRUE(entry) << clues.wmClass;
    EXPECT_EQ(entry->id, "firefox-esr");
  }
}

TEST(LinuxDesktopEntryMatch, ExecMatchesByBaseNameOrResolvedTarget) {
  auto entries = installedEntries();
  const DesktopEntry* entry =
      matchDesktopEntry(entries, {"org.gtk.WidgetFactory", "gtk3-widget-factory",
                                  "Gtk3-widget-factory", "/usr/bin/gtk3-widget-factory"});
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->id, "gtk3-widget-factory");
  // "x-www-browser" resolves to firefox-esr, but firefox-esr's own entry sorts first.
  entry = matchDesktopEntry(entries, {"", "", "", "/usr/lib/firefox-esr/firefox-esr"});
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->id, "firefox-esr");
}

TEST(LinuxDesktopEntryMatch, TerminalEntriesAndEmptyCluesNeverMatch) {
  auto entries = installedEntries();
  EXPECT_FALSE(matchDesktopEntry(entries, {"", "", "", "/usr/bin/python3.11"}));
  EXPECT_FALSE(matchDesktopEntry(entries, {"", "", "", "/usr/bin/vim.basic"}));
  EXPECT_FALSE(matchDesktopEntry(entries, {"", "", "", ""}));
  EXPECT_FALSE(matchDesktopEntry(entries, {"", "", "", "/usr/bin/"}));
  std::vector<DesktopEntry> blank{{"blank", "Blank", "", "", "", false}};
  EXPECT_FALSE(matchDesktopEntry(blank, {"", "", "", "/usr/bin/tool"}));
}

TEST(LinuxAppIdentity, NameFallsBackInOrder) {
  auto entries = installedEntries();
  WindowClues factory{"org.gtk.WidgetFactory", "gtk3-widget-factory", "Gtk3-widget-factory"};
  AppIdentity id = identifyApp(factory, "/usr/bin/gtk3-widget-factory", "gtk3-widget-factory",
                               "gtk3-w", entries);
  EXPECT_EQ(id.bundleId, "org.gtk.WidgetFactory");
  EXPECT_EQ(id.name, "Widget Factory");

  WindowClues xterm{"", "xterm", "XTerm"};
  EXPECT_EQ(identifyApp(xterm, "/usr/bin/xterm", "", "xterm", entries).name, "XTerm");
  EXPECT_EQ(identifyApp(xterm, "/usr/bin/xterm", "Terminal", "xterm", entries).name, "Terminal");
  AppIdentity bare = identifyApp({}, "/usr/bin/daemon", "", "daemon", entries);
  EXPECT_EQ(bare.name, "daemon");
  EXPECT_EQ(bare.bundleId, "");
  EXPECT_EQ(identifyApp({}, "/usr/bin/gnome-calculator", "", "gnome-calc", entries).bundleId,
            "org.gnome.Calculator");
}

x11::ListedWindow window(uint32_t id, int32_t pid, bool managed, const char* gtkId,
                         const char* wmClass) {
  x11::ListedWindow w;
  w.facts.id = id;
  w.facts.gtkApplicationId = gtkId;
  w.facts.wmClass = wmClass;
  w.pid = pid;
  w.managed = managed;
  return w;
}

TEST(LinuxAppIdentity, WindowCluesDoNotDependOnStacking) {
  std::vector<x11::ListedWindow> windows{
      window(0x500, 10, false, "", "Popup"),  // a pop-up in front
      window(0x300, 10, true, "", "Second"), window(0x200, 10, true, "org.app", "First"),
      window(0x100, 0, true, "org.nobody", "Nobody"),  // pid unknown: no application
  };
  windows[1].facts.types = {x11::Atom::_NET_WM_WINDOW_TYPE_DIALOG};
  auto clues = windowCluesByPid(windows);
  ASSERT_EQ(clues.size(), 1u);
  EXPECT_EQ(clues[10].wmClass, "First");
  EXPECT_EQ(clues[10].gtkApplicationId, "org.app");
  EXPECT_TRUE(clues[10].ownsNormalClient);
  std::reverse(windows.begin(), windows.end());
  EXPECT_EQ(windowCluesByPid(windows)[10].wmClass, "First");

  // Only pop-ups and dialogs: present, but not a regular application.
  std::vector<x11::ListedWindow> accessory{window(0x700, 20, false, "", "Tip"),
                                           window(0x800, 20, true, "", "Dlg")};
  accessory[1].facts.types = {x11::Atom::_NET_WM_WINDOW_TYPE_DIALOG};
  auto other = windowCluesByPid(accessory)[20];
  EXPECT_TRUE(other.ownsClient);
  EXPECT_FALSE(other.ownsNormalClient);
  EXPECT_EQ(other.wmClass, "Dlg");
}

}  // namespace
}  // namespace tavren::workspace

namespace tavren::workspace {
namespace {

TEST(LinuxAtspiNameMemo, ReusedPidIsAnotherProcess) {
  AtspiNameMemo memo;
  memo.remember(42, 1000, "Editor");
  EXPECT_EQ(memo.find(42, 1000), "Editor");
  EXPECT_FALSE(memo.find(42, 2000));
  memo.remember(42, 2000, "Viewer");
  memo.keepOnly({{42, 2000}});
  EXPECT_FALSE(memo.find(42, 1000));
  EXPECT_EQ(memo.find(42, 2000), "Viewer");
}

TEST(LinuxAtspiNameMemo, FirstNameLearntStaysForTheLifeOfTheProcess) {
  AtspiNameMemo memo;
  memo.remember(43, 1000, "");  // did not answer when first asked
  memo.remember(43, 1000, "Late");
  EXPECT_EQ(memo.find(43, 1000), "");  // named otherwise, but always the same way
  memo.remember(44, 1000, "Editor");
  memo.remember(44, 1000, "");
  EXPECT_EQ(memo.find(44, 1000), "Editor");
}

TEST(LinuxAtspiNameMemo, UnregisteredProcessIsRememberedOnlyWhenTheRegistryAnswered) {
  AtspiNameMemo memo;
  NameQuery unregistered{45, 1000, nullptr};
  learnAccessibilityNames(nullptr, {&unregistered, 1}, /*registryAnswered=*/false, memo);
  EXPECT_FALSE(memo.find(45, 1000));  // no bus says nothing: ask again later
  learnAccessibilityNames(nullptr, {&unregistered, 1}, /*registryAnswered=*/true, memo);
  EXPECT_EQ(memo.find(45, 1000), "");
}

}  // namespace
}  // namespace tavren::workspace

namespace tavren::workspace {
namespace {

namespace fs = std::filesystem;

// Two applications directories, the user's first, in a fresh temporary directory.
class DesktopEntryDirs : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("tavren-entries-" + std::to_string(getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(system());
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path user() const { return root_ / "user/applications"; }
  fs::path system() const { return root_ / "system/applications"; }
  std::vector<std::string> dirs() const { return {user().string(), system().string()}; }

  // Writing to an existing file truncates it in place: its directory's time stays.
  static void create(const fs::path& file, const std::string& name, const std::string& extra = "") {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << "[Desktop Entry]\nType=Application\nName=" << name
                        << "\nExec=true %U\n"
                        << extra;
  }
  static std::string nameOf(const DesktopEntryList& entries, const std::string& id) {
    for (const DesktopEntry& e : *entries) {
      if (e.id == id) return e.name;
    }
    return "(none)";
  }

  fs::path root_;
};

TEST_F(DesktopEntryDirs, EditsAreSeenByTheNextCall) {
  create(system() / "org.example.Tool.desktop", "Before");
  DesktopEntryCache cache(dirs());
  DesktopEntryList first = cache.entries();
  EXPECT_EQ(nameOf(first, "org.example.Tool"), "Before");
  EXPECT_EQ(cache.entries(), first);  // nothing changed: the same list, not read again

  auto mtime = fs::last_write_time(system());
  create(system() / "org.example.Tool.desktop", "After");
  ASSERT_EQ(fs::last_write_time(system()), mtime) << "the edit was not in place";
  EXPECT_EQ(nameOf(cache.entries(), "org.example.Tool"), "After");
  ASSERT_EQ(first->size(), 1u);
  EXPECT_EQ(first->front().name, "Before");  // a list handed out earlier stays as it was

  create(user() / "vendor/editor.desktop", "Editor");  // the user directory did not exist
  EXPECT_EQ(nameOf(cache.entries(), "vendor-editor"), "Editor");
  create(user() / "vendor/viewer.desktop", "Viewer");  // in a subdirectory read before
  EXPECT_EQ(nameOf(cache.entries(), "vendor-viewer"), "Viewer");

  fs::remove(system() / "org.example.Tool.desktop");
  EXPECT_EQ(nameOf(cache.entries(), "org.example.Tool"), "(none)");
}

TEST_F(DesktopEntryDirs, UserEntriesMaskSystemOnes) {
  create(system() / "org.example.Tool.desktop", "System tool");
  create(system() / "org.example.Gone.desktop", "Gone");
  create(system() / "org.example.Quiet.desktop", "Quiet", "NoDisplay=true\n");
  create(user() / "org.example.Tool.desktop", "User tool");
  create(user() / "org.example.Gone.desktop", "Gone", "Hidden=true\n");  // deleted by the user
  create(user() / "notes.txt", "Not an entry");
  std::vector<DesktopEntry> entries = loadDesktopEntries(dirs());
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].id, "org.example.Quiet");
  EXPECT_EQ(entries[1].id, "org.example.Tool");
  EXPECT_EQ(entries[1].name, "User tool");
  EXPECT_EQ(entries[1].execName, "true");  // Exec must name an existing program
}

}  // namespace
}  // namespace tavren::workspace
