#include "core/params.h"

namespace tavren {
namespace {

const Json* member(const Json& params, std::string_view key) {
  if (!params.is_object()) return nullptr;
  auto it = params.find(key);
  return it == params.end() ? nullptr : &*it;
}

}  // namespace

double number(const Json& params, std::string_view key) {
  const Json* v = member(params, key);
  if (v == nullptr) return 0;
  if (v->is_boolean()) return v->get<bool>() ? 1 : 0;
  if (v->is_number()) return v->get<double>();
  return 0;
}

std::optional<std::string> stringParam(const Json& params, std::string_view key) {
  const Json* v = member(params, key);
  if (v == nullptr || !v->is_string()) return std::nullopt;
  return v->get<std::string>();
}

std::optional<bool> boolParam(const Json& params, std::string_view key) {
  const Json* v = member(params, key);
  if (v == nullptr) return std::nullopt;
  if (v->is_boolean()) return v->get<bool>();
  if (v->is_number()) {
    const double d = v->get<double>();
    if (d == 1) return true;
    if (d == 0) return false;
  }
  return std::nullopt;
}

const Json* objectParam(const Json& params, std::string_view key) {
  const Json* v = member(params, key);
  return v != nullptr && v->is_object() ? v : nullptr;
}

const Json* arrayParam(const Json& params, std::string_view key) {
  const Json* v = member(params, key);
  return v != nullptr && v->is_array() ? v : nullptr;
}

}  // namespace tavren
