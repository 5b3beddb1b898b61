#include "core/service_error.h"

namespace tavren {

std::string errorDescription(const ServiceError& error) {
  if (!error.message.empty()) return error.message;
  return "The operation couldn't be completed. (" + error.domain + " error " +
         std::to_string(error.code) + ".)";
}

}  // namespace tavren
