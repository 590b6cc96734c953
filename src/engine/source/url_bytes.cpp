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
    const UrlParts::Cut cut = partsFor(frameBytes_, bytes, connections_);
    parted_ = connections_ > 1 && end != noEnd && bytes >= partedFrom && cut.count >= 2;
    if (parted_) {
      parts_.open(url_, info_, from, bytes, cut, connections_,
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
