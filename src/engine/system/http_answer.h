// What the two HTTP clients share: the request a read makes, and what an
// answer means for it. The system layer's own, behind http.h.
#pragma once

#include <cstdint>
#include <string>

#include "engine/system/http.h"

namespace tsa::http {

/// What the server answered to one request (the last, after redirects).
struct Answer {
  long status = 0;
  std::string statusLine;  // "404 Not Found"
  std::string etag;
  std::string lastModified;
  std::string contentRange;
  std::string contentType;
  std::int64_t contentLength = -1;
  std::string storeCode;        // the error code an object store's answer names
  std::int64_t waitMicros = 0;  // from the request sent to its answer's first byte
};

/// Why a request that `answer` answered failed: its status line, or an
/// object store's status and code.
[[nodiscard]] std::string failedStatus(const Answer& answer);

/// The request for bytes `from` on of the read of `length` bytes from
/// `first` (to the end where -1), pinned to `info`: its Range value and
/// validator header (empty where none), and the bytes before `from` that
/// a server without ranges sends first.
struct Request {
  std::string range;
  std::string validator;
  std::int64_t toDrop = 0;
};
[[nodiscard]] Request requestFor(const UrlInfo& info, std::int64_t first, std::int64_t length,
                                 std::int64_t from);

/// What `answer` means for a read pinned to `pinned` that asked from
/// `from` on: Usable (`toDrop` then counts the bytes before `from` in a
/// whole answer), Changed (the resource is another version), or Failed;
/// `reason` says why it is not Usable. A probe takes any whole answer.
enum class Verdict { Usable, Changed, Failed };
[[nodiscard]] Verdict judge(const Answer& answer, const UrlInfo& pinned, bool probe,
                            std::int64_t from, std::int64_t& toDrop, std::string& reason);

/// One read of a URL, as both clients keep it: what it asks for, how far
/// it came, and how it failed.
struct ReadOfUrl {
  std::string url;
  UrlInfo info;
  std::int64_t first = 0;
  std::int64_t length = -1;    // -1: to the end
  std::int64_t delivered = 0;  // bytes read out so far
  int attempt = 0;
  std::string reason;
  bool changed = false;
  bool probing = false;  // a 200 to a range is a server without ranges, not a change

  /// Starts over: `length` bytes of `url` from `first` on, pinned to `info`.
  void begin(const std::string& of, const UrlInfo& pinned, std::int64_t from, std::int64_t bytes) {
    url = of;
    info = pinned;
    first = from;
    length = bytes;
    delivered = 0;
    attempt = 0;
    reason.clear();
    changed = false;
  }

  /// The bytes still to come, or -1 where the read runs to the end.
  [[nodiscard]] std::int64_t remaining() const { return length < 0 ? -1 : length - delivered; }
};

/// What a probe's `answer` says of the URL; false where it is not one.
[[nodiscard]] bool probed(const Answer& answer, UrlInfo& info, std::string& reason);

}  // namespace tsa::http
