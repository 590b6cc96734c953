// The reader of one range of a URL, as it comes, into the reader's buffers.
#include <algorithm>
#include <cerrno>

#include "engine/system/http.h"
#include "engine/system/http_transfer.h"
#include "engine/system/stop.h"

namespace tsa {

struct UrlReader::Transferring : http::Transfer {};

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
      state.client.library().easy_pause(state.easy, CURLPAUSE_CONT);
      continue;
    }
    state.client.drive();
    if (state.done) {
      state.stop();
      if (state.complete()) {
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
      state.client.wait(50);
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
