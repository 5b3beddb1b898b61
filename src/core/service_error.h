#pragma once

#include <string>
#include <utility>
#include <variant>

#include "core/json.h"

namespace tavren {

inline constexpr const char* kComputerUseDomain = "ComputerUse";
inline constexpr const char* kRemoteDisplayDomain = "RemoteDisplay";

// The one error shape of the service. Only the description reaches the host.
struct ServiceError {
  std::string domain = kComputerUseDomain;
  int code = 0;
  std::string message;  // empty: described by domain and code
};

// What goes into a response's "error": the message, or a default text naming domain and code.
std::string errorDescription(const ServiceError& error);

// A handler's answer: a result value or an error. Errors stay values until the response is built.
class Outcome {
 public:
  Outcome(Json value) : state_(std::move(value)) {}
  Outcome(ServiceError error) : state_(std::move(error)) {}
  bool ok() const { return std::holds_alternative<Json>(state_); }
  const Json& value() const { return std::get<Json>(state_); }
  // The value moved out, for the one response that carries it.
  Json takeValue() && { return std::move(std::get<Json>(state_)); }
  const ServiceError& error() const { return std::get<ServiceError>(state_); }

 private:
  std::variant<Json, ServiceError> state_;
};

inline ServiceError computerUseError(int code, std::string message) {
  return ServiceError{kComputerUseDomain, code, std::move(message)};
}

}  // namespace tavren
