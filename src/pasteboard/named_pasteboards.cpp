#include "pasteboard/named_pasteboards.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
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

// A file's bytes in order, as pieces: the framing (header, counts, sizes, type names) is written
// into `framing`, reserved up front so that the pieces stay valid; the data is referenced where
// it lies, so that large values are never copied on their way to the file.
std::vector<std::string_view> filePieces(const std::vector<PasteboardItem>& items,
                                         std::string& framing) {
  size_t size = kMagic.size() + 4;
  size_t count = 1;
  for (const auto& item : items) {
    size += 4;
    for (const auto& r : item) size += 12 + r.type.size();
    count += 2 * item.size();
  }
  framing.clear();
  framing.reserve(size);
  std::vector<std::string_view> pieces;
  pieces.reserve(count);
  size_t start = 0;
  auto cut = [&] {
    pieces.emplace_back(framing.data() + start, framing.size() - start);
    start = framing.size();
  };
  framing.append(kMagic);
  putNumber<uint32_t>(framing, uint32_t(items.size()));
  for (const auto& item : items) {
    putNumber<uint32_t>(framing, uint32_t(item.size()));
    for (const auto& r : item) {
      putNumber<uint32_t>(framing, uint32_t(r.type.size()));
      framing.append(r.type);
      putNumber<uint64_t>(framing, uint64_t(r.data.size()));
      cut();
      pieces.emplace_back(r.data);
    }
  }
  cut();
  return pieces;
}

// The bytes of a string, consumed from the front.
class ViewBytes {
 public:
  explicit ViewBytes(std::string_view in) : in_(in) {}
  uint64_t left() const { return in_.size(); }
  bool take(char* out, size_t n) {
    if (n > in_.size()) return false;
    if (n > 0) std::memcpy(out, in_.data(), n);
    in_.remove_prefix(n);
    return true;
  }

 private:
  std::string_view in_;
};

// The bytes of an open file of known size, consumed from the front: small fields come through a
// buffer, large values are read straight into their destination.
class FileBytes {
 public:
  FileBytes(int fd, uint64_t size) : fd_(fd), left_(size) {}
  uint64_t left() const { return left_; }
  // The errno of a failed read; 0 when every read succeeded.
  int error() const { return error_; }
  bool take(char* out, size_t n) {
    if (n > left_) return false;
    const size_t buffered = std::min(n, end_ - pos_);
    if (buffered > 0) std::memcpy(out, buffer_ + pos_, buffered);
    pos_ += buffered;
    left_ -= buffered;
    out += buffered;
    n -= buffered;
    if (n == 0) return true;
    if (n >= sizeof buffer_) {
      if (!readFully(out, n)) return false;
      left_ -= n;
      return true;
    }
    const size_t refill = size_t(std::min<uint64_t>(sizeof buffer_, left_));
    if (!readFully(buffer_, refill)) return false;
    pos_ = 0;
    end_ = refill;
    return take(out, n);
  }

 private:
  bool readFully(char* out, size_t n) {
    while (n > 0) {
      const ssize_t got = ::read(fd_, out, n);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) error_ = errno;
      if (got <= 0) return false;  // an error, or the file shrank
      out += got;
      n -= size_t(got);
    }
    return true;
  }

  int fd_;
  uint64_t left_;
  int error_ = 0;
  char buffer_[1 << 16];
  size_t pos_ = 0;
  size_t end_ = 0;
};

template <class T, class Bytes>
bool takeNumber(Bytes& in, T* value) {
  char bytes[sizeof(T)];
  if (!in.take(bytes, sizeof(T))) return false;
  std::memcpy(value, bytes, sizeof(T));
  return true;
}

// A string of `size` bytes from `in`; refused before any allocation when fewer bytes are left.
template <class Bytes>
bool takeString(Bytes& in, uint64_t size, std::string* out) {
  if (size > in.left()) return false;
  out->resize(size_t(size));
  return in.take(out->data(), size_t(size));
}

template <class Bytes>
std::optional<std::vector<PasteboardItem>> decodeItems(Bytes& in) {
  std::string magic;
  if (!takeString(in, kMagic.size(), &magic) || magic != kMagic) return std::nullopt;
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
      if (!takeNumber(in, &typeSize) || !takeString(in, typeSize, &r.type) ||
          !takeNumber(in, &dataSize) || !takeString(in, dataSize, &r.data)) {
        return std::nullopt;
      }
      item.push_back(std::move(r));
    }
    items.push_back(std::move(item));
  }
  if (in.left() != 0) return std::nullopt;
  return items;
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

bool writeAll(int fd, std::vector<std::string_view> pieces) {
  size_t first = 0;
  while (first < pieces.size()) {
    iovec iov[64];
    int count = 0;
    for (size_t i = first; i < pieces.size() && count < 64; ++i) {
      if (!pieces[i].empty()) {
        iov[count++] = {const_cast<char*>(pieces[i].data()), pieces[i].size()};
      }
    }
    if (count == 0) return true;
    const ssize_t n = ::writev(fd, iov, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    for (size_t done = size_t(n); done > 0;) {
      const size_t step = std::min(done, pieces[first].size());
      pieces[first].remove_prefix(step);
      done -= step;
      if (pieces[first].empty()) ++first;
    }
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
  std::string framing;
  const std::vector<std::string_view> pieces = filePieces(items, framing);
  size_t total = 0;
  for (std::string_view p : pieces) total += p.size();
  std::string out;
  out.reserve(total);
  for (std::string_view p : pieces) out.append(p);
  return out;
}

std::optional<std::vector<PasteboardItem>> decodePasteboardItems(std::string_view bytes) {
  ViewBytes in(bytes);
  return decodeItems(in);
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
  std::string framing;
  const bool written = writeAll(fd, filePieces(items, framing));
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
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    read.error = systemError("cannot inspect " + path.string(), errno);
    ::close(fd);
    return read;
  }
  FileBytes in(fd, uint64_t(st.st_size));
  std::optional<std::vector<PasteboardItem>> items = decodeItems(in);
  ::close(fd);
  if (items) {
    read.items = std::move(*items);
  } else if (in.error() != 0) {
    read.error = systemError("cannot read " + path.string(), in.error());
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
