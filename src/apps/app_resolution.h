#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/json.h"
#include "core/service_error.h"
#include "platform/workspace.h"

namespace tavren {

// How the host may name an application, reduced to four strings per running application.
struct AppIdentityRecord {
  std::string id;    // application id, or empty (never the name)
  std::string name;  // the name a user sees, or empty
  std::string path;  // install location, or empty
  bool regular = false;
};

AppIdentityRecord identityRecord(const AppInfo& app);

// Indexes of the records that the query names, in list order.
std::vector<size_t> matchingAppIdentityIndexes(std::string_view query,
                                               const std::vector<AppIdentityRecord>& records);
// Narrows several candidates to the ordinary applications with an id, when there are any.
std::vector<size_t> primaryAppIdentityIndexes(const std::vector<size_t>& indexes,
                                              const std::vector<AppIdentityRecord>& records);
// True when `executable` lies inside `bundlePath` (a path prefix followed by '/').
bool appOwnsExecutablePath(std::string_view bundlePath, std::string_view executable);

// "COMPUTER_APP_IDENTITY_AMBIGUOUS: ..." naming every candidate.
ServiceError ambiguousAppError(std::string_view query, const std::vector<AppInfo>& candidates);

// The one running application that "app" and "pid" name; none when nothing fits; the ambiguity
// error when a query without a pid fits several. A pid that does not fit 32 bits is refused.
using AppResolution = std::variant<std::optional<AppInfo>, ServiceError>;
AppResolution appFromParams(const Json& params, Workspace& workspace);

}  // namespace tavren
