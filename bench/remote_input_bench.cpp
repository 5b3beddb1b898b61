// Remote desktop input beside xdotool on the same desktop in the same run: typing 1,000
// characters (a third of them outside the keymap: ä, ß, 東, 京, 🙂) into our GTK entry
// fixture, exactness read back from what the entry received; the request round trip of a pointer
// move and of a key (answered once the X server has taken the event in); and pointer moves per
// second in a burst against xdotool moving the pointer as many times in one run. Starts its own
// desktop.

#include <unicode/unistr.h>

#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include "bench_desktop.h"
#include "cli/service_process.h"
#include "core/json.h"
#include "headless/headless_desktop.h"
#include "platform/linux/procfs/proc_stat.h"

namespace tavren::bench {
namespace {

using namespace std::chrono_literals;

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::u32string codePoints(const std::string& utf8) {
  icu::UnicodeString s = icu::UnicodeString::fromUTF8(utf8);
  std::u32string out(static_cast<size_t>(s.countChar32()), U'\0');
  UErrorCode status = U_ZERO_ERROR;
  s.toUTF32(reinterpret_cast<UChar32*>(out.data()), static_cast<int32_t>(out.size()), status);
  return out;
}

// Characters lost, added or changed: the edit distance between what was meant and what came.
size_t editDistance(const std::u32string& a, const std::u32string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1] ? 1 : 0)});
      diagonal = up;
    }
  }
  return row[b.size()];
}

// 1,000 characters: ASCII words with every third character one of the five the keymap lacks.
std::string benchText() {
  const char* odd[] = {"ä", "ß", "東", "京", "🙂"};
  const std::string ascii = "The quick brown fox jumps over the lazy dog 0123456789 ";
  std::string text;
  for (int i = 0, a = 0, o = 0; i < 1000; ++i) {
    if (i % 3 == 2) {
      text += odd[o++ % 5];
    } else {
      text += ascii[a++ % ascii.size()];
    }
  }
  return text;
}

struct Target {
  pid_t pid = -1;
  std::string prefix;
};

Target openTarget(headless::HeadlessDesktop& desktop, const std::string& name) {
  Target t;
  t.prefix = "/tmp/tavren-bench-" + std::to_string(getpid()) + "-" + name;
  std::string error;
  t.pid = desktop.launch({sibling("tavren-fixture-typing-target"), "--out", t.prefix}, &error);
  if (t.pid <= 0) fail(error);
  const auto deadline = Clock::now() + 30s;
  while (readFile(t.prefix + ".where").empty()) {  // written once placed and focused
    if (Clock::now() > deadline) fail("the typing target did not show");
    std::this_thread::sleep_for(20ms);
  }
  return t;
}

// Seconds until the entry holds `text` (or stops changing for 2 s), and the characters wrong.
std::pair<double, size_t> awaitText(const Target& t, const std::string& text,
                                    Clock::time_point t0) {
  std::string last = readFile(t.prefix + ".text");
  auto changed = Clock::now();
  while (last != text && Clock::now() - changed < 2s) {
    std::this_thread::sleep_for(5ms);
    std::string now = readFile(t.prefix + ".text");
    if (now != last) changed = Clock::now();
    last = now;
  }
  const auto end = last == text ? Clock::now() : changed;
  return {micros(end - t0) / 1e6, editDistance(codePoints(text), codePoints(last))};
}

// CPU seconds a process has used so far (user and system).
double cpuSeconds(pid_t pid) {
  const auto entry = procfs::readProcStat(pid);
  return entry ? static_cast<double>(entry->cpuTicks) / static_cast<double>(sysconf(_SC_CLK_TCK))
               : 0;
}

// Seconds a process has been ready to run but waited for a processor (/proc/PID/schedstat): on
// a shared machine, the part of the typing time no typist controls.
double runQueueSeconds(pid_t pid) {
  std::istringstream in(readFile("/proc/" + std::to_string(pid) + "/schedstat"));
  uint64_t onCpu = 0, waiting = 0;
  in >> onCpu >> waiting;
  return static_cast<double>(waiting) / 1e9;
}

int serial = 0;
Json remote(ServiceProcess& service, const Json& params) {
  const std::string id = std::to_string(++serial);
  service.send(requestLine(id, "remoteDesktopInput", params.dump()));
  auto line = service.responseFor(id, 60s);
  if (!line) fail("no answer to remoteDesktopInput");
  Json response = Json::parse(*line);
  if (!response.value("ok", false)) fail("remoteDesktopInput failed: " + *line);
  return response;
}

}  // namespace
}  // namespace tavren::bench

int main() {
  using namespace tavren::bench;
  using tavren::Json;
  auto desktop = startDesktop();
  auto service = startService(*desktop);
  const std::vector<std::string> env = desktop->childEnvironment();
  Json out = {{"bench", "remote-input"}};

  // Typing, service first, then xdotool into a fresh entry.
  const std::string text = benchText();
  out["textCharacters"] = codePoints(text).size();
  {
    Target t = openTarget(*desktop, "service");
    const double cpu = cpuSeconds(t.pid);
    const double queued = runQueueSeconds(t.pid);
    const auto t0 = Clock::now();
    remote(*service, {{"type", "text"}, {"text", text}});
    out["serviceTypeAnsweredS"] = micros(Clock::now() - t0) / 1e6;
    auto [seconds, wrong] = awaitText(t, text, t0);
    out["serviceTypeS"] = seconds;
    out["serviceTypeWrongCharacters"] = wrong;
    // What the entry itself spent taking the characters in: the floor under any typist.
    out["serviceTypeApplicationCpuS"] = cpuSeconds(t.pid) - cpu;
    out["serviceTypeApplicationRunQueueS"] = runQueueSeconds(t.pid) - queued;
    kill(t.pid, SIGTERM);
  }
  {
    Target t = openTarget(*desktop, "xdotool");
    const double cpu = cpuSeconds(t.pid);
    const double queued = runQueueSeconds(t.pid);
    const auto t0 = Clock::now();
    if (!runToEnd({"xdotool", "type", text}, env)) fail("xdotool type failed");
    auto [seconds, wrong] = awaitText(t, text, t0);
    out["xdotoolTypeS"] = seconds;
    out["xdotoolTypeWrongCharacters"] = wrong;
    out["xdotoolTypeApplicationCpuS"] = cpuSeconds(t.pid) - cpu;
    out["xdotoolTypeApplicationRunQueueS"] = runQueueSeconds(t.pid) - queued;
    kill(t.pid, SIGTERM);
  }
  out["xdotoolOverServiceType"] =
      out["xdotoolTypeS"].get<double>() / out["serviceTypeS"].get<double>();
  out["xdotoolOverServiceTypeAnswered"] =
      out["xdotoolTypeS"].get<double>() / out["serviceTypeAnsweredS"].get<double>();

  // Round trips, one request at a time: a pointer move, and a key (Shift, which types nothing).
  std::vector<double> moves, keys;
  for (int i = 0; i < 1000; ++i) {
    auto t0 = Clock::now();
    remote(*service, {{"type", "pointer"}, {"phase", "move"}, {"x", 300 + i % 200}, {"y", 300}});
    moves.push_back(micros(Clock::now() - t0));
    t0 = Clock::now();
    remote(*service, {{"type", "key"}, {"keyCode", 56}, {"down", i % 2 == 0}});
    keys.push_back(micros(Clock::now() - t0));
  }
  out.update(quantileFigures("pointerMoveRoundTripUs", moves, 99));
  out.update(quantileFigures("keyRoundTripUs", keys, 99));

  // Bursts of 2,000 pointer moves: all requests written at once, against one xdotool run.
  constexpr int kBurst = 2000;
  std::string burst;
  for (int i = 0; i < kBurst; ++i) {
    Json params = {{"type", "pointer"}, {"phase", "move"}, {"x", 100 + i % 500}, {"y", 400}};
    burst += tavren::requestLine("b" + std::to_string(i), "remoteDesktopInput", params.dump());
  }
  auto t0 = Clock::now();
  service->send(burst);
  if (!service->responseFor("b" + std::to_string(kBurst - 1), 60s)) fail("burst unanswered");
  out["serviceMovesPerSecond"] = kBurst / (micros(Clock::now() - t0) / 1e6);
  std::vector<std::string> xdotool = {"xdotool"};
  for (int i = 0; i < kBurst; ++i) {
    for (std::string word :
         {std::string("mousemove"), std::to_string(100 + i % 500), std::string("400")}) {
      xdotool.push_back(word);
    }
  }
  t0 = Clock::now();
  if (!runToEnd(xdotool, env)) fail("xdotool mousemove failed");
  out["xdotoolMovesPerSecond"] = kBurst / (micros(Clock::now() - t0) / 1e6);

  std::cout << out.dump(2) << "\n";
  service->closeInput();
  service->wait(5s);
  desktop->stop();
}
