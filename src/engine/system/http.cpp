#include "engine/system/http.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "engine/system/http_answer.h"

namespace tsa {
namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

bool startsWithWord(std::string_view text, std::string_view word) {
  return text.size() >= word.size() &&
         std::equal(word.begin(), word.end(), text.begin(),
                    [](char wanted, char c) { return wanted == lower(c); });
}

// The media type of a Content-Type value that is a web page (text/html,
// application/xhtml+xml), in lower case and without its parameters; empty
// for any other. Servers label raw clips text/plain or nothing, so only a
// page is refused.
std::string webPageType(std::string_view contentType) {
  std::string type;
  for (const char c : contentType.substr(0, contentType.find(';'))) {
    if (c != ' ' && c != '\t') {
      type += lower(c);
    }
  }
  return type == "text/html" || type == "application/xhtml+xml" ? type : "";
}

}  // namespace

bool isUrl(std::string_view name) {
  return startsWithWord(name, "http://") || startsWithWord(name, "https://") || isFtpUrl(name) ||
         isObjectStoreName(name);
}

bool isObjectStoreName(std::string_view name) { return startsWithWord(name, "s3://"); }

bool isFtpUrl(std::string_view name) {
  return startsWithWord(name, "ftp://") || startsWithWord(name, "ftps://");
}

std::string shownName(std::string_view name) {
  if (!isUrl(name)) {
    return std::string(name);
  }
  const std::size_t hostStart = name.find("//") + 2;
  const std::size_t pathStart = std::min(name.find_first_of("/?#", hostStart), name.size());
  std::string_view authority = name.substr(hostStart, pathStart - hostStart);
  // The user part (user:password@) is a secret.
  if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
    authority.remove_prefix(at + 1);
  }
  std::string shown = std::string(name.substr(0, hostStart)) + std::string(authority);
  std::string_view rest = name.substr(pathStart);
  // So is the query: the signature of a pre-signed URL lives there.
  // The fragment after it, never sent, stays: it names a member of an
  // archive.
  if (const std::size_t query = rest.find('?'); query != std::string_view::npos) {
    const std::size_t fragment = std::min(rest.find('#', query), rest.size());
    return shown + std::string(rest.substr(0, query)) + "?\xE2\x80\xA6" +
           std::string(rest.substr(fragment));
  }
  return shown + std::string(rest);
}

bool probeUrl(const std::string& url, UrlInfo& info, std::span<unsigned char> head,
              std::size_t& headBytes, std::string& reason) {
  UrlReader reader;
  reader.markProbe();
  UrlInfo asked;
  asked.ranges = true;
  asked.access = info.access;
  reader.open(url, asked, 0, static_cast<std::int64_t>(head.size()));
  headBytes = 0;
  for (;;) {
    const Transfer read = reader.read(head.subspan(headBytes));
    headBytes += read.bytes;
    if (read.error != 0 || read.bytes == 0 || headBytes == head.size()) {
      break;
    }
  }
  const http::Answer& answer = reader.answer();
  const bool answered = answer.status == 200 || answer.status == 206 || answer.status == 416;
  if (answer.status == 0 || (answered && !reader.reason().empty())) {
    // No server, no connection, no trust; or the answer broke off.
    reason = reader.reason().empty() ? "no answer" : reader.reason();
    return false;
  }
  return http::probed(answer, info, reason);
}

namespace http {

std::string failedStatus(const Answer& answer) {
  if (!answer.storeCode.empty()) {
    return std::to_string(answer.status) + " " + answer.storeCode;  // "403 SignatureDoesNotMatch"
  }
  return answer.statusLine.empty() ? "HTTP " + std::to_string(answer.status) : answer.statusLine;
}

Request requestFor(const UrlInfo& info, std::int64_t first, std::int64_t length,
                   std::int64_t from) {
  Request request;
  if (!info.ranges) {
    request.toDrop = from;  // a server without ranges sends it all, from its start
    return request;
  }
  request.range =
      std::to_string(from) + "-" + (length < 0 ? "" : std::to_string(first + length - 1));
  // One version per run: the validator the pre-scan saw goes with every
  // range. A weak ETag cannot pin bytes; a date only asks for the range.
  if (!info.etag.empty() && !info.etag.starts_with("W/")) {
    request.validator = "If-Match: " + info.etag;
  } else if (!info.lastModified.empty()) {
    request.validator = "If-Range: " + info.lastModified;
  }
  return request;
}

Verdict judge(const Answer& answer, const UrlInfo& pinned, bool probe, std::int64_t from,
              std::int64_t& toDrop, std::string& reason) {
  const bool datedOnly =
      !pinned.lastModified.empty() && (pinned.etag.empty() || pinned.etag.starts_with("W/"));
  if (!probe && (answer.status == 412 || (answer.status == 200 && pinned.ranges && datedOnly))) {
    reason = "it changed on the server";  // If-Match failed, or If-Range sent all of a new one
    return Verdict::Changed;
  }
  if (probe && answer.status == 416) {
    toDrop = INT64_MAX;  // an empty file: nothing to take
    return Verdict::Usable;
  }
  if (answer.status != 200 && answer.status != 206) {
    reason = failedStatus(answer);
    return Verdict::Failed;
  }
  if (!probe && !pinned.etag.empty() && !answer.etag.empty() && answer.etag != pinned.etag) {
    reason = "it changed on the server";  // a range of another version
    return Verdict::Changed;
  }
  if (answer.status == 200 && !probe) {
    // A whole answer, checked against the version the pre-scan saw.
    if ((!pinned.etag.empty() && answer.etag != pinned.etag) ||
        (pinned.etag.empty() && !pinned.lastModified.empty() &&
         answer.lastModified != pinned.lastModified)) {
      reason = "it changed on the server";
      return Verdict::Changed;
    }
    toDrop = from;  // ranges asked for, or not, and the whole file sent
  }
  return Verdict::Usable;
}

bool probed(const Answer& answer, UrlInfo& info, std::string& reason) {
  if (answer.status != 200 && answer.status != 206 && answer.status != 416) {
    reason = failedStatus(answer);
    return false;
  }
  if (const std::string type = webPageType(answer.contentType); !type.empty()) {
    // A login page that a redirect led to, or a missing clip answered with
    // a page ("soft 404"): never video.
    reason = "the server answers with a web page, " + type;
    return false;
  }
  info.ranges = answer.status != 200;
  info.distant = answer.waitMicros >= farAnswerMicros;
  info.etag = answer.etag;
  info.lastModified = answer.lastModified;
  // Content-Range: bytes 0-8191/123456, or bytes */0 for an empty file.
  const std::size_t slash = answer.contentRange.rfind('/');
  if (info.ranges && slash != std::string::npos && slash + 1 < answer.contentRange.size() &&
      answer.contentRange[slash + 1] != '*') {
    info.length = std::strtoll(answer.contentRange.c_str() + slash + 1, nullptr, 10);
  } else if (!info.ranges) {
    info.length = answer.contentLength;
  }
  return true;
}

}  // namespace http
}  // namespace tsa
