#include "engine/frame_source.h"

#include "engine/frame_buffer.h"
#include "engine/stop.h"

namespace tsa {
namespace {

std::int64_t alignDown(std::int64_t offset, std::size_t block) {
  return offset / static_cast<std::int64_t>(block) * static_cast<std::int64_t>(block);
}

std::int64_t alignUp(std::int64_t offset, std::size_t block) {
  return alignDown(offset + static_cast<std::int64_t>(block) - 1, block);
}

}  // namespace

Probe probeSource(const std::string& name, SourceForm& form) {
  form = SourceForm{name, FrameLayout{}, std::nullopt, false};
  const PathInfo info = lookAt(name);
  if (!info.readable) {
    return Probe::NotFound;
  }
  if (!info.regularFile) {
    return Probe::Usable;
  }
  const OpenResult file = openForReading(name);
  if (!file.file.isOpen()) {
    return Probe::NotFound;
  }
  form.regularFile = file.regularFile;
  if (!file.regularFile) {
    return Probe::Usable;  // swapped for something else since the look
  }
  // The header line and the first frame's marker line, at most.
  std::string start(2 * y4m::maxLineBytes, '\0');
  std::size_t got = 0;
  for (Transfer read{1, 0}; got < start.size() && read.bytes > 0 && read.error == 0;) {
    read = readSome(file.file, std::span(reinterpret_cast<unsigned char*>(start.data()) + got,
                                         start.size() - got));
    got += read.bytes;
  }
  start.resize(got);
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
  const std::size_t marker = y4m::lineLength(std::string_view(start).substr(headerBytes));
  form.layout = {static_cast<std::int64_t>(headerBytes),
                 static_cast<std::int64_t>(marker != 0 ? marker : y4m::frameMarker.size())};
  form.y4mHeader = std::move(header);
  return Probe::Usable;
}

bool FrameSource::open(const std::string& name, const FrameLayout& layout, bool pastPageCache) {
  file_ = openForReading(name);
  layout_ = layout;
  block_ = 0;
  if (!file_.file.isOpen()) {
    return false;
  }
  if (pastPageCache) {
    block_ = goPastPageCache(file_.file, maxDirectBlock);
  }
  return true;
}

bool FrameSource::startAt(std::int64_t first) {
  next_ = first;
  // Past the page cache every read finds its own place. A fresh open
  // already stands at the start, which is all a pipe can offer.
  const std::int64_t offset = layout_.offsetOf(first);
  return block_ != 0 || offset == 0 || seekTo(file_.file, offset) == 0;
}

bool FrameSource::readFull(std::span<unsigned char> buffer, std::size_t& got) {
  got = 0;
  // Past the page cache a read that ends off a block has met the end of the
  // file; reading on from there would start off a block.
  while (got < buffer.size() && (block_ == 0 || got % block_ == 0)) {
    if (stopRequested()) {
      return false;  // a pipe might keep the next read waiting
    }
    const Transfer read = readSome(file_.file, buffer.subspan(got));
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
    if (seekTo(file_.file, start) != 0) {
      return Read::RanOut;
    }
  }
  error_ = 0;
  std::size_t got = 0;
  if (!readFull(wanted, got) && got < skip + frameBytes) {
    if (stopRequested()) {
      return Read::Stopped;
    }
    return error_ != 0 ? Read::Failed : Read::RanOut;
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
