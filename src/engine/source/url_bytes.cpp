#include "engine/source/url_bytes.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "engine/format/y4m.h"

namespace tsa {
namespace {

// A range takes several connections where it is at least this large, and
// holds at least two parts.
constexpr std::int64_t partedFrom = 4 << 20;

class UrlBytes final : public ByteSource {
 public:
  UrlBytes(const SourceForm& form, const ReadOptions& options)
      : url_(requestUrl(form.name, *form.url)),
        info_(*form.url),
        frameBytes_(options.frameBytes),
        connections_(info_.distant || options.connections.nearToo ? options.connections.count : 1) {
  }

  // A server without ranges sends all of it, from its start.
  [[nodiscard]] bool inOrderOnly() const override { return !info_.ranges; }

  [[nodiscard]] bool startAt(std::int64_t offset, std::int64_t length) override {
    if (!info_.ranges) {
      reader_.open(url_, info_, 0, -1);
      return true;
    }
    // The one range the bytes take, within what the server holds.
    constexpr std::int64_t noEnd = std::numeric_limits<std::int64_t>::max();
    const std::int64_t held = info_.length >= 0 ? info_.length : noEnd;
    const std::int64_t end = length >= 0 ? std::min(offset + length, held) : held;
    const std::int64_t from = std::min(offset, end);
    const std::int64_t bytes = end - from;
    const std::size_t partBytes = partBytesFor(frameBytes_, bytes, connections_);
    parted_ = connections_ > 1 && end != noEnd && bytes >= partedFrom &&
              bytes >= 2 * static_cast<std::int64_t>(partBytes);
    if (parted_) {
      parts_.open(url_, info_, from, bytes, partBytes, connections_,
                  static_cast<std::size_t>(connections_) * partMemoryBytes);
    } else {
      reader_.open(url_, info_, from, end == noEnd ? -1 : bytes);
    }
    return true;
  }

  [[nodiscard]] Transfer read(std::span<unsigned char> buffer) override {
    return parted_ ? parts_.read(buffer) : reader_.read(buffer);
  }

  [[nodiscard]] std::string failure(int /*error*/) const override {
    return parted_ ? parts_.reason() : reader_.reason();
  }

  [[nodiscard]] bool changed() const override {
    return parted_ ? parts_.changed() : reader_.changed();
  }

 private:
  std::string url_;
  UrlInfo info_;
  std::int64_t frameBytes_;
  int connections_;
  bool parted_ = false;
  UrlReader reader_;
  UrlParts parts_;
};

}  // namespace

Probe probeUrlSource(const std::string& name, SourceForm& form, std::string& start,
                     std::shared_ptr<const UrlAccess> access) {
  start.assign(2 * y4m::maxLineBytes, '\0');
  std::size_t got = 0;
  UrlInfo info;
  info.access = std::move(access);
  if (!probeUrl(requestUrl(name, info), info,
                std::span(reinterpret_cast<unsigned char*>(start.data()), start.size()), got,
                form.failure)) {
    return Probe::NotFound;
  }
  start.resize(got);
  form.url = info;
  form.bytes = std::max<std::int64_t>(info.length, 0);
  return Probe::Usable;
}

std::unique_ptr<ByteSource> urlBytes(const SourceForm& form, const ReadOptions& options) {
  return std::make_unique<UrlBytes>(form, options);
}

std::size_t partBytesFor(std::int64_t frameBytes, std::int64_t rangeBytes, int connections) {
  constexpr std::int64_t about = 8 << 20;
  constexpr auto most = static_cast<std::int64_t>(partMemoryBytes);
  if (frameBytes <= 0) {
    return static_cast<std::size_t>(about);
  }
  if (frameBytes > most) {
    const std::int64_t pieces = (frameBytes + most - 1) / most;
    return static_cast<std::size_t>((frameBytes + pieces - 1) / pieces);
  }
  // Of k frames a part, the range takes ceil(parts / connections) rounds
  // of k frames' time each: the fewest frames' time, and of those the
  // largest parts (the fewest requests).
  const std::int64_t frames = std::max<std::int64_t>(1, (rangeBytes + frameBytes - 1) / frameBytes);
  const std::int64_t largest = std::clamp<std::int64_t>(about / frameBytes, 1, frames);
  const auto framesTime = [frames, connections](std::int64_t k) {
    const std::int64_t parts = (frames + k - 1) / k;
    return (parts + connections - 1) / connections * k;
  };
  std::int64_t best = largest;
  for (std::int64_t k = largest - 1; k >= 1; --k) {
    if (framesTime(k) < framesTime(best)) {
      best = k;
    }
  }
  return static_cast<std::size_t>(best * frameBytes);
}

}  // namespace tsa
