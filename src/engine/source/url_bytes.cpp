#include "engine/source/url_bytes.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "engine/format/y4m.h"

namespace tsa {
namespace {

class UrlBytes final : public ByteSource {
 public:
  explicit UrlBytes(const SourceForm& form)
      : url_(requestUrl(form.name, *form.url)), info_(*form.url) {}

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
    reader_.open(url_, info_, from, end == noEnd ? -1 : end - from);
    return true;
  }

  [[nodiscard]] Transfer read(std::span<unsigned char> buffer) override {
    return reader_.read(buffer);
  }

  [[nodiscard]] std::string failure(int /*error*/) const override { return reader_.reason(); }

  [[nodiscard]] bool changed() const override { return reader_.changed(); }

 private:
  std::string url_;
  UrlInfo info_;
  UrlReader reader_;
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

std::unique_ptr<ByteSource> urlBytes(const SourceForm& form) {
  return std::make_unique<UrlBytes>(form);
}

}  // namespace tsa
