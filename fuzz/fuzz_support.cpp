#include "fuzz_support.h"

#include <glib.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

// Input methods pause between the events they post (tens of milliseconds each). Time spent
// there finds nothing, so in the fuzzers short sleeps return at once; long ones (the fuzzer's
// own watchdogs sleep a second at a time) are real.
extern "C" int nanosleep(const struct timespec* request, struct timespec* remaining) {
  if (request != nullptr && request->tv_sec < 1) {
    if (remaining != nullptr) *remaining = {};
    return 0;
  }
  return clock_nanosleep(CLOCK_MONOTONIC, 0, request, remaining) == 0 ? 0 : (errno = EINTR, -1);
}

namespace tavren::fuzz {
namespace {

std::filesystem::path& pasteboardRoot() {
  static std::filesystem::path root;
  return root;
}

}  // namespace

const Json& desktopFixture() {
  static const Json fixture = [] {
    std::ifstream in(TAVREN_FUZZ_FIXTURE);
    return Json::parse(in);
  }();
  return fixture;
}

std::string responseLineProblem(std::string_view line) {
  if (line.find('\n') != std::string_view::npos) return "line feed inside a line";
  Json value = Json::parse(line, nullptr, /*allow_exceptions=*/false);
  if (!value.is_object()) return "not a JSON object";
  auto id = value.find("id");
  if (id == value.end() || !id->is_string()) return "no string id";
  if (value.value("version", Json()) != Json(1)) return "version is not 1";
  auto ok = value.find("ok");
  if (ok == value.end() || !ok->is_boolean()) return "no boolean ok";
  const bool hasResult = value.contains("result");
  const bool hasError = value.contains("error");
  if (ok->get<bool>()) {
    if (!hasResult || hasError) return "ok response without its result";
  } else if (hasResult || !hasError || !value["error"].is_string()) {
    return "failed response without its error text";
  }
  if (value.size() != 4) return "members besides id, version, ok and result or error";
  return "";
}

void fail(const std::string& problem, std::string_view input) {
  std::fprintf(stderr, "FUZZ FAILURE: %s\ninput (%zu bytes): %.*s\n", problem.c_str(),
               input.size(), static_cast<int>(std::min<size_t>(input.size(), 2000)),
               input.data());
  std::abort();
}

void prepareProcess() {
  std::signal(SIGPIPE, SIG_IGN);
  g_log_set_writer_func([](GLogLevelFlags, const GLogField*, gsize,
                           gpointer) { return G_LOG_WRITER_HANDLED; },
                        nullptr, nullptr);
  char dir[] = "/tmp/tavren-fuzz-XXXXXX";
  if (mkdtemp(dir) == nullptr) std::abort();
  pasteboardRoot() = dir;
  setenv("XDG_RUNTIME_DIR", dir, 1);
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(pasteboardRoot(), ignored);
  });
}

void tidyPasteboardStore() {
  static unsigned calls = 0;
  if (++calls % 4096 != 0) return;
  std::error_code ignored;
  std::filesystem::remove_all(pasteboardRoot() / "tavren", ignored);
}

}  // namespace tavren::fuzz
