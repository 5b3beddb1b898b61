#include "apps/app_resolution.h"

#include <unicode/locid.h>
#include <unicode/regex.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <filesystem>

#include "core/params.h"
#include "core/unicode_text.h"

namespace tavren {
namespace {

bool matchesPattern(std::string_view text, const char* pattern, uint32_t flags) {
  UErrorCode status = U_ZERO_ERROR;
  icu::RegexMatcher matcher(icu::UnicodeString::fromUTF8(pattern),
                            icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), text.size())),
                            flags, status);
  if (U_FAILURE(status)) return false;
  bool found = matcher.find(status);
  return U_SUCCESS(status) && found;
}

// The last path component without its extension, lower-cased; /Applications/Safari.app gives
// "safari".
std::string fileStem(std::string_view path) {
  return lowerCased(std::filesystem::path(path).stem().string());
}

bool endsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

}  // namespace

AppIdentityRecord identityRecord(const AppInfo& app) {
  return {app.bundleId, app.name, app.bundlePath, app.regular};
}

std::vector<size_t> primaryAppIdentityIndexes(const std::vector<size_t>& indexes,
                                              const std::vector<AppIdentityRecord>& records) {
  if (indexes.size() < 2) return indexes;
  std::vector<size_t> primary;
  for (size_t i : indexes) {
    if (records[i].regular && !records[i].id.empty()) primary.push_back(i);
  }
  return primary.empty() ? indexes : primary;
}

std::vector<size_t> matchingAppIdentityIndexes(std::string_view rawQuery,
                                               const std::vector<AppIdentityRecord>& records) {
  std::string query = trimmedWhiteSpace(rawQuery);
  if (query.empty()) return {};
  std::vector<size_t> matches;

  if (query.find('/') != std::string::npos) {
    if (query.back() == '/') query.pop_back();
    for (size_t i = 0; i < records.size(); ++i) {
      if (!records[i].path.empty() && records[i].path == query) matches.push_back(i);
    }
    return primaryAppIdentityIndexes(matches, records);
  }

  const std::string lower = lowerCased(query);
  for (size_t i = 0; i < records.size(); ++i) {
    if (!records[i].id.empty() && lowerCased(records[i].id) == lower) matches.push_back(i);
  }
  const bool bundleShaped = matchesPattern(query, "^[A-Za-z0-9_-]+(?:\\.[A-Za-z0-9_-]+)+$", 0);
  const bool fileShaped = matchesPattern(query, "^[^.]+\\.app$", UREGEX_CASE_INSENSITIVE);
  if (bundleShaped && !fileShaped) return matches;
  if (!matches.empty()) return matches;

  std::string stem = lower;
  if (endsWith(stem, ".app")) stem.resize(stem.size() - 4);
  for (size_t i = 0; i < records.size(); ++i) {
    const bool byName = lowerCased(records[i].name) == lower;
    const bool byFile = !records[i].path.empty() && [&] {
      std::string s = fileStem(records[i].path);
      return !s.empty() && s == stem;
    }();
    if (byName || byFile) matches.push_back(i);
  }
  return primaryAppIdentityIndexes(matches, records);
}

bool appOwnsExecutablePath(std::string_view bundlePath, std::string_view executable) {
  if (bundlePath.empty()) return false;
  return executable.size() > bundlePath.size() && executable.substr(0, bundlePath.size()) == bundlePath &&
         executable[bundlePath.size()] == '/';
}

ServiceError ambiguousAppError(std::string_view query, const std::vector<AppInfo>& candidates) {
  std::string message = "COMPUTER_APP_IDENTITY_AMBIGUOUS: " + std::string(query) +
                        ". Choose an exact bundle ID, path or observed PID: ";
  for (size_t i = 0; i < candidates.size(); ++i) {
    if (i > 0) message += "; ";
    message += candidates[i].bundleId + " \xC2\xB7 " + candidates[i].bundlePath +
               " \xC2\xB7 pid=" + std::to_string(candidates[i].pid);
  }
  return computerUseError(28, std::move(message));
}

AppResolution appFromParams(const Json& params, Workspace& workspace) {
  const std::string query = trimmedWhiteSpace(stringParam(params, "app").value_or(""));
  const auto pid = truncatedInteger<int32_t>(number(params, "pid"));
  if (!pid) {
    return computerUseError(
        28, "INVALID_PARAMETER: pid must be a whole number from -2147483648 to 2147483647");
  }
  auto recordsOf = [](const std::vector<AppInfo>& apps) {
    std::vector<AppIdentityRecord> records;
    records.reserve(apps.size());
    for (const auto& a : apps) records.push_back(identityRecord(a));
    return records;
  };

  if (*pid >= 1) {
    // Only this one application is named, unless the query names another.
    std::optional<AppInfo> app = workspace.application(*pid);
    if (!app) return std::optional<AppInfo>();
    if (query.empty()) return app;
    if (!matchingAppIdentityIndexes(query, {identityRecord(*app)}).empty()) return app;
    // An auxiliary process inside the bundle of the one application the query names.
    const std::vector<AppIdentityRecord> records = recordsOf(workspace.runningApplications());
    const std::string exe = workspace.executablePath(*pid);
    size_t owners = 0;
    for (size_t i : matchingAppIdentityIndexes(query, records)) {
      if (appOwnsExecutablePath(records[i].path, exe)) ++owners;
    }
    return owners == 1 ? app : std::optional<AppInfo>();
  }
  if (query.empty()) return std::optional<AppInfo>();
  const std::vector<AppInfo> apps = workspace.runningApplications();
  const std::vector<AppIdentityRecord> records = recordsOf(apps);
  const auto matches = matchingAppIdentityIndexes(query, records);
  if (matches.size() > 1) {
    std::vector<AppInfo> candidates;
    for (size_t i : matches) candidates.push_back(apps[i]);
    return ambiguousAppError(query, candidates);
  }
  if (matches.size() == 1) return std::optional<AppInfo>(apps[matches[0]]);
  return std::optional<AppInfo>();
}

}  // namespace tavren
