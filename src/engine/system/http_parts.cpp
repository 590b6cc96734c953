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

UrlParts::Range::Range(std::int64_t from, std::int64_t bytes, Cut cutting, std::int64_t firstIndex)
    : first(from),
      length(bytes),
      cut(cutting),
      units((bytes + cutting.unitBytes - 1) / cutting.unitBytes),
      firstPart(firstIndex),
      partCount(std::clamp<std::int64_t>(cutting.count, 1, std::max<std::int64_t>(units, 1))) {}

std::int64_t UrlParts::Range::partStart(std::int64_t index) const {
  // The parts with a unit more come first: where ranges follow each other,
  // the last parts asked for are then the short ones, and the connections
  // end together.
  const std::int64_t part = index - firstPart;
  const std::int64_t longer = units % partCount;
  return std::min(length, (part * (units / partCount) + std::min(part, longer)) * cut.unitBytes);
}

std::size_t UrlParts::Range::largestPart() const {
  return static_cast<std::size_t>(
      std::min(length, (units + partCount - 1) / partCount * cut.unitBytes));
}

void UrlParts::open(const std::string& url, const UrlInfo& info, std::int64_t first,
                    std::int64_t length, Cut cut, int connections, std::size_t memoryBytes) {
  for (const std::unique_ptr<Part>& part : parts_) {
    part->transfer.stop();
  }
  url_ = url;
  info_ = info;
  reading_ = Range(first, length, cut, 0);
  queued_.reset();
  nextToRead_ = 0;
  nextToStart_ = 0;
  connections_ = connections;
  active_ = 0;
  endsEarly_ = false;
  failed_ = nullptr;
  bufferBytes_ = reading_.largestPart();
  const auto buffers = static_cast<std::size_t>(std::max<std::int64_t>(
      connections,
      static_cast<std::int64_t>(memoryBytes / std::max<std::size_t>(bufferBytes_, 1))));
  parts_.resize(std::min(parts_.size(), buffers));
  while (parts_.size() < buffers) {
    parts_.push_back(std::make_unique<Part>());
  }
  startWhatMay();
}

bool UrlParts::queue(std::int64_t first, std::int64_t length, Cut cut) {
  Range next(first, length, cut, reading_.endPart());
  if (queued_ || next.largestPart() > bufferBytes_) {
    return false;
  }
  queued_ = next;
  startWhatMay();
  return true;
}

bool UrlParts::readQueued(std::int64_t first, std::int64_t length) {
  passReadOutParts();
  if (!queued_ || queued_->first != first || queued_->length != length ||
      nextToRead_ != reading_.endPart() || endsEarly_ || failed_ != nullptr) {
    return false;
  }
  reading_ = *queued_;
  queued_.reset();
  return true;
}

UrlParts::Part& UrlParts::partAt(std::int64_t index) const {
  return *parts_[static_cast<std::size_t>(index) % parts_.size()];
}

// Asks for the next parts while a connection and a buffer are free: a
// buffer whose part is read out, and whose transfer has ended.
void UrlParts::startWhatMay() {
  const std::int64_t known = queued_ ? queued_->endPart() : reading_.endPart();
  const auto buffers = static_cast<std::int64_t>(parts_.size());
  while (active_ < connections_ && nextToStart_ < known && nextToStart_ < nextToRead_ + buffers &&
         !partAt(nextToStart_).transfer.active) {
    startPart(partAt(nextToStart_), nextToStart_);
    ++nextToStart_;
  }
}

void UrlParts::startPart(Part& part, std::int64_t index) {
  const Range& range = index < reading_.endPart() ? reading_ : *queued_;
  const std::int64_t offset = range.partStart(index);
  part.readAt = 0;
  part.failed = false;
  part.length = static_cast<std::size_t>(range.partStart(index + 1) - offset);
  if (part.bufferBytes != bufferBytes_) {
    part.buffer = std::make_unique_for_overwrite<unsigned char[]>(bufferBytes_);
    part.bufferBytes = bufferBytes_;
  }
  http::Transfer& transfer = part.transfer;
  transfer.stop();
  transfer.begin(url_, info_, range.first + offset, static_cast<std::int64_t>(part.length));
  transfer.landing = true;
  transfer.socketReadBytes = partReadBytes;
  transfer.into = std::span(part.buffer.get(), part.length);
  transfer.filled = 0;
  transfer.start();
  ++active_;
}

// Moves past the parts read out, whose buffers then take the next parts.
void UrlParts::passReadOutParts() {
  const std::int64_t before = nextToRead_;
  while (nextToRead_ < std::min(nextToStart_, reading_.endPart()) &&
         partAt(nextToRead_).readAt == partAt(nextToRead_).length) {
    ++nextToRead_;
  }
  if (nextToRead_ != before) {
    startWhatMay();
  }
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

// Moves every part on until part `index` has `wanted` bytes not yet read
// out (or the rest of it), or has ended; false where it failed, or a stop
// came.
bool UrlParts::waitForBytes(std::int64_t index, std::size_t wanted) {
  http::Client& client = http::Client::get();
  for (;;) {
    client.drive();
    endLandedParts();
    if (index < nextToStart_) {
      const Part& part = partAt(index);
      if (part.transfer.filled - part.readAt >= std::min(wanted, part.length - part.readAt) ||
          part.failed) {
        return !part.failed;
      }
      if (!part.transfer.active) {
        return true;  // it came short: the range ends here
      }
    }
    if (stopRequested()) {
      return false;
    }
    client.wait(50);
  }
}

Transfer UrlParts::read(std::span<unsigned char> buffer) {
  if (nextToRead_ == reading_.endPart() || endsEarly_ || buffer.empty()) {
    return {0, 0};
  }
  Part& part = partAt(nextToRead_);
  if (!waitForBytes(nextToRead_, buffer.size())) {
    failed_ = &part;
    for (const std::unique_ptr<Part>& each : parts_) {
      each->transfer.stop();
    }
    active_ = 0;
    return {0, stopRequested() ? EINTR : EIO};
  }
  if (part.transfer.filled == part.readAt) {
    endsEarly_ = true;  // the server held less than the range: the source ends here
    return {0, 0};
  }
  const std::size_t count = std::min(buffer.size(), part.transfer.filled - part.readAt);
  std::copy_n(part.buffer.get() + part.readAt, count, buffer.data());
  part.readAt += count;
  passReadOutParts();
  return {count, 0};
}

const std::string& UrlParts::reason() const {
  static const std::string none;
  return failed_ != nullptr ? failed_->transfer.reason : none;
}

bool UrlParts::changed() const { return failed_ != nullptr && failed_->transfer.changed; }

}  // namespace tsa
