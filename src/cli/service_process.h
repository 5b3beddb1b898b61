#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavren {

// A service started as a child process, spoken to over pipes the way a host does.
class ServiceProcess {
 public:
  // Starts argv[0] with stdin, stdout and stderr on pipes. `environment` is overlaid on ours.
  // On failure returns nullptr and sets *error.
  static std::unique_ptr<ServiceProcess> start(const std::vector<std::string>& argv,
                                               const std::map<std::string, std::string>& environment,
                                               std::string* error);
  ~ServiceProcess();  // closes stdin, waits briefly, then kills

  pid_t pid() const { return pid_; }

  // Writes bytes to the service's standard input as they are (add the line feed yourself).
  bool send(const std::string& bytes);
  void closeInput();
  // Stops reading the service's standard output, as a host that goes away does.
  void closeOutput();

  // The next whole output line, or none when the timeout passes or output ends first.
  std::optional<std::string> readLine(std::chrono::milliseconds timeout);
  // The response with this id, read now or set aside earlier; other lines read meanwhile are
  // kept for otherLines() and later calls. None on timeout.
  std::optional<std::string> responseFor(const std::string& id, std::chrono::milliseconds timeout);
  const std::vector<std::string>& otherLines() const { return others_; }

  // Waits for the process to end; its exit status, or none on timeout (the process is left).
  std::optional<int> wait(std::chrono::milliseconds timeout);
  // Everything the service wrote to standard error so far (drained without blocking).
  std::string errorOutput();
  // Bytes of standard output after the last whole line (should stay empty).
  const std::string& partialOutput() const { return outBuffer_; }

 private:
  ServiceProcess() = default;
  void drainErrors();

  pid_t pid_ = -1;
  int in_ = -1, out_ = -1, err_ = -1;
  std::string outBuffer_;
  std::string errBuffer_;
  std::vector<std::string> others_;
  std::optional<int> status_;
};

// A request line for `method` with `paramsJson` (a JSON text) and the given id.
std::string requestLine(const std::string& id, const std::string& method,
                        const std::string& paramsJson = "{}");

}  // namespace tavren
