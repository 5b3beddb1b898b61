#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "cli/service_process.h"
#include "core/json.h"

namespace tavren::testing {

inline constexpr auto kReplyTimeout = std::chrono::seconds(10);

std::string fixturePath(const std::string& name);
std::string serviceBinary();      // the real service
std::string fakeServiceBinary();  // the service on the in-memory desktop

// Starts a service process; fails the current test when it cannot.
std::unique_ptr<ServiceProcess> startService(const std::vector<std::string>& argv,
                                             const std::map<std::string, std::string>& env = {});

// Sends one request and returns the parsed response (discarded JSON on timeout).
Json call(ServiceProcess& service, const std::string& id, const std::string& method,
          const std::string& paramsJson = "{}");

// Ends the service's input and expects a clean exit: status 0, nothing on standard error, no
// half line on standard output.
void expectQuietExit(ServiceProcess& service);

}  // namespace tavren::testing
