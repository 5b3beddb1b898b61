#include "pasteboard/named_pasteboards.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace tavren {
namespace {

constexpr std::string_view kMagic = "tavren-pasteboard 1\n";
constexpr std::string_view kSuffix = ".pasteboard";

std::string systemError(const std::string& what, int err) {
  return what + ": " + std::strerror(err);
}

template <class T>
void putNumber(std::string& out, T value) {
  char bytes[sizeof(T)];
  std::memcpy(bytes, &value, sizeof(T));
  out.append(bytes, sizeof(T));
}

// Reads a number or a byte string from the front of `in`, consuming it; false past the end.
template <class T>
bool takeNumber(std::string_view& in, T* value) {
  if (in.size() < sizeof(T)) return false;
  std::memcpy(value, in.data(), sizeof(T));
  in.remove_prefix(sizeof(T));
  return true;
}

bool takeBytes(std::string_view& in, uint64_t size, std::string* out) {
  if (in.size() < size) return false;
  out->assign(in.data(), size);
  in.remove_prefix(size);
  return true;
}

// Makes `path` a directory private to this user: created 0700 when missing; an existing one must
// be a real directory (not a link) owned by us, and loses group and other access.
std::string ensurePrivateDirectory(const std::filesystem::path& path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    return systemError("cannot create " + path.string(), errno);
  }
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return systemError("cannot inspect " + path.string(), errno);
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) {
    return path.string() + " is not a directory of this user";
  }
  if ((st.st_mode & 077) != 0 && ::chmod(path.c_str(), 0700) != 0) {
    return systemError("cannot make " + path.string() + " private", errno);
  }
  return {};
}

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(size_t(n));
  }
  return true;
}

}  // namespace

std::filesystem::path namedPasteboardDirectory() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') {
    return std::filesystem::path(runtime) / "tavren" / "pasteboards";
  }
  return std::filesystem::path("/tmp") / ("tavren-" + std::to_string(::getuid())) / "pasteboards";
}

std::optional<std::string> pasteboardFileName(std::string_view name) {
  if (name.empty() || name.size() > kMaxPasteboardNameBytes) return std::nullopt;
  gchar* encoded = g_base64_encode(reinterpret_cast<const guchar*>(name.data()), name.size());
  std::string file(encoded);
  g_free(encoded);
  // base64url: no '/' can appear, and the name never starts with a dot.
  for (char& c : file) {
    if (c == '+') c = '-';
    if (c == '/') c = '_';
  }
  while (!file.empty() && file.back() == '=') file.pop_back();
  return "p" + file + std::string(kSuffix);
}

std::string encodePasteboardItems(const std::vector<PasteboardItem>& items) {
  size_t total = kMagic.size() + 4;
  for (const auto& item : items) {
    total += 4;
    for (const auto& r : item) total += 12 + r.type.size() + r.data.size();
  }
  std::string out;
  out.reserve(total);
  out.append(kMagic);
  putNumber<uint32_t>(out, uint32_t(items.size()));
  for (const auto& item : items) {
    putNumber<uint32_t>(out, uint32_t(item.size()));
    for (const auto& r : item) {
      putNumber<uint32_t>(out, uint32_t(r.type.size()));
      out.append(r.type);
      putNumber<uint64_t>(out, uint64_t(r.data.size()));
      out.append(r.data);
    }
  }
  return out;
}

std::optional<std::vector<PasteboardItem>> decodePasteboardItems(std::string_view in) {
  if (in.substr(0, kMagic.size()) != kMagic) return std::nullopt;
  in.remove_prefix(kMagic.size());
  uint32_t itemCount = 0;
  if (!takeNumber(in, &itemCount)) return std::nullopt;
  std::vector<PasteboardItem> items;
  for (uint32_t i = 0; i < itemCount; ++i) {
    uint32_t reps = 0;
    if (!takeNumber(in, &reps)) return std::nullopt;
    PasteboardItem item;
    for (uint32_t k = 0; k < reps; ++k) {
      uint32_t typeSize = 0;
      uint64_t dataSize = 0;
      PasteboardRepresentation r;
      if (!takeNumber(in, &typeSize) || !takeBytes(in, typeSize, &r.type) ||
          !takeNumber(in, &dataSize) || !takeBytes(in, dataSize, &r.data)) {
        return std::nullopt;
      }
      item.push_back(std::move(r));
    }
    items.push_back(std::move(item));
  }
  if (!in.empty()) return std::nullopt;
  return items;
}

std::string writeNamedPasteboard(const std::filesystem::path& directory, std::string_view name,
                                 const std::vector<PasteboardItem>& items) {
  const std::optional<std::string> file = pasteboardFileName(name);
  if (!file) return "invalid pasteboard name";
  if (directory.has_parent_path()) {
    if (std::string e = ensurePrivateDirectory(directory.parent_path()); !e.empty()) return e;
  }
  if (std::string e = ensurePrivateDirectory(directory); !e.empty()) return e;

  std::string temp = (directory / ".partial-XXXXXX").string();
  int fd = ::mkostemp(temp.data(), O_CLOEXEC);  // mode 0600
  if (fd < 0) return systemError("cannot create a file in " + directory.string(), errno);
  const bool written = writeAll(fd, encodePasteboardItems(items));
  const int writeErrno = errno;
  const bool closed = ::close(fd) == 0;
  if (!written || !closed) {
    ::unlink(temp.c_str());
    return systemError("cannot write " + temp, written ? errno : writeErrno);
  }
  const std::filesystem::path target = directory / *file;
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    return systemError("cannot store " + target.string(), err);
  }
  return {};
}

NamedPasteboardRead readNamedPasteboard(const std::filesystem::path& directory,
                                        std::string_view name) {
  NamedPasteboardRead read;
  const std::optional<std::string> file = pasteboardFileName(name);
  if (!file) return read;
  const std::filesystem::path path = directory / *file;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    if (errno != ENOENT) {
      read.found = true;
      read.error = systemError("cannot open " + path.string(), errno);
    }
    return read;
  }
  read.found = true;
  std::string bytes;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && st.st_size > 0) bytes.reserve(size_t(st.st_size));
  char buffer[1 << 16];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      read.error = systemError("cannot read " + path.string(), errno);
      ::close(fd);
      return read;
    }
    if (n == 0) break;
    bytes.append(buffer, size_t(n));
  }
  ::close(fd);
  if (auto items = decodePasteboardItems(bytes)) {
    read.items = std::move(*items);
  } else {
    read.error = path.string() + " is not a pasteboard file";
  }
  return read;
}

void removeNamedPasteboard(const std::filesystem::path& directory, std::string_view name) {
  if (const std::optional<std::string> file = pasteboardFileName(name)) {
    ::unlink((directory / *file).c_str());
  }
}

}  // namespace tavren
