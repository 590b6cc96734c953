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
    const Range range = rangeOf(offset, length);
    if (queued_) {
      queued_ = false;
      if (parts_.readQueued(range.from, range.bytes)) {
        return true;  // its parts are under way, some perhaps landed
      }
    }
    parted_ = partedFor(range);
    if (parted_) {
      parts_.open(url_, info_, range.from, range.bytes,
                  partsFor(frameBytes_, range.bytes, connections_), connections_,
                  static_cast<std::size_t>(connections_) * partMemoryBytes);
    } else {
      reader_.open(url_, info_, range.from, range.end == noEnd ? -1 : range.bytes);
    }
    return true;
  }

  // The next splice of this source reads these bytes: where both are in
  // parts, the next one's parts are asked for as connections come free.
  void expectNext(std::int64_t offset, std::int64_t length) override {
    const Range range = rangeOf(offset, length);
    queued_ =
        parted_ && partedFor(range) &&
        parts_.queue(range.from, range.bytes, partsFor(frameBytes_, range.bytes, connections_));
  }

  // Kept for the next splice while its parts are under way.
  [[nodiscard]] bool worthKeeping() const override { return queued_; }

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
  // The one range the bytes take, within what the server holds.
  static constexpr std::int64_t noEnd = std::numeric_limits<std::int64_t>::max();
  struct Range {
    std::int64_t from = 0;
    std::int64_t end = 0;
    std::int64_t bytes = 0;
  };
  [[nodiscard]] Range rangeOf(std::int64_t offset, std::int64_t length) const {
    const std::int64_t held = info_.length >= 0 ? info_.length : noEnd;
    const std::int64_t end = length >= 0 ? std::min(offset + length, held) : held;
    const std::int64_t from = std::min(offset, end);
    return {from, end, end - from};
  }

  // A range large enough for parts over several connections.
  [[nodiscard]] bool partedFor(const Range& range) const {
    return connections_ > 1 && range.end != noEnd && range.bytes >= partedFrom &&
           partsFor(frameBytes_, range.bytes, connections_).count >= 2;
  }

  std::string url_;
  UrlInfo info_;
  std::int64_t frameBytes_;
  int connections_;
  bool parted_ = false;
  bool queued_ = false;  // the next splice's range is queued behind this one
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

UrlParts::Cut partsFor(std::int64_t frameBytes, std::int64_t rangeBytes, int connections) {
  constexpr auto most = static_cast<std::int64_t>(partMemoryBytes);
  UrlParts::Cut cut;
  cut.unitBytes = frameBytes > 0 ? frameBytes : std::int64_t{1} << 20;
  if (cut.unitBytes > most) {
    const std::int64_t pieces = (cut.unitBytes + most - 1) / most;
    cut.unitBytes = (cut.unitBytes + pieces - 1) / pieces;
  }
  const std::int64_t units =
      std::max<std::int64_t>(1, (rangeBytes + cut.unitBytes - 1) / cut.unitBytes);
  const std::int64_t perPart = std::max<std::int64_t>(1, most / cut.unitBytes);
  const std::int64_t perRound = perPart * connections;
  const std::int64_t rounds = (units + perRound - 1) / perRound;
  cut.count = std::min(units, rounds * connections);
  return cut;
}

}  // namespace tsa
