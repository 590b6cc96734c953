// A range of a URL in parts over several connections, read back in order.
#include <algorithm>
#include <cerrno>
#include <memory>

#include "engine/system/http.h"
#include "engine/system/http_transfer.h"
#include "engine/system/stop.h"

namespace tsa {
namespace {

// Larger reads from the socket than the library's own: a part lands whole
// in a buffer of its own.
constexpr long partReadBytes = 512L << 10;

}  // namespace

// A buffer's part: its transfer, the bytes it lands in, and how much of
// them has been read out.
struct UrlParts::Part {
  http::Transfer transfer;
  // Not cleared: its pages are first touched as the part lands, while the
  // transfers wait for the network, not before the first request goes.
  std::unique_ptr<unsigned char[]> buffer;
  std::size_t bufferBytes = 0;
  std::size_t readAt = 0;
  std::size_t length = 0;
  bool failed = false;
};

UrlParts::UrlParts() = default;

UrlParts::~UrlParts() = default;

void UrlParts::open(const std::string& url, const UrlInfo& info, std::int64_t first,
                    std::int64_t length, Cut cut, int connections, std::size_t memoryBytes) {
  url_ = url;
  info_ = info;
  first_ = first;
  length_ = length;
  cut_ = cut;
  units_ = (length + cut.unitBytes - 1) / cut.unitBytes;
  partCount_ = std::clamp<std::int64_t>(cut.count, 1, std::max<std::int64_t>(units_, 1));
  const std::size_t partBytes = static_cast<std::size_t>(
      std::min(length, (units_ + partCount_ - 1) / partCount_ * cut.unitBytes));
  nextToRead_ = 0;
  nextToStart_ = 0;
  connections_ = connections;
  active_ = 0;
  endsEarly_ = false;
  failed_ = nullptr;
  const std::int64_t buffers = std::min(
      partCount_,
      std::max<std::int64_t>(connections, static_cast<std::int64_t>(memoryBytes / partBytes)));
  for (const std::unique_ptr<Part>& part : parts_) {
    part->transfer.stop();
  }
  parts_.resize(std::min(parts_.size(), static_cast<std::size_t>(buffers)));
  while (parts_.size() < static_cast<std::size_t>(buffers)) {
    parts_.push_back(std::make_unique<Part>());
  }
  for (const std::unique_ptr<Part>& part : parts_) {
    if (part->bufferBytes != partBytes) {
      part->buffer = std::make_unique_for_overwrite<unsigned char[]>(partBytes);
      part->bufferBytes = partBytes;
    }
  }
  startWhatMay();
}

// Asks for the next parts while a connection and a buffer are free.
void UrlParts::startWhatMay() {
  const auto buffers = static_cast<std::int64_t>(parts_.size());
  while (active_ < connections_ && nextToStart_ < partCount_ &&
         nextToStart_ < nextToRead_ + buffers) {
    startPart(*parts_[static_cast<std::size_t>(nextToStart_ % buffers)], nextToStart_);
    ++nextToStart_;
  }
}

void UrlParts::startPart(Part& part, std::int64_t index) {
  const std::int64_t offset = partStart(index);
  part.readAt = 0;
  part.failed = false;
  part.length = static_cast<std::size_t>(partStart(index + 1) - offset);
  http::Transfer& transfer = part.transfer;
  transfer.stop();
  transfer.begin(url_, info_, first_ + offset, static_cast<std::int64_t>(part.length));
  transfer.landing = true;
  transfer.socketReadBytes = partReadBytes;
  transfer.into = std::span(part.buffer.get(), part.length);
  transfer.filled = 0;
  transfer.start();
  ++active_;
}

// Where part `index` starts in the range: units shared out as evenly as
// they go.
std::int64_t UrlParts::partStart(std::int64_t index) const {
  return std::min(length_, index * units_ / partCount_ * cut_.unitBytes);
}

// Ends the transfers that are done: whole, or failed for good (a broken
// one is made again where it broke); their connections take the next parts.
void UrlParts::endLandedParts() {
  for (const std::unique_ptr<Part>& part : parts_) {
    http::Transfer& transfer = part->transfer;
    if (transfer.done && transfer.active) {
      transfer.stop();
      if (transfer.complete()) {
        --active_;
      } else if (!transfer.retry()) {
        part->failed = true;
        --active_;
      }  // else made again, from where it broke
    }
  }
  startWhatMay();
}

// Moves every part on until `part` has `wanted` bytes not yet read out
// (or the rest of it), or has ended; false where it failed, or a stop came.
bool UrlParts::waitForBytes(Part& part, std::size_t wanted) {
  wanted = std::min(wanted, part.length - part.readAt);
  http::Client& client = part.transfer.client;
  for (;;) {
    client.drive();
    endLandedParts();
    if (part.transfer.filled - part.readAt >= wanted || part.failed) {
      return !part.failed;
    }
    if (!part.transfer.active) {
      return true;  // it came short: the range ends here
    }
    if (stopRequested()) {
      return false;
    }
    client.wait(50);
  }
}

Transfer UrlParts::read(std::span<unsigned char> buffer) {
  while (nextToRead_ < partCount_ && !endsEarly_ && !buffer.empty()) {
    Part& part = *parts_[static_cast<std::size_t>(nextToRead_) % parts_.size()];
    if (part.readAt == part.length) {
      // Read out: its buffer takes the next part not yet asked for.
      ++nextToRead_;
      startWhatMay();
      continue;
    }
    if (!waitForBytes(part, buffer.size())) {
      failed_ = &part;
      for (const std::unique_ptr<Part>& each : parts_) {
        each->transfer.stop();
      }
      active_ = 0;
      return {0, stopRequested() ? EINTR : EIO};
    }
    if (part.transfer.filled == part.readAt) {
      endsEarly_ = true;  // the server held less than the range: the source ends here
      break;
    }
    const std::size_t count = std::min(buffer.size(), part.transfer.filled - part.readAt);
    std::copy_n(part.buffer.get() + part.readAt, count, buffer.data());
    part.readAt += count;
    return {count, 0};
  }
  return {0, 0};
}

const std::string& UrlParts::reason() const {
  static const std::string none;
  return failed_ != nullptr ? failed_->transfer.reason : none;
}

bool UrlParts::changed() const { return failed_ != nullptr && failed_->transfer.changed; }

}  // namespace tsa
