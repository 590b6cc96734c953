#include "engine/source/frame_source.h"

#include <algorithm>

#include "engine/system/aligned_buffer.h"
#include "engine/system/stop.h"

namespace tsa {
namespace {

std::int64_t alignDown(std::int64_t offset, std::size_t block) {
  return offset / static_cast<std::int64_t>(block) * static_cast<std::int64_t>(block);
}

std::int64_t alignUp(std::int64_t offset, std::size_t block) {
  return alignDown(offset + static_cast<std::int64_t>(block) - 1, block);
}

}  // namespace

namespace {

// Reads the Y4M header at the start of `start`, a source's first bytes,
// into `form`: a source without the signature is raw.
Probe readLayout(std::string_view start, SourceForm& form) {
  if (!start.starts_with(y4m::signature)) {
    return Probe::Usable;
  }
  y4m::StreamHeader header;
  std::size_t headerBytes = 0;
  if (!y4m::readStreamHeader(start, header, headerBytes)) {
    return Probe::BrokenHeader;
  }
  // Every frame's marker is as long as the first; a file without frames, or
  // with a first marker that is none, fails the check of the first frame
  // that is asked for.
  const std::size_t marker = y4m::lineLength(start.substr(headerBytes));
  form.layout = {static_cast<std::int64_t>(headerBytes),
                 static_cast<std::int64_t>(marker != 0 ? marker : y4m::frameMarker.size())};
  form.y4mHeader = std::move(header);
  return Probe::Usable;
}

}  // namespace

Probe probeSource(const std::string& name, SourceForm& form) {
  form = SourceForm{};
  form.name = name;
  std::string start;
  const Probe probe = probeBytes(name, form, start);
  return probe == Probe::Usable ? readLayout(start, form) : probe;
}

FrameSource::~FrameSource() {
  if (shelf_ != nullptr && bytes_ && bytes_->worthKeeping()) {
    shelf_->put(form_.name, std::move(bytes_));
  }
}

bool FrameSource::open(const SourceForm& form, const FrameFormat& format, bool pastPageCache,
                       SourceShelf* shelf, ConnectionUse connections) {
  form_ = form;
  shelf_ = shelf;
  layout_ = form.layout;
  format_ = format;
  streamStarted_ = false;
  y4mStream_ = false;
  toDrop_ = 0;
  headBytes_ = 0;
  bytes_ = openBytes(form, {pastPageCache, static_cast<std::size_t>(layout_.pictureBytes), shelf,
                            layout_.markerBytes + layout_.pictureBytes, connections});
  if (!bytes_) {
    return false;
  }
  block_ = bytes_->block();
  return true;
}

bool FrameSource::startAt(std::int64_t first, std::int64_t count) {
  next_ = first;
  if (bytes_->inOrderOnly()) {
    toDrop_ = first;  // read and dropped: a stream has no place to move to
    return bytes_->startAt(0, -1);
  }
  if (block_ != 0) {
    return true;  // past the page cache every read finds its own place
  }
  const std::int64_t offset = layout_.offsetOf(first);
  return bytes_->startAt(offset, count >= 0 ? layout_.offsetOf(first + count) - offset : -1);
}

void FrameSource::expectNext(std::int64_t first, std::int64_t count) {
  // Only bytes read by ranges take it up: a stream's, or a file's, do not.
  const std::int64_t offset = layout_.offsetOf(first);
  bytes_->expectNext(offset, layout_.offsetOf(first + count) - offset);
}

namespace {

// Reads `buffer` full with the bytes of `bytes` at `offset`.
bool readAt(ByteSource& bytes, std::int64_t offset, std::span<unsigned char> buffer) {
  if (!bytes.startAt(offset, static_cast<std::int64_t>(buffer.size()))) {
    return false;
  }
  for (std::size_t got = 0; got < buffer.size();) {
    const Transfer read = bytes.read(buffer.subspan(got));
    if (read.bytes == 0) {
      return false;  // the end, or a read that failed
    }
    got += read.bytes;
  }
  return true;
}

}  // namespace

bool FrameSource::markersAre(std::int64_t first, std::int64_t count,
                             std::string_view marker) const {
  if (marker.empty()) {
    return true;
  }
  // Bytes of their own, through the page cache: the splice's may move data
  // past it, in whole blocks only.
  const std::unique_ptr<ByteSource> aside = openBytes(form_, {});
  std::array<unsigned char, y4m::maxLineBytes> bytes{};
  const std::span<unsigned char> wanted = std::span(bytes).first(marker.size());
  for (std::int64_t frame = first; frame < first + count; ++frame) {
    if (!aside || !readAt(*aside, offsetOf(frame), wanted) ||
        !std::equal(marker.begin(), marker.end(), wanted.begin())) {
      return false;
    }
  }
  return true;
}

bool FrameSource::markersLikeTheFirst(std::int64_t first, std::int64_t count) const {
  const std::unique_ptr<ByteSource> aside = openBytes(form_, {});
  std::string marker(markerBytes(), '\0');
  const std::span<unsigned char> bytes(reinterpret_cast<unsigned char*>(marker.data()),
                                       marker.size());
  return aside && readAt(*aside, offsetOf(0), bytes) && markersAre(first, count, marker);
}

std::string FrameSource::failure() const {
  return bytes_ ? bytes_->failure(error_) : describeError(error_);
}

FrameSource::Read FrameSource::shortRead() const {
  if (stopRequested()) {
    return Read::Stopped;
  }
  if (bytes_ && bytes_->changed()) {
    return Read::Changed;
  }
  if (bytes_ && bytes_->damaged()) {
    return Read::Damaged;
  }
  return error_ != 0 ? Read::Failed : Read::RanOut;
}

FrameSource::Read FrameSource::startStream(std::span<unsigned char> area) {
  streamStarted_ = true;
  std::size_t got = 0;
  const bool whole = readFull(head_, got);
  headBytes_ = got;
  if (!whole && (error_ != 0 || stopRequested())) {
    return shortRead();
  }
  if (!whole || !std::equal(y4m::signature.begin(), y4m::signature.end(), head_.begin())) {
    return Read::WholeFrame;  // raw frames, of which these bytes are the first
  }
  y4mStream_ = true;
  headBytes_ = 0;
  std::copy(head_.begin(), head_.end(), area.begin());
  std::size_t line = head_.size();
  const Read read = readStreamLine(area.first(y4m::maxLineBytes), line);
  if (read == Read::Stopped || read == Read::Failed) {
    return read;
  }
  y4m::StreamHeader header;
  std::size_t headerBytes = 0;
  if (read != Read::WholeFrame ||
      !y4m::readStreamHeader(std::string_view(reinterpret_cast<const char*>(area.data()), line),
                             header, headerBytes)) {
    return Read::BadHeader;
  }
  if (!y4m::holdsFramesOf(header, format_)) {
    streamFormat_ = y4m::describe(header);
    return Read::OtherFormat;
  }
  return Read::WholeFrame;
}

FrameSource::Read FrameSource::readStreamLine(std::span<unsigned char> buffer, std::size_t& line) {
  // A byte at a time: what follows the line belongs to the next read. Only
  // a header and the rare marker with fields come this way.
  while (line == 0 || buffer[line - 1] != '\n') {
    if (line == buffer.size()) {
      return Read::BadMarker;  // no line feed where one must be
    }
    std::size_t got = 0;
    if (!readFull(buffer.subspan(line, 1), got)) {
      return shortRead();
    }
    ++line;
  }
  return Read::WholeFrame;
}

FrameSource::Read FrameSource::readStreamFrame(std::span<unsigned char> area,
                                               std::span<unsigned char>& picture) {
  std::size_t marker = 0;
  if (y4mStream_) {
    // The common marker, FRAME and its line feed, comes in one read.
    if (!readFull(area.first(y4m::frameMarker.size()), marker)) {
      return shortRead();
    }
    if (area[marker - 1] != '\n') {
      if (const Read read = readStreamLine(area.first(y4m::maxLineBytes), marker);
          read != Read::WholeFrame) {
        return read;
      }
    }
    if (!y4m::isFrameMarker(area.first(marker))) {
      return Read::BadMarker;
    }
  }
  const auto pictureBytes = static_cast<std::size_t>(layout_.pictureBytes);
  // The first bytes of a raw stream were read to look for a header.
  const std::size_t fromHead = std::min(headBytes_, pictureBytes);
  std::copy_n(head_.begin(), fromHead, area.begin() + static_cast<std::ptrdiff_t>(marker));
  std::copy(head_.begin() + static_cast<std::ptrdiff_t>(fromHead),
            head_.begin() + static_cast<std::ptrdiff_t>(headBytes_), head_.begin());
  headBytes_ -= fromHead;
  std::size_t got = 0;
  if (!readFull(area.subspan(marker + fromHead, pictureBytes - fromHead), got)) {
    return shortRead();
  }
  picture = area.subspan(marker, pictureBytes);
  return Read::WholeFrame;
}

bool FrameSource::readFull(std::span<unsigned char> buffer, std::size_t& got) {
  got = 0;
  // Past the page cache a read that ends off a block has met the end of the
  // file; reading on from there would start off a block.
  while (got < buffer.size() && (block_ == 0 || got % block_ == 0)) {
    if (stopRequested()) {
      return false;  // a pipe might keep the next read waiting
    }
    const Transfer read = bytes_->read(buffer.subspan(got));
    if (read.error != 0) {
      error_ = read.error;
      return false;
    }
    if (read.bytes == 0) {
      return false;
    }
    got += read.bytes;
  }
  return got == buffer.size();
}

FrameSource::Read FrameSource::readNext(std::span<unsigned char> area,
                                        std::span<unsigned char>& picture) {
  error_ = 0;
  if (bytes_->inOrderOnly()) {
    if (!streamStarted_) {
      if (const Read read = startStream(area); read != Read::WholeFrame) {
        return read;
      }
    }
    // The frames before the first one asked for go through the buffer too.
    for (; toDrop_ > 0; --toDrop_) {
      if (const Read read = readStreamFrame(area, picture); read != Read::WholeFrame) {
        return read;
      }
    }
    return readStreamFrame(area, picture);
  }
  const std::int64_t offset = layout_.offsetOf(next_++);
  const auto frameBytes = static_cast<std::size_t>(layout_.markerBytes + layout_.pictureBytes);
  std::size_t skip = 0;  // bytes of the blocks before the frame
  std::span<unsigned char> wanted = area.first(frameBytes);
  if (block_ != 0) {
    // Past the page cache a read starts and ends on a block: the frame is
    // taken from inside the blocks that hold it.
    const std::int64_t start = alignDown(offset, block_);
    skip = static_cast<std::size_t>(offset - start);
    const std::int64_t end = offset + static_cast<std::int64_t>(frameBytes);
    wanted = area.first(static_cast<std::size_t>(alignUp(end, block_) - start));
    if (!bytes_->startAt(start, -1)) {
      return Read::RanOut;
    }
  }
  error_ = 0;
  std::size_t got = 0;
  if (!readFull(wanted, got) && got < skip + frameBytes) {
    return shortRead();
  }
  const std::span<unsigned char> frame = area.subspan(skip, frameBytes);
  const auto markerBytes = static_cast<std::size_t>(layout_.markerBytes);
  if (!markerIsValid(frame.first(markerBytes))) {
    return Read::BadMarker;
  }
  picture = frame.subspan(markerBytes);
  return Read::WholeFrame;
}

bool FrameSource::markerIsValid(std::span<const unsigned char> marker) {
  return marker.empty() || y4m::isFrameMarker(marker);
}

}  // namespace tsa
