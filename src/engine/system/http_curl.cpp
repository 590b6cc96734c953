#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/system/curl_library.h"
#include "engine/system/http.h"
#include "engine/system/http_answer.h"
#include "engine/system/stop.h"

namespace tsa {
namespace {

// libcurl for the whole process: loaded and set up once, when the first
// URL is met, and one multi handle whose connection cache keeps a
// connection to each server for the next request (1,000 one-frame splices
// of one URL are 1,000 requests on one connection). The run makes one
// request at a time.
class Client {
 public:
  static Client& get() {
    static Client client;
    return client;
  }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  /// False where libcurl could not be loaded; whyNot() says why.
  [[nodiscard]] bool loaded() const { return library_ != nullptr; }
  [[nodiscard]] const std::string& whyNot() const { return whyNot_; }
  [[nodiscard]] const curl::Library& library() const { return *library_; }
  [[nodiscard]] CURL* easy() const { return easy_; }
  [[nodiscard]] CURLM* multi() const { return multi_; }

 private:
  Client() : library_(curl::library(whyNot_)) {
    if (library_ != nullptr) {
      library_->global_init(CURL_GLOBAL_DEFAULT);
      easy_ = library_->easy_init();
      multi_ = library_->multi_init();
    }
  }
  ~Client() {
    if (library_ != nullptr) {
      library_->multi_cleanup(multi_);
      library_->easy_cleanup(easy_);
      library_->global_cleanup();
    }
  }

  std::string whyNot_;
  const curl::Library* library_;
  CURL* easy_ = nullptr;
  CURLM* multi_ = nullptr;
};

// libcurl's functions, once the client has loaded them.
const curl::Library& lib() { return Client::get().library(); }

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

struct UrlReader::Transferring : http::ReadOfUrl {
  Client& client = Client::get();
  bool active = false;  // a request is under way
  bool done = false;    // and has ended, with `result`
  CURLcode result = CURLE_OK;
  bool paused = false;
  std::int64_t toDrop = 0;              // bytes before `first` in a response from the start
  http::Answer answer;                  // to the request under way
  bool judged = false;                  // and what it means, found
  std::string errorBody;                // an object store's answer to a request that failed
  std::vector<std::string> ftpReplies;  // the 213 replies: MDTM's, then SIZE's
  // The read under way, and what came beyond it.
  std::span<unsigned char> into;
  std::size_t filled = 0;
  std::vector<unsigned char> carry = std::vector<unsigned char>(CURL_MAX_WRITE_SIZE);
  std::size_t carryAt = 0;
  std::size_t carryEnd = 0;
  bool retryFirst = false;  // the request broke after the last read's bytes
  curl_slist* headers = nullptr;
  char errorText[CURL_ERROR_SIZE] = {};

  ~Transferring() { stop(); }

  void stop() {
    if (active) {
      lib().multi_remove_handle(client.multi(), client.easy());
      active = false;
    }
    if (headers != nullptr) {
      lib().slist_free_all(headers);
      headers = nullptr;
    }
  }

  void start();
  void setAccess(CURL* easy, const http::Request& request);
  [[nodiscard]] bool answerIsUsable();
  void answerOfFtp();
  [[nodiscard]] bool keptAsError(const char* bytes, std::size_t count);
  std::size_t take(const char* bytes, std::size_t count);
  [[nodiscard]] bool retry();

  static std::size_t onBody(char* bytes, std::size_t size, std::size_t count, void* self) {
    return static_cast<Transferring*>(self)->take(bytes, size * count);
  }

  static std::size_t onHeader(char* bytes, std::size_t size, std::size_t count, void* self) {
    auto& state = *static_cast<Transferring*>(self);
    const std::string_view line(bytes, size * count);
    http::Answer& answer = state.answer;
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

  static int onProgress(void* /*self*/, curl_off_t /*toGet*/, curl_off_t /*got*/,
                        curl_off_t /*toSend*/, curl_off_t /*sent*/) {
    return stopRequested() ? 1 : 0;  // a stop ends the transfer
  }
};

void UrlReader::Transferring::start() {
  if (!client.loaded()) {
    reason = client.whyNot();
    return;  // nothing under way: the read ends, with the reason
  }
  CURL* easy = client.easy();
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
  lib().easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transferring::onBody);
  lib().easy_setopt(easy, CURLOPT_WRITEDATA, this);
  lib().easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Transferring::onHeader);
  lib().easy_setopt(easy, CURLOPT_HEADERDATA, this);
  lib().easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  lib().easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Transferring::onProgress);
  const http::Request request = http::requestFor(info, first, length, from);
  toDrop = request.toDrop;
  if (!request.range.empty()) {
    lib().easy_setopt(easy, CURLOPT_RANGE, request.range.c_str());
  }
  setAccess(easy, request);
  lib().multi_add_handle(client.multi(), easy);
  active = true;
}

void UrlReader::Transferring::setAccess(CURL* easy, const http::Request& request) {
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
void UrlReader::Transferring::answerOfFtp() {
  answer.status = 206;
  const std::string size = ftpReplies.empty() ? "" : ftpReplies.back();
  const std::string date = ftpReplies.size() > 1 ? ftpReplies.front() : "";
  answer.contentRange = "bytes */" + (size.empty() ? "*" : size);
  answer.etag = date + " " + size;
}

// An object store names why it refused a request in the XML of its
// answer's body (<Code>SignatureDoesNotMatch</Code>): the body is kept,
// up to a few KiB, and the answer judged when it has ended.
bool UrlReader::Transferring::keptAsError(const char* bytes, std::size_t count) {
  if (!info.access || judged) {
    return false;
  }
  lib().easy_getinfo(client.easy(), CURLINFO_RESPONSE_CODE, &answer.status);
  if (answer.status < 400) {
    return false;
  }
  constexpr std::size_t kept = 8192;
  errorBody.append(bytes, std::min(count, kept - std::min(kept, errorBody.size())));
  return true;
}
bool UrlReader::Transferring::answerIsUsable() {
  lib().easy_getinfo(client.easy(), CURLINFO_RESPONSE_CODE, &answer.status);
  if (isFtpUrl(url)) {
    answerOfFtp();
  }
  if (const std::size_t code = errorBody.find("<Code>"); code != std::string::npos) {
    const std::size_t end = errorBody.find("</Code>", code);
    answer.storeCode = errorBody.substr(code + 6, end == std::string::npos ? 0 : end - code - 6);
  }
  judged = true;
  const http::Verdict verdict =
      http::judge(answer, info, probing, first + delivered, toDrop, reason);
  changed = verdict == http::Verdict::Changed;
  return verdict == http::Verdict::Usable;
}

std::size_t UrlReader::Transferring::take(const char* bytes, std::size_t count) {
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

bool UrlReader::Transferring::retry() {
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

UrlReader::UrlReader() : state_(std::make_unique<Transferring>()) {}

UrlReader::~UrlReader() = default;

void UrlReader::open(const std::string& url, const UrlInfo& info, std::int64_t first,
                     std::int64_t length) {
  Transferring& state = *state_;
  state.stop();
  state.begin(url, info, first, length);
  state.carryAt = state.carryEnd = 0;
  state.retryFirst = false;
  if (length != 0) {
    state.start();
  }
}

Transfer UrlReader::read(std::span<unsigned char> buffer) {
  Transferring& state = *state_;
  if (!state.client.loaded()) {
    return {0, EIO};
  }
  if (state.remaining() >= 0) {
    buffer = buffer.first(static_cast<std::size_t>(
        std::min<std::int64_t>(state.remaining(), static_cast<std::int64_t>(buffer.size()))));
  }
  state.into = buffer;
  state.filled = 0;
  // What came beyond the last read first.
  const std::size_t carried = std::min(buffer.size(), state.carryEnd - state.carryAt);
  std::copy_n(state.carry.data() + state.carryAt, carried, buffer.data());
  state.filled = carried;
  state.carryAt += carried;
  if (state.carryAt == state.carryEnd) {
    state.carryAt = state.carryEnd = 0;
  }
  if (state.retryFirst && state.filled == 0) {
    state.retryFirst = false;
    if (!state.retry()) {
      return {0, stopRequested() ? EINTR : EIO};
    }
  }
  while (state.active && state.filled < buffer.size()) {
    if (state.paused && state.carryEnd == 0) {
      state.paused = false;
      lib().easy_pause(state.client.easy(), CURLPAUSE_CONT);
      continue;
    }
    int running = 0;
    lib().multi_perform(state.client.multi(), &running);
    int queued = 0;
    while (CURLMsg* message = lib().multi_info_read(state.client.multi(), &queued)) {
      if (message->msg == CURLMSG_DONE) {
        state.done = true;
        state.result = message->data.result;
      }
    }
    if (state.done) {
      state.stop();
      if (state.result == CURLE_OK && state.reason.empty() &&
          (state.judged || state.answerIsUsable())) {
        break;  // all of it came
      }
      if (state.filled > 0) {
        // The bytes that came are good; the request is taken up again at
        // the next read.
        state.retryFirst = true;
        break;
      }
      if (!state.retry()) {
        return {0, stopRequested() ? EINTR : EIO};
      }
      continue;
    }
    if (state.filled < buffer.size()) {
      if (stopRequested()) {
        state.stop();
        if (state.filled == 0) {
          return {0, EINTR};
        }
        state.retryFirst = true;
        break;
      }
      lib().multi_poll(state.client.multi(), nullptr, 0, 50, nullptr);
    }
  }
  state.delivered += static_cast<std::int64_t>(state.filled);
  return {state.filled, 0};
}

const std::string& UrlReader::reason() const { return state_->reason; }

bool UrlReader::changed() const { return state_->changed; }

void UrlReader::close() { state_->stop(); }

void UrlReader::markProbe() { state_->probing = true; }

const http::Answer& UrlReader::answer() const { return state_->answer; }

}  // namespace tsa
