// Remote desktop input beside xdotool on the same desktop in the same run: typing 1,000
// characters (a third of them outside the keymap: ä, ß, 東, 京, 🙂) into our GTK entry
// fixture, exactness read back from what the entry received and from its accessible text; the
// request round trip of a pointer move and of a key (answered once the X server has taken the
// event in); the time from a request line to its press seen by a RECORD client, for keys and
// buttons; and moves and keys per second in bursts against xdotool posting as many in one run.
// Starts its own desktop.

#include <unicode/unistr.h>

#include <condition_variable>
#include <fstream>
#include <mutex>
#include <optional>
#include <iostream>
#include <sstream>
#include <thread>

#include "bench_desktop.h"
#include "cli/service_process.h"
#include "core/json.h"
#include "headless/headless_desktop.h"
#include "platform/linux/input/record_monitor.h"
#include "platform/linux/procfs/proc_stat.h"
#include "platform/linux/x11/x_connection.h"

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

// The text of the first editable text in the application of pid argv[1], read through AT-SPI
// by pyatspi (the service's rows cut values), printed as a JSON string.
constexpr const char* kReadEntryText = R"(
import json, sys
import pyatspi
pid = int(sys.argv[1])
def entries(acc):
    if acc.getRole() in (pyatspi.ROLE_ENTRY, pyatspi.ROLE_TEXT):
        yield acc
    for child in acc:
        if child is not None:
            yield from entries(child)
for app in pyatspi.Registry.getDesktop(0):
    if app is not None and app.get_process_id() == pid:
        for entry in entries(app):
            print(json.dumps(entry.queryText().getText(0, -1)), flush=True)
            sys.exit(0)
print(json.dumps(""), flush=True)
)";

// The entry's text as its accessible text says it.
std::string accessibleText(const headless::HeadlessDesktop& desktop, pid_t pid) {
  const std::string script = "/tmp/tavren-bench-read-entry-" + std::to_string(getpid()) + ".py";
  std::ofstream(script) << kReadEntryText;
  std::string error;
  auto reader = ServiceProcess::start({"/usr/bin/python3", script, std::to_string(pid)},
                                      desktop.environment(), &error);
  if (!reader) fail(error);
  auto line = reader->readLine(30s);
  std::remove(script.c_str());
  if (!line) fail("pyatspi read no text: " + reader->errorOutput());
  return Json::parse(*line).get<std::string>();
}

// Presses seen by a RECORD client, each with the time it arrived.
class PressClock {
 public:
  explicit PressClock(const std::string& display)
      : x_(x11::XConnection::open(display)), monitor_(x_.get()) {
    observation_ = monitor_.observe([this](const ObservedInput&) {
      std::lock_guard lock(mutex_);
      ++presses_;
      last_ = Clock::now();
      seen_.notify_all();
    });
    if (!observation_) fail("RECORD is not available");
  }
  // The arrival of the next press after `before` presses, or nothing within 5 s.
  std::optional<Clock::time_point> next(int before) {
    std::unique_lock lock(mutex_);
    if (!seen_.wait_for(lock, 5s, [&] { return presses_ > before; })) return std::nullopt;
    return last_;
  }
  int presses() {
    std::lock_guard lock(mutex_);
    return presses_;
  }

 private:
  std::unique_ptr<x11::XConnection> x_;
  input::RecordMonitor monitor_;
  std::mutex mutex_;
  std::condition_variable seen_;
  int presses_ = 0;
  Clock::time_point last_;
  std::unique_ptr<InputObservation> observation_;
};

// Microseconds from writing a press's request line to RECORD seeing the press.
double pressSeenUs(ServiceProcess& service, PressClock& record, const Json& params) {
  const int before = record.presses();
  const std::string id = std::to_string(++serial);
  const auto t0 = Clock::now();
  service.send(requestLine(id, "remoteDesktopInput", params.dump()));
  auto seen = record.next(before);
  auto response = service.responseFor(id, 10s);
  if (!response) fail("no answer to remoteDesktopInput");
  if (!seen) fail("RECORD saw no press for " + params.dump() + ": " + *response);
  return micros(*seen - t0);
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
    out["serviceTypeWrongCharactersAccessible"] =
        editDistance(codePoints(text), codePoints(accessibleText(*desktop, t.pid)));
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
    out["xdotoolTypeWrongCharactersAccessible"] =
        editDistance(codePoints(text), codePoints(accessibleText(*desktop, t.pid)));
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

  // From the request line to the press seen by a RECORD client: F12 (RECORD clients take
  // modifiers as state, not as presses), and the primary button over the bare desktop, each
  // released before the next press.
  {
    PressClock record(desktop->display());
    std::vector<double> keyPresses, buttonPresses;
    for (int i = 0; i < 500; ++i) {
      keyPresses.push_back(pressSeenUs(*service, record,
                                       {{"type", "key"}, {"keyCode", 111}, {"down", true}}));
      remote(*service, {{"type", "key"}, {"keyCode", 111}, {"down", false}});
      buttonPresses.push_back(pressSeenUs(
          *service, record, {{"type", "pointer"}, {"phase", "down"}, {"x", 20}, {"y", 20}}));
      remote(*service, {{"type", "pointer"}, {"phase", "up"}, {"x", 20}, {"y", 20}});
    }
    out.update(quantileFigures("keyPressSeenUs", keyPresses, 99));
    out.update(quantileFigures("buttonPressSeenUs", buttonPresses, 99));
  }

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

  // Bursts of 2,000 key events (Shift down and up), against one xdotool run of as many.
  burst.clear();
  for (int i = 0; i < kBurst; ++i) {
    Json params = {{"type", "key"}, {"keyCode", 56}, {"down", i % 2 == 0}};
    burst += tavren::requestLine("k" + std::to_string(i), "remoteDesktopInput", params.dump());
  }
  t0 = Clock::now();
  service->send(burst);
  if (!service->responseFor("k" + std::to_string(kBurst - 1), 60s)) fail("key burst unanswered");
  out["serviceKeysPerSecond"] = kBurst / (micros(Clock::now() - t0) / 1e6);
  xdotool = {"xdotool"};
  for (int i = 0; i < kBurst / 2; ++i) {
    for (const char* word : {"keydown", "--delay", "0", "shift", "keyup", "--delay", "0", "shift"}) {
      xdotool.push_back(word);
    }
  }
  t0 = Clock::now();
  if (!runToEnd(xdotool, env)) fail("xdotool keydown/keyup failed");
  out["xdotoolKeysPerSecond"] = kBurst / (micros(Clock::now() - t0) / 1e6);

  std::cout << out.dump(2) << "\n";
  service->closeInput();
  service->wait(5s);
  desktop->stop();
}
