#include "engine/copy/frame_reference.h"

#include <algorithm>
#include <string_view>

#include "engine/system/file.h"
#include "engine/system/whole_number.h"

namespace tsa {
namespace {

bool readNumber(std::string_view text, std::int64_t& value) {
  const std::optional<std::int64_t> number = wholeNumber<std::int64_t>(trimmed(text));
  value = number.value_or(0);
  return number.has_value();
}

// Reads one line of the file: a header line, or a frame's of stream 0
// ("0, dts, pts, duration, size, hash"). False where it is neither.
bool readLine(std::string_view line, FrameReference& reference, bool& marked,
              std::string& problem) {
  if (line.starts_with("#format: frame checksums")) {
    marked = true;
  } else if (line.starts_with("#hash:")) {
    const std::string name(trimmed(line.substr(6)));
    std::string why;
    const std::optional<HashKind> kind = hashNamed(name, why);
    if (!kind) {
      problem = "of hash \"" + name + "\", which cannot be used: " + why;
      return false;
    }
    reference.kind = *kind;
  } else if (line.starts_with("#dimensions 0:")) {
    const std::string_view size = trimmed(line.substr(14));
    const std::size_t x = size.find('x');
    return x != std::string_view::npos && readNumber(size.substr(0, x), reference.width) &&
           readNumber(size.substr(x + 1), reference.height);
  } else if (!line.starts_with('#') && !trimmed(line).empty()) {
    std::vector<std::string_view> fields;
    for (std::size_t start = 0; start <= line.size();) {
      const std::size_t comma = std::min(line.find(',', start), line.size());
      fields.push_back(trimmed(line.substr(start, comma - start)));
      start = comma + 1;
    }
    std::int64_t size = 0;
    if (fields.size() != 6 || !readNumber(fields[4], size)) {
      return false;
    }
    if (fields[0] == "0") {
      reference.sizes.push_back(size);
      reference.hashes.emplace_back(fields[5]);
    }
  }
  return true;
}

}  // namespace

bool FrameReference::matches(std::int64_t frame, std::span<const unsigned char> picture) const {
  if (frame >= static_cast<std::int64_t>(hashes.size())) {
    return true;  // nothing to compare with: the count is checked at the end
  }
  Digest digest;
  return digestOf(kind, picture, digest) &&
         hexOf(digest) == hashes[static_cast<std::size_t>(frame)];
}

bool readFrameReference(const std::string& path, FrameReference& reference, std::string& problem) {
  reference = FrameReference{};
  reference.path = path;
  std::string text;
  if (int error = 0; !readWholeFile(path, text, error)) {
    problem = "Error: cannot read reference \"" + path + "\" (" + describeError(error) + ")";
    return false;
  }
  bool marked = false;
  std::string why;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    if (!readLine(std::string_view(text).substr(start, end - start), reference, marked, why)) {
      problem = "Error: reference \"" + path + "\" is " +
                (why.empty() ? std::string("not a framemd5 or framehash file") : why);
      return false;
    }
    start = end + 1;
  }
  if (!marked && reference.hashes.empty()) {
    problem = "Error: reference \"" + path + "\" is not a framemd5 or framehash file";
    return false;
  }
  return true;
}

}  // namespace tsa
