// tavren: the command line for people. Starts the service, sends it requests, prints answers.
//
//   tavren call METHOD ['{"json":"params"}'] [--service PATH] [--timeout SECONDS]
//   tavren demo [--out DIR]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "cli/demo.h"
#include "cli/service_process.h"
#include "core/json.h"

namespace {

using namespace std::chrono_literals;

int usage() {
  std::cerr << "usage:\n"
               "  tavren call METHOD ['{\"json\":\"params\"}'] [--service PATH] [--timeout SECONDS]\n"
               "  tavren demo [--out DIR]\n";
  return 2;
}

std::string siblingService() {
  std::error_code ec;
  auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return (self.parent_path() / "tavren-service").string();
}

int callCommand(const std::vector<std::string>& args) {
  std::string method, params = "{}", service = siblingService();
  int timeout = 30;
  bool haveParams = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--service" && i + 1 < args.size()) {
      service = args[++i];
    } else if (args[i] == "--timeout" && i + 1 < args.size()) {
      timeout = std::atoi(args[++i].c_str());
    } else if (method.empty()) {
      method = args[i];
    } else if (!haveParams) {
      params = args[i];
      haveParams = true;
    } else {
      return usage();
    }
  }
  if (method.empty()) return usage();
  tavren::Json parsed = tavren::Json::parse(params, nullptr, false);
  if (!parsed.is_object()) {
    std::cerr << "tavren: params must be a JSON object, got: " << params << "\n";
    return 2;
  }
  std::string error;
  auto process = tavren::ServiceProcess::start({service}, {}, &error);
  if (!process) {
    std::cerr << "tavren: cannot start " << service << ": " << error << "\n";
    return 1;
  }
  process->send(tavren::requestLine("1", method, params));
  auto line = process->responseFor("1", std::chrono::seconds(timeout));
  if (!line) {
    std::cerr << "tavren: no answer from the service within " << timeout << " s\n";
    return 1;
  }
  tavren::Json response = tavren::Json::parse(*line, nullptr, false);
  std::cout << response.dump(2, ' ', false, tavren::Json::error_handler_t::replace) << "\n";
  std::string stderrText = process->errorOutput();
  if (!stderrText.empty()) std::cerr << stderrText;
  return response.value("ok", false) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return usage();
  const std::string command = args.front();
  args.erase(args.begin());
  if (command == "call") return callCommand(args);
  if (command == "demo") {
    std::string out = ".";
    for (size_t i = 0; i < args.size(); ++i) {
      if (args[i] == "--out" && i + 1 < args.size()) {
        out = args[++i];
      } else {
        return usage();
      }
    }
    return tavren::runDemo(siblingService(), out);
  }
  return usage();
}
