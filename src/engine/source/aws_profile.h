// What the AWS tools would use to reach an object store: credentials,
// region and endpoint, found where they find them (the environment, then
// the shared credentials and config files of the chosen profile).
#pragma once

#include <string>

namespace tsa {

/// The settings the requests to an object store are made with.
struct AwsSettings {
  std::string keyId;         // empty: no credentials, unsigned requests
  std::string secret;        // never shown
  std::string sessionToken;  // never shown
  std::string region = "us-east-1";
  std::string endpoint;  // an S3-compatible store's URL; empty: AWS's own
  std::string failure;   // why the settings cannot be had (a profile that is not there)
};

/// The settings as AWS_ACCESS_KEY_ID, AWS_SECRET_ACCESS_KEY and
/// AWS_SESSION_TOKEN give them, else the profile AWS_PROFILE (or
/// "default") of AWS_SHARED_CREDENTIALS_FILE (or ~/.aws/credentials) and
/// AWS_CONFIG_FILE (or ~/.aws/config); the region from AWS_REGION,
/// AWS_DEFAULT_REGION or the profile; the endpoint from
/// AWS_ENDPOINT_URL_S3 or AWS_ENDPOINT_URL.
[[nodiscard]] AwsSettings awsSettings();

}  // namespace tsa
