// Sources on web and FTP servers and in object stores: what the pre-scan
// asks of a URL, and byte ranges of it read as they arrive, one version of
// the resource per run, through libcurl on every platform (Schannel on
// Windows); TLS certificates and host names are always verified, redirects
// followed (at most 5, never from https to http), credentials in the URL
// and ~/.netrc used, proxies from the usual variables honoured.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/system/file.h"

namespace tsa {

namespace http {
struct Answer;
}  // namespace http

/// True for a name that is a URL: http://, https://, ftp://, ftps:// or
/// s3:// (in any case).
[[nodiscard]] bool isUrl(std::string_view name);

/// True for an object in a store: s3://BUCKET/KEY.
[[nodiscard]] bool isObjectStoreName(std::string_view name);

/// True for a URL that libcurl reads by FTP (ftp:// or ftps://).
[[nodiscard]] bool isFtpUrl(std::string_view name);

/// How the requests for a source go where its name is not all they need:
/// an object store's, signed with AWS Signature Version 4.
struct UrlAccess {
  std::string url;                   // where the requests go
  std::string signing;               // libcurl's "aws:amz:REGION:s3"; empty: unsigned
  std::string keys;                  // "KEY:SECRET", a secret
  std::vector<std::string> headers;  // sent (and signed) with every request
};

/// A source name as messages show it: a URL without its user part and with
/// its query cut to "?…"; any other name as it is.
[[nodiscard]] std::string shownName(std::string_view name);

/// What the pre-scan learns of a URL.
struct UrlInfo {
  std::int64_t length = -1;                 // its bytes, where the server says
  bool ranges = false;                      // it serves byte ranges
  std::string etag;                         // the validator, where the server gives one
  std::string lastModified;                 // else this date
  std::shared_ptr<const UrlAccess> access;  // how requests are made, where not plainly
  bool distant = false;  // its first byte came late enough that parts over several connections help
};

/// A server whose answer's first byte comes this long after the request
/// or later is far: one connection to it cannot carry what several can.
inline constexpr std::int64_t farAnswerMicros = 2000;

/// How long a connection may take to be made, and a transfer may stall,
/// before the attempt fails; and how often a broken transfer is taken up
/// again (after 1, 2 and 4 s).
inline constexpr int connectTimeoutSeconds = 15;
inline constexpr int stallTimeoutSeconds = 30;
inline constexpr int transferAttempts = 4;

/// Asks for `url` once: its length, whether it serves ranges, its
/// validator, and its first bytes (up to `head.size()`; `headBytes` says
/// how many came). False with `reason` (the HTTP status, or the library's
/// words) where it cannot be had.
/// `info.access`, where set, says how the requests are made.
[[nodiscard]] bool probeUrl(const std::string& url, UrlInfo& info, std::span<unsigned char> head,
                            std::size_t& headBytes, std::string& reason);

/// The URL requests for `name` go to.
[[nodiscard]] inline const std::string& requestUrl(const std::string& name, const UrlInfo& info) {
  return info.access ? info.access->url : name;
}

/// The bytes of one URL from a first one on, read as they arrive through
/// one request (taken up again where a connection breaks), on a connection
/// kept for the next request to its server.
class UrlReader {
 public:
  UrlReader();
  UrlReader(const UrlReader&) = delete;
  UrlReader& operator=(const UrlReader&) = delete;
  ~UrlReader();

  /// Starts reading `url` at byte `first`, `length` bytes (to its end
  /// where -1), pinned to the version `info` describes. A server without
  /// ranges is read from its start.
  void open(const std::string& url, const UrlInfo& info, std::int64_t first, std::int64_t length);

  /// Reads the next bytes into `buffer`, waiting for them: some, or none
  /// at the end. An error comes with reason() set; a stop signal ends any
  /// wait with EINTR.
  [[nodiscard]] Transfer read(std::span<unsigned char> buffer);

  /// Why the last read failed: the HTTP status or the library's words.
  [[nodiscard]] const std::string& reason() const;

  /// True when the last read failed because the resource is no longer the
  /// version the pre-scan saw.
  [[nodiscard]] bool changed() const;

  /// Ends the request under way, if any.
  void close();

 private:
  friend bool probeUrl(const std::string& url, UrlInfo& info, std::span<unsigned char> head,
                       std::size_t& headBytes, std::string& reason);
  /// Makes the next open a probe: any whole answer is taken, nothing retried.
  void markProbe();
  /// What the server answered to the last request.
  [[nodiscard]] const http::Answer& answer() const;

  struct Transferring;  // the platform's state
  std::unique_ptr<Transferring> state_;
};

/// Ranges of a URL fetched as parts over several connections at once and
/// read back in order: each part lands in a buffer of its own as it comes
/// (and is taken up again where its connection breaks); a connection whose
/// part has landed takes the next one while a buffer is free, and a buffer
/// is free again once its part has been read out. The range after the one
/// being read may be queued: its parts are asked for as soon as every part
/// of the range being read has been.
class UrlParts {
 public:
  UrlParts();
  UrlParts(const UrlParts&) = delete;
  UrlParts& operator=(const UrlParts&) = delete;
  ~UrlParts();

  /// How a range is cut: `count` parts of whole units of `unitBytes` (the
  /// last unit of the range may be short), as even as the units allow.
  struct Cut {
    std::int64_t unitBytes = 1;
    std::int64_t count = 1;
  };

  /// Starts fetching `length` bytes of `url` from byte `first` on, pinned
  /// to the version `info` describes, in the parts `cut` makes, over
  /// `connections` connections, with at most `memoryBytes` of parts (and
  /// never fewer buffers than connections) in memory. Whatever was queued
  /// or under way is dropped.
  void open(const std::string& url, const UrlInfo& info, std::int64_t first, std::int64_t length,
            Cut cut, int connections, std::size_t memoryBytes);

  /// Queues the `length` bytes from `first` on, cut as `cut` says, to be
  /// read after the range being read. False, with nothing queued, where a
  /// range is queued already or its parts are larger than the buffers.
  [[nodiscard]] bool queue(std::int64_t first, std::int64_t length, Cut cut);

  /// Makes the queued range the one being read, where it is the `length`
  /// bytes from `first` on and the range before it was read whole; false
  /// otherwise.
  [[nodiscard]] bool readQueued(std::int64_t first, std::int64_t length);

  /// As UrlReader::read: the next bytes in order, waiting for them.
  [[nodiscard]] Transfer read(std::span<unsigned char> buffer);

  /// Why the last read failed, and whether the resource changed.
  [[nodiscard]] const std::string& reason() const;
  [[nodiscard]] bool changed() const;

 private:
  struct Part;
  // A range cut into parts, numbered on from those of the range before it.
  struct Range {
    std::int64_t first = 0;
    std::int64_t length = 0;
    Cut cut;
    std::int64_t units = 0;
    std::int64_t firstPart = 0;
    std::int64_t partCount = 0;
    Range() = default;
    Range(std::int64_t from, std::int64_t bytes, Cut cutting, std::int64_t firstIndex);
    [[nodiscard]] std::int64_t endPart() const { return firstPart + partCount; }
    // Where its part `index` starts: units shared out as evenly as they
    // go, the longer parts first.
    [[nodiscard]] std::int64_t partStart(std::int64_t index) const;
    [[nodiscard]] std::size_t largestPart() const;
  };
  [[nodiscard]] Part& partAt(std::int64_t index) const;
  void startPart(Part& part, std::int64_t index);
  void startWhatMay();
  void passReadOutParts();
  void endLandedParts();
  [[nodiscard]] bool waitForBytes(std::int64_t index, std::size_t wanted);

  std::string url_;
  UrlInfo info_;
  Range reading_;                 // the range being read
  std::optional<Range> queued_;   // the range to be read after it
  std::int64_t nextToRead_ = 0;   // the part being read out
  std::int64_t nextToStart_ = 0;  // the first part not yet asked for
  int connections_ = 1;
  int active_ = 0;                            // parts being fetched
  bool endsEarly_ = false;                    // a part came short: the range ends there
  std::size_t bufferBytes_ = 0;               // each buffer's
  std::vector<std::unique_ptr<Part>> parts_;  // one a buffer, allocated when first used
  const Part* failed_ = nullptr;
};

}  // namespace tsa
