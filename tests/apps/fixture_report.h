// The report files the fixture applications write: one "name=value" line per field, replaced
// whole on each change. Read by the integration tests and the benches alike.
#pragma once

#include <fstream>
#include <map>
#include <string>

namespace tavren {

// The fields of the report at `path`, by name; none when it cannot be read.
inline std::map<std::string, std::string> readFixtureReport(const std::string& path) {
  std::map<std::string, std::string> out;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    const auto eq = line.find('=');
    if (eq != std::string::npos) out[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return out;
}

}  // namespace tavren
