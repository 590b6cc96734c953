#include "engine/source/aws_profile.h"

#include <cstdlib>
#include <map>
#include <optional>
#include <sstream>

#include "engine/system/file.h"
#include "engine/system/whole_number.h"

namespace tsa {
namespace {

std::string variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string firstVariable(std::initializer_list<const char*> names) {
  for (const char* name : names) {
    if (std::string value = variable(name); !value.empty()) {
      return value;
    }
  }
  return "";
}

// The file `variableName` names, else `name` in the user's ~/.aws.
std::string awsFile(const char* variableName, const char* name) {
  if (std::string given = variable(variableName); !given.empty()) {
    return given;
  }
  const std::string home = firstVariable({"HOME", "USERPROFILE"});
  return home.empty() ? "" : home + "/.aws/" + name;
}

// The keys of section `section` of the INI file at `path`; nothing where
// the file or the section is not there.
std::optional<std::map<std::string, std::string>> sectionOf(const std::string& path,
                                                            const std::string& section) {
  std::string text;
  int error = 0;
  if (!readWholeFile(path, text, error)) {
    return std::nullopt;  // no such file, or none to read
  }
  std::istringstream lines(text);
  std::optional<std::map<std::string, std::string>> keys;
  bool inside = false;
  for (std::string line; std::getline(lines, line);) {
    line = std::string(trimmed(line));
    if (line.starts_with('[') && line.ends_with(']')) {
      inside = trimmed(std::string_view(line).substr(1, line.size() - 2)) == section;
      if (inside && !keys) {
        keys.emplace();
      }
    } else if (const std::size_t equals = line.find('='); inside && equals != std::string::npos) {
      (*keys)[std::string(trimmed(std::string_view(line).substr(0, equals)))] =
          trimmed(std::string_view(line).substr(equals + 1));
    }
  }
  return keys;
}

void takeKeys(const std::map<std::string, std::string>& keys, AwsSettings& settings) {
  const auto value = [&keys](const char* name) {
    const auto found = keys.find(name);
    return found != keys.end() ? found->second : "";
  };
  if (settings.keyId.empty()) {
    settings.keyId = value("aws_access_key_id");
    settings.secret = value("aws_secret_access_key");
    settings.sessionToken = value("aws_session_token");
  }
  if (const std::string region = value("region"); !region.empty()) {
    settings.region = region;
  }
}

}  // namespace

AwsSettings awsSettings() {
  AwsSettings settings;
  settings.keyId = variable("AWS_ACCESS_KEY_ID");
  settings.secret = variable("AWS_SECRET_ACCESS_KEY");
  if (settings.keyId.empty() || settings.secret.empty()) {
    settings.keyId.clear();
    settings.secret.clear();
  } else {
    settings.sessionToken = variable("AWS_SESSION_TOKEN");
  }
  const std::string named = variable("AWS_PROFILE");
  const std::string profile = named.empty() ? "default" : named;
  const auto credentials =
      sectionOf(awsFile("AWS_SHARED_CREDENTIALS_FILE", "credentials"), profile);
  const auto config = sectionOf(awsFile("AWS_CONFIG_FILE", "config"),
                                profile == "default" ? profile : "profile " + profile);
  if (!named.empty() && !credentials && !config) {
    settings.failure = "cannot be read (the AWS profile \"" + named + "\" is not set up)";
  }
  // The credentials file's keys before the config file's; the region is
  // the config file's.
  if (credentials) {
    std::map<std::string, std::string> keys = *credentials;
    keys.erase("region");
    takeKeys(keys, settings);
  }
  if (config) {
    takeKeys(*config, settings);
  }
  if (std::string region = firstVariable({"AWS_REGION", "AWS_DEFAULT_REGION"}); !region.empty()) {
    settings.region = region;
  }
  settings.endpoint = firstVariable({"AWS_ENDPOINT_URL_S3", "AWS_ENDPOINT_URL"});
  return settings;
}

}  // namespace tsa
