#include "cli/service_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/json.h"
#include "process/child_spawn.h"

namespace tavren {
namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

}  // namespace

std::unique_ptr<ServiceProcess> ServiceProcess::start(
    const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment,
    std::string* error) {
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    *error = std::string("pipe: ") + std::strerror(errno);
    return nullptr;
  }
  std::map<std::string, std::string> overlay;
  std::vector<std::string> dropped;
  for (const auto& [key, value] : environment) {
    if (value.empty()) {
      dropped.push_back(key);  // an empty value removes the variable
    } else {
      overlay[key] = value;
    }
  }
  SpawnRequest request;
  request.argv = argv;
  request.environment = overlayEnvironment(processEnvironment(), overlay, dropped);
  request.stdinFd = in[0];
  request.stdoutFd = out[1];
  request.stderrFd = err[1];
  pid_t pid = spawnProcess(request, error);
  if (pid < 0) {
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    return nullptr;
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  signal(SIGPIPE, SIG_IGN);  // a service that died must not take the host with it
  auto p = std::unique_ptr<ServiceProcess>(new ServiceProcess());
  p->pid_ = pid;
  p->in_ = in[1];
  p->out_ = out[0];
  p->err_ = err[0];
  fcntl(p->err_, F_SETFL, O_NONBLOCK);
  return p;
}

ServiceProcess::~ServiceProcess() {
  closeInput();
  if (!wait(std::chrono::milliseconds(2000))) {
    kill(pid_, SIGKILL);
    wait(std::chrono::milliseconds(2000));
  }
  if (out_ >= 0) close(out_);
  if (err_ >= 0) close(err_);
}

bool ServiceProcess::send(const std::string& bytes) {
  const char* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = ::write(in_, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

void ServiceProcess::closeInput() {
  if (in_ >= 0) {
    close(in_);
    in_ = -1;
  }
}

void ServiceProcess::closeOutput() {
  if (out_ >= 0) {
    close(out_);
    out_ = -1;
  }
}

std::optional<std::string> ServiceProcess::readLine(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    auto nl = outBuffer_.find('\n');
    if (nl != std::string::npos) {
      std::string line = outBuffer_.substr(0, nl);
      outBuffer_.erase(0, nl + 1);
      return line;
    }
    pollfd pfd{out_, POLLIN, 0};
    int r = poll(&pfd, 1, remainingMs(deadline));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return std::nullopt;
    char chunk[1 << 16];
    ssize_t n = read(out_, chunk, sizeof chunk);
    if (n <= 0) return std::nullopt;
    outBuffer_.append(chunk, static_cast<size_t>(n));
  }
}

std::optional<std::string> ServiceProcess::responseFor(const std::string& id,
                                                       std::chrono::milliseconds timeout) {
  auto isResponse = [&id](const std::string& line) {
    Json v = Json::parse(line, nullptr, false);
    return v.is_object() && v.contains("ok") && v.value("id", "") == id;
  };
  // Responses may come out of order: one read earlier while waiting for another counts too.
  for (auto it = others_.begin(); it != others_.end(); ++it) {
    if (isResponse(*it)) {
      std::string line = *it;
      others_.erase(it);
      return line;
    }
  }
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    auto line = readLine(std::chrono::milliseconds(remainingMs(deadline)));
    if (!line) return std::nullopt;
    if (isResponse(*line)) return line;
    others_.push_back(*line);
  }
}

std::optional<int> ServiceProcess::wait(std::chrono::milliseconds timeout) {
  if (status_) return status_;
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return status_;
    }
    if (r < 0 || Clock::now() >= deadline) return std::nullopt;
    // Sleep until the child exits (its pidfd becomes readable) or the deadline passes; on a
    // kernel without pidfds, fall back to short naps.
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
    if (pidfd >= 0) {
      pollfd pfd{pidfd, POLLIN, 0};
      poll(&pfd, 1, remainingMs(deadline));
      close(pidfd);
    } else {
      usleep(2000);
    }
  }
}

void ServiceProcess::drainErrors() {
  char chunk[4096];
  for (;;) {
    ssize_t n = read(err_, chunk, sizeof chunk);
    if (n <= 0) return;
    errBuffer_.append(chunk, static_cast<size_t>(n));
  }
}

std::string ServiceProcess::errorOutput() {
  drainErrors();
  return errBuffer_;
}

std::string requestLine(const std::string& id, const std::string& method,
                        const std::string& paramsJson) {
  Json params = Json::parse(paramsJson, nullptr, false);
  if (params.is_discarded()) params = Json::object();
  return compactJson(Json{{"id", id}, {"version", 1}, {"method", method}, {"params", params}}) +
         "\n";
}

}  // namespace tavren
