#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/system/http_transfer.h"
#include "engine/system/stop.h"

namespace tsa {
namespace {

// libcurl's functions, once the client has loaded them.
const curl::Library& lib() { return http::Client::get().library(); }

// The certificate authorities curl's own tool reads from the environment;
// the library does not look there by itself.
const char* caBundle() {
  for (const char* variable : {"CURL_CA_BUNDLE", "SSL_CERT_FILE"}) {
    if (const char* file = std::getenv(variable); file != nullptr && *file != '\0') {
      return file;
    }
  }
  return nullptr;
}

// A header's value, where `line` is that header ("ETag: \"x\"\r\n").
bool headerValue(std::string_view line, std::string_view name, std::string& value) {
  if (line.size() <= name.size() || line[name.size()] != ':' ||
      !std::equal(name.begin(), name.end(), line.begin(),
                  [](char a, char b) { return (a | 0x20) == (b | 0x20); })) {
    return false;
  }
  std::string_view rest = line.substr(name.size() + 1);
  while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) {
    rest.remove_prefix(1);
  }
  while (!rest.empty() && (rest.back() == '\r' || rest.back() == '\n' || rest.back() == ' ')) {
    rest.remove_suffix(1);
  }
  value.assign(rest);
  return true;
}

// Why a transfer failed: the library's words, or, where they would leave a
// user guessing, words to act on.
std::string describeFailure(CURLcode result, const char* errorText) {
  if (result == CURLE_SSL_CACERT_BADFILE) {
    // No certificate store: Debian's ca-certificates is only a
    // recommendation of libcurl, and a minimal system goes without it.
    const char* bundle = caBundle();
    return bundle != nullptr ? "no trusted certificates in \"" + std::string(bundle) + "\""
                             : "no trusted certificates: install ca-certificates or set "
                               "CURL_CA_BUNDLE";
  }
  return errorText[0] != '\0' ? std::string(errorText) : lib().easy_strerror(result);
}

}  // namespace

namespace http {

Client::Client() : library_(curl::library(whyNot_)) {
  if (library_ != nullptr) {
    library_->global_init(CURL_GLOBAL_DEFAULT);
    multi_ = library_->multi_init();
  }
}

Client::~Client() {
  if (library_ != nullptr) {
    library_->multi_cleanup(multi_);
    for (CURL* easy : idle_) {
      library_->easy_cleanup(easy);
    }
    library_->global_cleanup();
  }
}

CURL* Client::takeHandle() {
  if (idle_.empty()) {
    return library_->easy_init();
  }
  CURL* easy = idle_.back();
  idle_.pop_back();
  return easy;
}

void Client::giveBack(CURL* easy) { idle_.push_back(easy); }

void Client::drive() {
  int running = 0;
  library_->multi_perform(multi_, &running);
  int queued = 0;
  while (CURLMsg* message = library_->multi_info_read(multi_, &queued)) {
    if (message->msg == CURLMSG_DONE) {
      Transfer* transfer = nullptr;
      library_->easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &transfer);
      transfer->done = true;
      transfer->result = message->data.result;
    }
  }
}

void Client::wait(int ms) { library_->multi_poll(multi_, nullptr, 0, ms, nullptr); }

Transfer::Transfer() : easy(client.loaded() ? client.takeHandle() : nullptr) {}

Transfer::~Transfer() {
  stop();
  if (easy != nullptr) {
    client.giveBack(easy);
  }
}

void Transfer::stop() {
  if (active) {
    lib().multi_remove_handle(client.multi(), easy);
    active = false;
  }
  if (headers != nullptr) {
    lib().slist_free_all(headers);
    headers = nullptr;
  }
}

std::size_t Transfer::onBody(char* bytes, std::size_t size, std::size_t count, void* self) {
  return static_cast<Transfer*>(self)->take(bytes, size * count);
}
std::size_t Transfer::onHeader(char* bytes, std::size_t size, std::size_t count, void* self) {
  auto& state = *static_cast<Transfer*>(self);
  const std::string_view line(bytes, size * count);
  Answer& answer = state.answer;
  if (isFtpUrl(state.url)) {
    // An FTP server's replies; 213 answers MDTM and SIZE, in that order.
    if (line.starts_with("213 ")) {
      std::string_view value = line.substr(4);
      value = value.substr(0, value.find_first_of("\r\n"));
      state.ftpReplies.emplace_back(value);
    }
    return line.size();
  }
  if (line.starts_with("HTTP/")) {
    // A new answer: after a redirect, only the last one counts.
    answer = {};
    answer.statusLine.assign(line.substr(std::min(line.find(' ') + 1, line.size())));
    while (!answer.statusLine.empty() &&
           (answer.statusLine.back() == '\r' || answer.statusLine.back() == '\n')) {
      answer.statusLine.pop_back();
    }
  }
  std::string value;
  if (headerValue(line, "ETag", value)) {
    answer.etag = value;
  } else if (headerValue(line, "Last-Modified", value)) {
    answer.lastModified = value;
  } else if (headerValue(line, "Content-Range", value)) {
    answer.contentRange = value;
  } else if (headerValue(line, "Content-Type", value)) {
    answer.contentType = value;
  } else if (headerValue(line, "Content-Length", value)) {
    answer.contentLength = std::strtoll(value.c_str(), nullptr, 10);
  }
  return line.size();
}
int Transfer::onProgress(void* /*self*/, curl_off_t /*toGet*/, curl_off_t /*got*/,
                         curl_off_t /*toSend*/, curl_off_t /*sent*/) {
  return stopRequested() ? 1 : 0;  // a stop ends the transfer
}

void Transfer::start() {
  if (!client.loaded()) {
    reason = client.whyNot();
    return;  // nothing under way: the read ends, with the reason
  }
  // A reset keeps the connections the handle holds.
  lib().easy_reset(easy);
  lib().slist_free_all(headers);
  headers = nullptr;
  done = false;
  paused = false;
  answer = {};
  judged = false;
  errorBody.clear();
  ftpReplies.clear();
  errorText[0] = '\0';
  const std::int64_t from = first + delivered;
  lib().easy_setopt(easy, CURLOPT_PRIVATE, this);
  lib().easy_setopt(easy, CURLOPT_URL, url.c_str());
  lib().easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https,ftp,ftps");
  // An FTP file's date (MDTM) is half its version.
  lib().easy_setopt(easy, CURLOPT_FILETIME, 1L);
  lib().easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  lib().easy_setopt(easy, CURLOPT_MAXREDIRS, 5L);
  lib().easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR,
                    url.size() > 5 && (url[4] | 0x20) == 's' ? "https" : "http,https");
  lib().easy_setopt(easy, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_OPTIONAL));
  if (const char* bundle = caBundle()) {
    lib().easy_setopt(easy, CURLOPT_CAINFO, bundle);
  }
  lib().easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, static_cast<long>(connectTimeoutSeconds));
  lib().easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
  lib().easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, static_cast<long>(stallTimeoutSeconds));
  lib().easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  lib().easy_setopt(easy, CURLOPT_ERRORBUFFER, errorText);
  lib().easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::onBody);
  lib().easy_setopt(easy, CURLOPT_WRITEDATA, this);
  lib().easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
  lib().easy_setopt(easy, CURLOPT_HEADERDATA, this);
  lib().easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  lib().easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Transfer::onProgress);
  const http::Request request = http::requestFor(info, first, length, from);
  toDrop = request.toDrop;
  if (!request.range.empty()) {
    lib().easy_setopt(easy, CURLOPT_RANGE, request.range.c_str());
  }
  setAccess(request);
  if (socketReadBytes > 0) {
    lib().easy_setopt(easy, CURLOPT_BUFFERSIZE, socketReadBytes);
  }
  lib().multi_add_handle(client.multi(), easy);
  active = true;
}

void Transfer::setAccess(const Request& request) {
  if (info.access) {
    const UrlAccess& access = *info.access;
    if (!access.signing.empty()) {
      lib().easy_setopt(easy, CURLOPT_AWS_SIGV4, access.signing.c_str());
      lib().easy_setopt(easy, CURLOPT_USERPWD, access.keys.c_str());
    }
    for (const std::string& header : access.headers) {
      headers = lib().slist_append(headers, header.c_str());
    }
  }
  if (!request.validator.empty()) {
    headers = lib().slist_append(headers, request.validator.c_str());
  }
  lib().easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
}

// An FTP transfer's answer as an HTTP one: a range (206) of a file whose
// version is its date and size.
void Transfer::answerOfFtp() {
  answer.status = 206;
  const std::string size = ftpReplies.empty() ? "" : ftpReplies.back();
  const std::string date = ftpReplies.size() > 1 ? ftpReplies.front() : "";
  answer.contentRange = "bytes */" + (size.empty() ? "*" : size);
  answer.etag = date + " " + size;
}

// An object store names why it refused a request in the XML of its
// answer's body (<Code>SignatureDoesNotMatch</Code>): the body is kept,
// up to a few KiB, and the answer judged when it has ended.
bool Transfer::keptAsError(const char* bytes, std::size_t count) {
  if (!info.access || judged) {
    return false;
  }
  lib().easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &answer.status);
  if (answer.status < 400) {
    return false;
  }
  constexpr std::size_t kept = 8192;
  errorBody.append(bytes, std::min(count, kept - std::min(kept, errorBody.size())));
  return true;
}
bool Transfer::answerIsUsable() {
  lib().easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &answer.status);
  if (isFtpUrl(url)) {
    answerOfFtp();
  }
  if (const std::size_t code = errorBody.find("<Code>"); code != std::string::npos) {
    const std::size_t end = errorBody.find("</Code>", code);
    answer.storeCode = errorBody.substr(code + 6, end == std::string::npos ? 0 : end - code - 6);
  }
  judged = true;
  curl_off_t sent = 0;
  curl_off_t firstByte = 0;
  lib().easy_getinfo(easy, CURLINFO_PRETRANSFER_TIME_T, &sent);
  lib().easy_getinfo(easy, CURLINFO_STARTTRANSFER_TIME_T, &firstByte);
  answer.waitMicros = static_cast<std::int64_t>(firstByte - sent);
  const http::Verdict verdict =
      http::judge(answer, info, probing, first + delivered, toDrop, reason);
  changed = verdict == http::Verdict::Changed;
  return verdict == http::Verdict::Usable;
}

std::size_t Transfer::take(const char* bytes, std::size_t count) {
  if (keptAsError(bytes, count)) {
    return count;
  }
  if (!judged && !answerIsUsable()) {
    return 0;  // ends the transfer
  }
  const std::size_t dropped =
      static_cast<std::size_t>(std::min<std::int64_t>(toDrop, static_cast<std::int64_t>(count)));
  toDrop -= static_cast<std::int64_t>(dropped);
  bytes += dropped;
  std::size_t left = count - dropped;
  if (left == 0) {
    return count;
  }
  if (landing) {
    land(bytes, left);
    return count;
  }
  if (filled == into.size() || carryEnd != 0) {
    paused = true;
    return CURL_WRITEFUNC_PAUSE;  // delivered again once the next read asks
  }
  const std::size_t now = std::min(left, into.size() - filled);
  std::copy_n(bytes, now, into.data() + filled);
  filled += now;
  left -= now;
  std::copy_n(bytes + now, left, carry.data());
  carryAt = 0;
  carryEnd = left;
  return count;
}

// A part's bytes, where they belong in its buffer.
void Transfer::land(const char* bytes, std::size_t count) {
  const std::size_t now = std::min(count, into.size() - filled);
  std::copy_n(bytes, now, into.data() + filled);
  filled += now;
  delivered += static_cast<std::int64_t>(now);
}

bool Transfer::complete() {
  return result == CURLE_OK && reason.empty() && (judged || answerIsUsable());
}

bool Transfer::retry() {
  // The library's words, or the server's status, for what went wrong.
  if (reason.empty()) {
    reason = describeFailure(result, errorText);
  }
  const bool broken = result == CURLE_PARTIAL_FILE || result == CURLE_RECV_ERROR ||
                      result == CURLE_OPERATION_TIMEDOUT || result == CURLE_GOT_NOTHING ||
                      result == CURLE_SEND_ERROR || result == CURLE_COULDNT_CONNECT;
  if (changed || probing || !broken || ++attempt >= transferAttempts || stopRequested()) {
    return false;
  }
  // A growing pause, which a stop signal ends.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1 << (attempt - 1));
  while (std::chrono::steady_clock::now() < until) {
    if (stopRequested()) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  stop();
  reason.clear();
  start();
  return true;
}

}  // namespace http
}  // namespace tsa
