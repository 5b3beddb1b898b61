// Snapshot and restore of the general pasteboard on the in-memory desktop, and the named
// pasteboards' files: names that must stay inside their directory, the file format, failures.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "pasteboard/named_pasteboards.h"
#include "pasteboard/pasteboard_methods.h"
#include "platform/fake/fake_pasteboard.h"

namespace tavren {
namespace {

namespace fs = std::filesystem;

const std::vector<PasteboardItem> kRich = {
    {{"UTF8_STRING", "Hello"}, {"text/html", "<b>Hello</b>"}, {"image/png", std::string("\x89PNG\0\r\n", 7)}},
};

class PasteboardTest : public ::testing::Test {
 protected:
  PasteboardTest() {
    char tmpl[] = "/tmp/tavren-pasteboard-test-XXXXXX";
    root = fs::path(mkdtemp(tmpl));
    directory = root / "runtime" / "pasteboards";
  }
  ~PasteboardTest() override { fs::remove_all(root); }

  Outcome snapshot(const Json& params) { return pasteboardSnapshotMethod(params, clipboard, directory); }
  Outcome restore(const Json& params) { return pasteboardRestoreMethod(params, clipboard, directory); }
  static int items(const Outcome& o) {
    EXPECT_TRUE(o.ok()) << (o.ok() ? "" : o.error().message);
    return o.ok() ? o.value()["items"].get<int>() : -1;
  }
  // Every file under the test's root, so that a name that escaped would show up.
  std::vector<fs::path> allFiles() const {
    std::vector<fs::path> files;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
      if (e.is_regular_file()) files.push_back(e.path());
    }
    return files;
  }

  fs::path root;
  fs::path directory;
  FakePasteboard clipboard{Json::object()};
};

TEST_F(PasteboardTest, SnapshotThenRestorePutsBackItemsTypesAndBytesInOrder) {
  clipboard.copy(kRich);
  EXPECT_EQ(items(snapshot({{"name", "saved"}})), 1);
  EXPECT_EQ(clipboard.generalItems(), kRich) << "a snapshot leaves the clipboard alone";

  clipboard.copy({{{"UTF8_STRING", "agent text"}}});
  EXPECT_EQ(items(restore({{"name", "saved"}})), 1);
  EXPECT_EQ(clipboard.generalItems(), kRich);

  // The restore discarded the copy: a second one finds nothing and empties the clipboard.
  EXPECT_EQ(items(restore({{"name", "saved"}})), 0);
  EXPECT_TRUE(clipboard.generalItems()->empty());
  EXPECT_TRUE(allFiles().empty());
}

TEST_F(PasteboardTest, EmptyClipboardUnknownNameAndItemsWithoutData) {
  EXPECT_EQ(items(snapshot({{"name", "empty"}})), 0);
  clipboard.copy(kRich);
  EXPECT_EQ(items(restore({{"name", "empty"}})), 0);
  EXPECT_TRUE(clipboard.generalItems()->empty()) << "restoring nothing empties the clipboard";

  clipboard.copy(kRich);
  EXPECT_EQ(items(restore({{"name", "never stored"}})), 0);
  EXPECT_TRUE(clipboard.generalItems()->empty());

  // An owner whose types all failed still counts as one (empty) item.
  clipboard.copy({{}, {{"", "typeless"}}});
  EXPECT_EQ(items(snapshot({{"name", "hollow"}})), 2);
  EXPECT_EQ(items(restore({{"name", "hollow"}})), 2);
  EXPECT_EQ(clipboard.generalItems(), (std::vector<PasteboardItem>{{}, {}}));
}

TEST_F(PasteboardTest, TwoNamesAreKeptApart) {
  clipboard.copy({{{"UTF8_STRING", "first"}}});
  EXPECT_EQ(items(snapshot({{"name", "a"}})), 1);
  clipboard.copy(kRich);
  EXPECT_EQ(items(snapshot({{"name", "b"}})), 1);

  EXPECT_EQ(items(restore({{"name", "a"}})), 1);
  EXPECT_EQ(clipboard.generalItems(), (std::vector<PasteboardItem>{{{"UTF8_STRING", "first"}}}));
  EXPECT_EQ(items(restore({{"name", "b"}})), 1);
  EXPECT_EQ(clipboard.generalItems(), kRich);
}

TEST_F(PasteboardTest, MissingNameIsCodeTwoForSnapshotAndThreeForRestore) {
  for (const Json& params : {Json::object(), Json{{"name", 5}}, Json{{"name", ""}},
                             Json{{"name", nullptr}}}) {
    Outcome s = snapshot(params);
    Outcome r = restore(params);
    ASSERT_FALSE(s.ok());
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(s.error().code, 2);
    EXPECT_EQ(r.error().code, 3);
    EXPECT_EQ(s.error().message, "Missing pasteboard name");
    EXPECT_EQ(r.error().message, "Missing pasteboard name");
  }
}

TEST_F(PasteboardTest, HostileNamesStayInsideTheDirectoryOrAreRefused) {
  const std::vector<std::string> names = {
      "../x", "/etc/passwd", "..", ".", "a/../../b", std::string("nul\0byte", 8),
      std::string("\0", 1), "\xff\xfe not utf-8 \xc3", "~", "-rf", std::string(180, 'n')};
  int stored = 0;
  for (const std::string& name : names) {
    SCOPED_TRACE(testing::PrintToString(name));
    const std::optional<std::string> file = pasteboardFileName(name);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->find('/'), std::string::npos);
    EXPECT_NE(file->front(), '.');
    EXPECT_LE(file->size(), 255u);
    const std::vector<PasteboardItem> content = {{{"UTF8_STRING", name}}};
    ASSERT_EQ(writeNamedPasteboard(directory, name, content), "");
    ++stored;
    for (const fs::path& f : allFiles()) EXPECT_EQ(f.parent_path(), directory);
    EXPECT_EQ(allFiles().size(), size_t(stored));
  }
  // Each name reads back its own content: no two names share a file.
  for (const std::string& name : names) {
    NamedPasteboardRead read = readNamedPasteboard(directory, name);
    EXPECT_TRUE(read.found);
    EXPECT_EQ(read.items, (std::vector<PasteboardItem>{{{"UTF8_STRING", name}}}));
  }

  // Too long for a file name: refused plainly, nothing written.
  clipboard.copy(kRich);
  const std::string longName(10'000, 'x');
  EXPECT_FALSE(pasteboardFileName(longName));
  EXPECT_FALSE(pasteboardFileName(std::string(kMaxPasteboardNameBytes + 1, 'x')));
  Outcome s = snapshot({{"name", longName}});
  Outcome r = restore({{"name", longName}});
  ASSERT_FALSE(s.ok());
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(s.error().code, 2);
  EXPECT_EQ(r.error().code, 3);
  EXPECT_NE(s.error().message.find("too long"), std::string::npos);
  EXPECT_EQ(clipboard.generalItems(), kRich);
  EXPECT_EQ(allFiles().size(), names.size());
}

TEST_F(PasteboardTest, FilesArePrivateAndALinkedDirectoryIsRefused) {
  ASSERT_EQ(writeNamedPasteboard(directory, "p", kRich), "");
  struct stat st {};
  ASSERT_EQ(stat(directory.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_EQ(stat(directory.parent_path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_EQ(stat((directory / *pasteboardFileName("p")).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // A directory planted as a link to somewhere else is not written through.
  const fs::path elsewhere = root / "elsewhere";
  fs::create_directory(elsewhere);
  const fs::path linked = root / "linked";
  fs::create_directory_symlink(elsewhere, linked);
  EXPECT_NE(writeNamedPasteboard(linked, "p", kRich), "");
  EXPECT_TRUE(fs::is_empty(elsewhere));
}

TEST_F(PasteboardTest, FailedRestoreKeepsTheStoredCopyAndSaysSo) {
  clipboard.copy(kRich);
  EXPECT_EQ(items(snapshot({{"name", "keep"}})), 1);
  clipboard.copy({{{"UTF8_STRING", "other"}}});
  clipboard.refuseWrites(true);
  Outcome failed = restore({{"name", "keep"}});
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.error().code, 3);
  EXPECT_NE(failed.error().message.find("kept"), std::string::npos);
  clipboard.refuseWrites(false);
  EXPECT_EQ(items(restore({{"name", "keep"}})), 1);
  EXPECT_EQ(clipboard.generalItems(), kRich);

  // A damaged file is reported, and left for the user to recover, not discarded.
  ASSERT_EQ(writeNamedPasteboard(directory, "damaged", kRich), "");
  const fs::path file = directory / *pasteboardFileName("damaged");
  fs::resize_file(file, fs::file_size(file) - 3);
  Outcome damaged = restore({{"name", "damaged"}});
  ASSERT_FALSE(damaged.ok());
  EXPECT_EQ(damaged.error().code, 3);
  EXPECT_TRUE(fs::exists(file));
  EXPECT_EQ(clipboard.generalItems(), kRich);

  // A clipboard that cannot be read (the display gone) stores nothing over the kept copy.
  FakePasteboard lost{Json{{"unreachable", true}}};
  Outcome unread = pasteboardSnapshotMethod({{"name", "keep2"}}, lost, directory);
  ASSERT_FALSE(unread.ok());
  EXPECT_EQ(unread.error().code, 2);
  EXPECT_EQ(items(snapshot({{"name", "keep2"}})), 1);
  EXPECT_FALSE(pasteboardSnapshotMethod({{"name", "keep2"}}, lost, directory).ok());
  clipboard.copy({});
  EXPECT_EQ(items(restore({{"name", "keep2"}})), 1);
  EXPECT_EQ(clipboard.generalItems(), kRich);
}

TEST_F(PasteboardTest, FileFormatRoundTripsAndRefusesDamagedBytes) {
  const std::vector<PasteboardItem> items = {{}, kRich[0], {{"big", std::string(1 << 20, '\0')}}};
  const std::string bytes = encodePasteboardItems(items);
  EXPECT_EQ(decodePasteboardItems(bytes), items);
  EXPECT_EQ(decodePasteboardItems(encodePasteboardItems({})), std::vector<PasteboardItem>{});
  for (size_t cut : {size_t(0), size_t(5), bytes.size() / 2, bytes.size() - 1}) {
    EXPECT_FALSE(decodePasteboardItems(bytes.substr(0, cut))) << cut;
  }
  EXPECT_FALSE(decodePasteboardItems(bytes + "x"));

  // Through a file: values larger than the reader's buffer between small ones, each exact.
  std::string large(3 << 20, '\0');
  for (size_t i = 0; i < large.size(); ++i) large[i] = char(i * 7 + i / 4099);
  const std::vector<PasteboardItem> mixed = {
      {{"a", "x"}, {"image/png", large}, {"b", ""}, {"c", large.substr(65530, 70000)}}, {}, kRich[0]};
  ASSERT_EQ(writeNamedPasteboard(directory, "mixed", mixed), "");
  EXPECT_EQ(fs::file_size(directory / *pasteboardFileName("mixed")), encodePasteboardItems(mixed).size());
  NamedPasteboardRead read = readNamedPasteboard(directory, "mixed");
  EXPECT_EQ(read.error, "");
  EXPECT_TRUE(read.items == mixed);

  // A size beyond the end of the file is refused as damage, not allocated.
  std::string lying = encodePasteboardItems({{{"t", "abc"}}});
  const uint64_t huge = uint64_t(1) << 60;
  std::memcpy(lying.data() + lying.size() - 3 - sizeof huge, &huge, sizeof huge);
  EXPECT_FALSE(decodePasteboardItems(lying));
  std::ofstream(directory / *pasteboardFileName("lying"), std::ios::binary) << lying;
  read = readNamedPasteboard(directory, "lying");
  EXPECT_TRUE(read.found);
  EXPECT_NE(read.error.find("not a pasteboard file"), std::string::npos);
}

TEST_F(PasteboardTest, ConcurrentRequestsOnDifferentNames) {
  clipboard.copy(kRich);
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      const Json params = {{"name", "n" + std::to_string(t)}};
      for (int i = 0; i < 20; ++i) {
        Outcome s = pasteboardSnapshotMethod(params, clipboard, directory);
        Outcome r = pasteboardRestoreMethod(params, clipboard, directory);
        if (!s.ok() || !r.ok() || r.value()["items"] != 1) ++failures;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(clipboard.generalItems(), kRich);
  EXPECT_TRUE(allFiles().empty());
}

TEST(NamedPasteboardDirectoryTest, FollowsTheRuntimeDirectoryAndFallsBackToTmp) {
  const char* saved = getenv("XDG_RUNTIME_DIR");
  const std::string keep = saved ? saved : "";
  setenv("XDG_RUNTIME_DIR", "/run/user/4242", 1);
  EXPECT_EQ(namedPasteboardDirectory(), fs::path("/run/user/4242/tavren/pasteboards"));
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(namedPasteboardDirectory(),
            fs::path("/tmp/tavren-" + std::to_string(getuid()) + "/pasteboards"));
  if (saved) setenv("XDG_RUNTIME_DIR", keep.c_str(), 1);
}

}  // namespace
}  // namespace tavren
