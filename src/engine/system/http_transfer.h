// One transfer of a URL through libcurl, as the readers of whole ranges
// and of ranges in parts share it: the process's client, a request of its
// own on an easy handle of its own, and what the answer means. The system
// layer's own, behind http.h.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/system/curl_library.h"
#include "engine/system/http.h"
#include "engine/system/http_answer.h"

namespace tsa::http {

// libcurl for the whole process: loaded and set up once, when the first
// URL is met, and one multi handle whose connection cache keeps a
// connection to each server for the next request (1,000 one-frame splices
// of one URL are 1,000 requests on one connection). Each transfer takes an
// easy handle of its own, given back when it ends.
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
  [[nodiscard]] CURLM* multi() const { return multi_; }

  /// An easy handle for one transfer, and its return.
  [[nodiscard]] CURL* takeHandle();
  void giveBack(CURL* easy);

  /// Moves every transfer under way on, and marks those that ended done.
  void drive();
  /// Waits up to `ms` milliseconds for any transfer to have something to do.
  void wait(int ms);

 private:
  Client();
  ~Client();

  std::string whyNot_;
  const curl::Library* library_;
  CURLM* multi_ = nullptr;
  std::vector<CURL*> idle_;
};

/// A transfer: one read of a URL (taken up again where it breaks) into
/// the span `into`, bytes beyond it carried to the next; or, `landing`,
/// all of it into `into` as it comes, whoever drives the client.
struct Transfer : ReadOfUrl {
  Transfer();
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;
  ~Transfer();

  Client& client = Client::get();
  CURL* easy = nullptr;
  bool active = false;  // a request is under way
  bool done = false;    // and has ended, with `result`
  CURLcode result = CURLE_OK;
  bool paused = false;
  bool landing = false;                 // all of the read lands in `into`
  long socketReadBytes = 0;             // the library's read size, where not its own
  std::int64_t toDrop = 0;              // bytes before `first` in a response from the start
  Answer answer;                        // to the request under way
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

  /// Ends the request under way, if any.
  void stop();
  /// Makes the request for the bytes from first + delivered on.
  void start();
  /// True, once the request is done, where all it asked for came.
  [[nodiscard]] bool complete();
  /// Makes a broken request again, from where it broke, after a pause;
  /// false (reason set) where it failed for good.
  [[nodiscard]] bool retry();

 private:
  void setAccess(const Request& request);
  [[nodiscard]] bool answerIsUsable();
  void answerOfFtp();
  [[nodiscard]] bool keptAsError(const char* bytes, std::size_t count);
  std::size_t take(const char* bytes, std::size_t count);
  void land(const char* bytes, std::size_t count);

  static std::size_t onBody(char* bytes, std::size_t size, std::size_t count, void* self);
  static std::size_t onHeader(char* bytes, std::size_t size, std::size_t count, void* self);
  static int onProgress(void* self, curl_off_t toGet, curl_off_t got, curl_off_t toSend,
                        curl_off_t sent);
};

}  // namespace tsa::http
