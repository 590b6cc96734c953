#include "engine/source/object_store.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include "engine/source/aws_profile.h"
#include "engine/source/url_bytes.h"

namespace tsa {
namespace {

// The hash of an empty body, which S3 asks every signed request to state.
constexpr const char* emptyBodyHash =
    "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

// `key` as a URL's path writes it: every byte but the unreserved ones and
// '/' as %XX, as the signature's canonical path has it.
std::string encodedKey(std::string_view key) {
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string encoded;
  for (const char c : key) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) != 0 || c == '-' || c == '_' || c == '.' || c == '~' || c == '/') {
      encoded += c;
    } else {
      encoded += '%';
      encoded += hex[byte >> 4];
      encoded += hex[byte & 15];
    }
  }
  return encoded;
}

// Where the requests for `bucket`/`key` go: path-style on a store's own
// endpoint; on AWS, the bucket's own host where its name allows.
std::string objectUrl(const AwsSettings& settings, std::string_view bucket, std::string_view key) {
  std::string path(1, '/');
  path += encodedKey(key);
  if (!settings.endpoint.empty()) {
    std::string endpoint = settings.endpoint;
    while (endpoint.ends_with('/')) {
      endpoint.pop_back();
    }
    return endpoint + "/" + std::string(bucket) + path;
  }
  const std::string host = "s3." + settings.region + ".amazonaws.com";
  if (bucket.find('.') == std::string_view::npos) {
    return "https://" + std::string(bucket) + "." + host + path;
  }
  return "https://" + host + "/" + std::string(bucket) + path;
}

std::shared_ptr<const UrlAccess> accessFor(const AwsSettings& settings, std::string_view bucket,
                                           std::string_view key) {
  auto access = std::make_shared<UrlAccess>();
  access->url = objectUrl(settings, bucket, key);
  if (!settings.keyId.empty()) {
    access->signing = "aws:amz:" + settings.region + ":s3";
    access->keys = settings.keyId + ":" + settings.secret;
    access->headers.push_back(std::string("x-amz-content-sha256: ") + emptyBodyHash);
    if (!settings.sessionToken.empty()) {
      access->headers.push_back("x-amz-security-token: " + settings.sessionToken);
    }
  }
  return access;
}

}  // namespace

Probe probeObject(const std::string& name, SourceForm& form, std::string& start) {
  const std::string_view path = std::string_view(name).substr(5);
  const std::size_t slash = path.find('/');
  if (slash == 0 || slash == std::string_view::npos || slash + 1 == path.size()) {
    form.failure = "is not an object's name: write s3://BUCKET/KEY";
    return Probe::Refused;
  }
  const AwsSettings settings = awsSettings();
  if (!settings.failure.empty()) {
    form.failure = settings.failure;
    return Probe::Refused;
  }
  return probeUrlSource(name, form, start,
                        accessFor(settings, path.substr(0, slash), path.substr(slash + 1)));
}

}  // namespace tsa
