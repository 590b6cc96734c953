#include <windows.h>
// After windows.h, which it needs.
#include <winhttp.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <thread>

#include "engine/system/http.h"
#include "engine/system/http_answer.h"
#include "engine/system/stop.h"
#include "engine/system/text_win32.h"

namespace tsa {
namespace {

// The proxies the usual variables name (http_proxy, https_proxy, no_proxy),
// as WinHTTP takes them: "http=host:port;https=host:port", and the hosts
// that bypass them; empty where none is named.
std::wstring proxyVariable(const wchar_t* name) {
  const wchar_t* value = _wgetenv(name);
  std::wstring proxy = value != nullptr ? value : L"";
  if (const std::size_t scheme = proxy.find(L"://"); scheme != std::wstring::npos) {
    proxy.erase(0, scheme + 3);
  }
  while (!proxy.empty() && proxy.back() == L'/') {
    proxy.pop_back();
  }
  return proxy;
}

std::wstring namedProxies() {
  std::wstring http = proxyVariable(L"http_proxy");
  http = http.empty() ? proxyVariable(L"HTTP_PROXY") : http;
  std::wstring https = proxyVariable(L"https_proxy");
  https = https.empty() ? proxyVariable(L"HTTPS_PROXY") : https;
  if (https.empty() || https == http) {
    return http;  // one proxy for both
  }
  return http.empty() ? L"https=" + https : L"http=" + http + L";https=" + https;
}

// One WinHTTP session for the process: its pool keeps a connection to each
// server for the next request.
HINTERNET session() {
  static const HINTERNET handle = [] {
    const std::wstring proxies = namedProxies();
    std::wstring bypass = proxyVariable(L"no_proxy");
    std::replace(bypass.begin(), bypass.end(), L',', L';');
    const HINTERNET opened =
        proxies.empty()
            ? ::WinHttpOpen(L"testset-assembler", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                            WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0)
            : ::WinHttpOpen(L"testset-assembler", WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxies.c_str(),
                            bypass.empty() ? WINHTTP_NO_PROXY_BYPASS : bypass.c_str(), 0);
    if (opened != nullptr) {
      ::WinHttpSetTimeouts(opened, 0, connectTimeoutSeconds * 1000, stallTimeoutSeconds * 1000,
                           stallTimeoutSeconds * 1000);
    }
    return opened;
  }();
  return handle;
}

// WinHTTP's own words for `error`.
std::string reasonOf(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      ::GetModuleHandleW(L"winhttp.dll"), error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  if (length == 0 || text == nullptr) {
    return "WinHTTP error " + std::to_string(error);
  }
  std::wstring words(text, length);
  ::LocalFree(text);
  while (!words.empty() &&
         (words.back() == L'\r' || words.back() == L'\n' || words.back() == L'.')) {
    words.pop_back();
  }
  return utf8FromWide(words);
}

// A header of the answer to `request`, or nothing.
std::string headerOf(HINTERNET request, DWORD which) {
  DWORD bytes = 0;
  ::WinHttpQueryHeaders(request, which, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                        &bytes, WINHTTP_NO_HEADER_INDEX);
  if (bytes == 0) {
    return {};
  }
  std::wstring value(bytes / sizeof(wchar_t), L'\0');
  if (!::WinHttpQueryHeaders(request, which, WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &bytes,
                             WINHTTP_NO_HEADER_INDEX)) {
    return {};
  }
  value.resize(bytes / sizeof(wchar_t));
  return utf8FromWide(value);
}

struct Handle {
  HINTERNET handle = nullptr;
  Handle() = default;
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { reset(); }
  void reset(HINTERNET other = nullptr) {
    if (handle != nullptr) {
      ::WinHttpCloseHandle(handle);
    }
    handle = other;
  }
};

}  // namespace

struct UrlReader::Transferring : http::ReadOfUrl {
  std::int64_t toDrop = 0;
  http::Answer answer;
  std::int64_t received = 0;  // of the answer's body
  Handle connection;
  Handle request;

  // Sends the request for the bytes from first + delivered on; false with
  // `reason` (and `retryable` where the network broke).
  bool start(bool& retryable);
  bool send(const std::wstring& headers, const URL_COMPONENTS& parts, bool& retryable);
  void stop() {
    request.reset();
    connection.reset();
  }
};

bool UrlReader::Transferring::send(const std::wstring& headers, const URL_COMPONENTS& parts,
                                   bool& retryable) {
  const BOOL sent = ::WinHttpSendRequest(
      request.handle, headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
      static_cast<DWORD>(-1L), WINHTTP_NO_REQUEST_DATA, 0, 0, 0);
  if (!sent || !::WinHttpReceiveResponse(request.handle, nullptr)) {
    const DWORD error = ::GetLastError();
    retryable = error == ERROR_WINHTTP_CONNECTION_ERROR || error == ERROR_WINHTTP_TIMEOUT ||
                error == ERROR_WINHTTP_CANNOT_CONNECT;
    reason = reasonOf(error);
    return false;
  }
  DWORD status = 0;
  DWORD size = sizeof status;
  ::WinHttpQueryHeaders(request.handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
  if (status == 401 && parts.dwUserNameLength > 0) {
    // The credentials of the URL, once the server asks for them.
    const std::wstring user(parts.lpszUserName, parts.dwUserNameLength);
    const std::wstring password(parts.lpszPassword, parts.dwPasswordLength);
    if (::WinHttpSetCredentials(request.handle, WINHTTP_AUTH_TARGET_SERVER,
                                WINHTTP_AUTH_SCHEME_BASIC, user.c_str(), password.c_str(),
                                nullptr) &&
        ::WinHttpSendRequest(request.handle,
                             headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                             static_cast<DWORD>(-1L), WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
        ::WinHttpReceiveResponse(request.handle, nullptr)) {
      size = sizeof status;
      ::WinHttpQueryHeaders(request.handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    }
  }
  answer = {};
  received = 0;
  answer.status = static_cast<long>(status);
  answer.statusLine =
      std::to_string(status) + " " + headerOf(request.handle, WINHTTP_QUERY_STATUS_TEXT);
  answer.etag = headerOf(request.handle, WINHTTP_QUERY_ETAG);
  answer.lastModified = headerOf(request.handle, WINHTTP_QUERY_LAST_MODIFIED);
  answer.contentRange = headerOf(request.handle, WINHTTP_QUERY_CONTENT_RANGE);
  answer.contentType = headerOf(request.handle, WINHTTP_QUERY_CONTENT_TYPE);
  const std::string contentLength = headerOf(request.handle, WINHTTP_QUERY_CONTENT_LENGTH);
  answer.contentLength = contentLength.empty() ? -1 : std::stoll(contentLength);
  const std::int64_t from = first + delivered;
  const http::Verdict verdict = http::judge(answer, info, probing, from, toDrop, reason);
  changed = verdict == http::Verdict::Changed;
  return verdict == http::Verdict::Usable;
}

bool UrlReader::Transferring::start(bool& retryable) {
  stop();
  retryable = false;
  std::wstring wide = wideFromUtf8(url);
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  parts.dwUserNameLength = parts.dwPasswordLength = static_cast<DWORD>(-1);
  if (!::WinHttpCrackUrl(wide.c_str(), 0, 0, &parts)) {
    reason = reasonOf(::GetLastError());
    return false;
  }
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  const std::wstring path = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                            std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  connection.reset(::WinHttpConnect(session(), host.c_str(), parts.nPort, 0));
  const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  request.reset(connection.handle == nullptr
                    ? nullptr
                    : ::WinHttpOpenRequest(connection.handle, L"GET",
                                           path.empty() ? L"/" : path.c_str(), nullptr,
                                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                           secure ? WINHTTP_FLAG_SECURE : 0));
  if (request.handle == nullptr) {
    reason = reasonOf(::GetLastError());
    return false;
  }
  // At most 5 redirects, never from https to http.
  DWORD redirects = 5;
  ::WinHttpSetOption(request.handle, WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS, &redirects,
                     sizeof redirects);
  DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP;
  ::WinHttpSetOption(request.handle, WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy);
  const http::Request asked = http::requestFor(info, first, length, first + delivered);
  toDrop = asked.toDrop;
  std::wstring headers;
  if (!asked.range.empty()) {
    headers += L"Range: bytes=" + wideFromUtf8(asked.range) + L"\r\n";
  }
  if (!asked.validator.empty()) {
    headers += wideFromUtf8(asked.validator) + L"\r\n";
  }
  return send(headers, parts, retryable);
}

UrlReader::UrlReader() : state_(std::make_unique<Transferring>()) {}

UrlReader::~UrlReader() = default;

void UrlReader::open(const std::string& url, const UrlInfo& info, std::int64_t first,
                     std::int64_t length) {
  state_->stop();
  state_->begin(url, info, first, length);
}

Transfer UrlReader::read(std::span<unsigned char> buffer) {
  Transferring& state = *state_;
  if (state.remaining() >= 0) {
    buffer = buffer.first(static_cast<std::size_t>(
        std::min<std::int64_t>(state.remaining(), static_cast<std::int64_t>(buffer.size()))));
  }
  if (buffer.empty()) {
    return {0, 0};
  }
  for (;;) {
    if (stopRequested()) {
      state.stop();
      return {0, EINTR};
    }
    bool retryable = false;
    if (state.request.handle == nullptr && !state.start(retryable)) {
      if (state.probing || state.changed || !retryable || ++state.attempt >= transferAttempts) {
        return {0, EIO};
      }
      std::this_thread::sleep_for(std::chrono::seconds(1 << (state.attempt - 1)));
      continue;
    }
    DWORD got = 0;
    const bool read =
        ::WinHttpReadData(state.request.handle, buffer.data(),
                          static_cast<DWORD>(std::min<std::size_t>(buffer.size(), 1U << 30)), &got);
    state.received += got;
    // An answer that ends before its length is a broken connection too.
    const bool cut = read && got == 0 && state.answer.contentLength >= 0 &&
                     state.received < state.answer.contentLength;
    if (!read || cut) {
      // A broken transfer: taken up again where it broke.
      state.reason = cut ? "the connection closed early" : reasonOf(::GetLastError());
      state.stop();
      if (state.probing || ++state.attempt >= transferAttempts) {
        return {0, EIO};
      }
      std::this_thread::sleep_for(std::chrono::seconds(1 << (state.attempt - 1)));
      continue;
    }
    if (got == 0) {
      return {0, 0};
    }
    const std::int64_t dropped = std::min<std::int64_t>(state.toDrop, got);
    state.toDrop -= dropped;
    if (dropped == got) {
      continue;
    }
    std::copy(buffer.begin() + dropped, buffer.begin() + got, buffer.begin());
    const std::size_t kept = got - static_cast<std::size_t>(dropped);
    state.delivered += static_cast<std::int64_t>(kept);
    state.reason.clear();
    return {kept, 0};
  }
}

const std::string& UrlReader::reason() const { return state_->reason; }

bool UrlReader::changed() const { return state_->changed; }

void UrlReader::close() { state_->stop(); }

void UrlReader::markProbe() { state_->probing = true; }

const http::Answer& UrlReader::answer() const { return state_->answer; }

}  // namespace tsa
