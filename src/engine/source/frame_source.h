// The source layer, on the format and system layers: where frames come
// from.
// The frame reader: what the pre-scan finds a source to be, and reads of
// whole frames during the copy, from the bytes its kind gives
// (byte_source.h), past the page cache on block boundaries where the run
// asks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "engine/format/y4m.h"
#include "engine/frame.h"
#include "engine/source/byte_source.h"
#include "engine/source/source_form.h"
#include "engine/system/file.h"

namespace tsa {

/// Finds how the frames of the source `name` lie into `form`, once its
/// kind has looked at it (see probeBytes): a source whose first bytes are
/// the Y4M signature is read as Y4M, any other as raw frames; a source its
/// kind does not open in the pre-scan (a pipe, a device) as its first
/// frames will say. The layout's picture size is the caller's to set.
[[nodiscard]] Probe probeSource(const std::string& name, SourceForm& form);

/// One source, open for one splice: its frames are read one after the
/// other from a first frame on.
class FrameSource {
 public:
  enum class Read {
    WholeFrame,   // `picture` holds the frame
    RanOut,       // the source ends before the frame does
    Failed,       // a read failed; see error()
    BadMarker,    // the frame's marker is not one
    Stopped,      // a stop was asked for while the frame was read
    BadHeader,    // a Y4M stream whose header cannot be read
    OtherFormat,  // a Y4M stream of another format; see streamFormat()
    Changed,      // a URL that is no longer the version the pre-scan saw
    Damaged,      // a compressed member whose bytes are damaged; see failure()
  };

  FrameSource() = default;
  FrameSource(const FrameSource&) = delete;
  FrameSource& operator=(const FrameSource&) = delete;
  /// Leaves its bytes on the shelf it was opened with, where they are worth
  /// keeping for the next splice.
  ~FrameSource();

  /// Opens the source `form` describes, whose frames lie as its layout
  /// says, and reads it past the page cache if `pastPageCache` and the file
  /// allows. A named pipe is waited for until its writer comes; its frames
  /// are read from its start, as Y4M when it starts with the signature, and
  /// must be of `format`. A URL is asked for nothing yet. False when it
  /// cannot be opened, or a stop ended the wait. Bytes that `shelf` keeps
  /// of it are taken up again.
  /// A large range from a server is fetched over `connections` at once.
  [[nodiscard]] bool open(const SourceForm& form, const FrameFormat& format, bool pastPageCache,
                          SourceShelf* shelf = nullptr, ConnectionUse connections = {});

  /// Makes `first` the next frame to read, of `count` to be read (all to
  /// the end where -1); false when the source cannot be moved there. A
  /// stream, and a URL whose server serves no ranges, is read from its
  /// start and the frames before `first` dropped; a URL is asked for the
  /// one range the frames take.
  [[nodiscard]] bool startAt(std::int64_t first, std::int64_t count = -1);

  /// Says that the next splice reads `count` frames of this source from
  /// `first` on, once this one's are read: a source on a server may fetch
  /// them while this splice's land, and is then kept for it.
  void expectNext(std::int64_t first, std::int64_t count);

  /// Reads the next frame into `area` (a slot's read area, aligned to
  /// maxDirectBlock) and points `picture` at the frame's bytes inside it.
  [[nodiscard]] Read readNext(std::span<unsigned char> area, std::span<unsigned char>& picture);

  /// The bytes of the marker before each picture (none in a raw file).
  [[nodiscard]] std::size_t markerBytes() const {
    return static_cast<std::size_t>(layout_.markerBytes);
  }

  /// The bytes of each picture.
  [[nodiscard]] std::size_t pictureBytes() const {
    return static_cast<std::size_t>(layout_.pictureBytes);
  }

  /// True when no read waits for someone else to write (a file on a disk,
  /// not a pipe): frames may then be read ahead of their writes.
  [[nodiscard]] bool readsWithoutWaiting() const { return !bytes_->inOrderOnly(); }

  /// True when the source is a file whose blocks another file may share.
  [[nodiscard]] bool canShareBlocks() const { return bytes_ && bytes_->sharableFile() != nullptr; }

  /// The source as the system knows it, for sharing its blocks (where
  /// canShareBlocks).
  [[nodiscard]] const FileHandle& handle() const { return *bytes_->sharableFile(); }

  /// Where frame `frame` starts in the source: its marker, then its picture.
  [[nodiscard]] std::int64_t offsetOf(std::int64_t frame) const { return layout_.offsetOf(frame); }

  /// True when the `count` frames from `first` on each start with exactly
  /// `marker` (always, for no marker), read without moving the source.
  [[nodiscard]] bool markersAre(std::int64_t first, std::int64_t count,
                                std::string_view marker) const;

  /// True when the `count` frames from `first` on each start with the
  /// first frame's marker, so that they lie where the layout says (always,
  /// for no marker).
  [[nodiscard]] bool markersLikeTheFirst(std::int64_t first, std::int64_t count) const;

  /// The error of the last read that Failed.
  [[nodiscard]] int error() const { return error_; }

  /// Why the last read Failed, in words: the system's, or a URL's reason.
  [[nodiscard]] std::string failure() const;

  /// What a stream that is OtherFormat holds ("1280x720 yuv420p").
  [[nodiscard]] const std::string& streamFormat() const { return streamFormat_; }

 private:
  /// Reads the first bytes of a stream: a Y4M header, or the start of its
  /// first frame, which is kept for it.
  [[nodiscard]] Read startStream(std::span<unsigned char> area);

  /// Reads the next frame of a stream into `area`: from its marker line,
  /// of any length, in a Y4M stream.
  [[nodiscard]] Read readStreamFrame(std::span<unsigned char> area,
                                     std::span<unsigned char>& picture);

  /// Reads one line of a stream into `line` (at most y4m::maxLineBytes,
  /// its line feed included); the bytes of `line` already there are its
  /// start.
  [[nodiscard]] Read readStreamLine(std::span<unsigned char> buffer, std::size_t& line);

  /// How a short read ends: Stopped, Failed or RanOut.
  [[nodiscard]] Read shortRead() const;

  /// Reads `buffer` full from the file's position; false when the source
  /// ends first (`got` says how far it came) or a read fails.
  [[nodiscard]] bool readFull(std::span<unsigned char> buffer, std::size_t& got);

  /// The marker check: true when the `markerBytes` before a picture are a
  /// frame marker (always, in a raw file).
  [[nodiscard]] static bool markerIsValid(std::span<const unsigned char> marker);

  SourceForm form_;
  SourceShelf* shelf_ = nullptr;
  std::unique_ptr<ByteSource> bytes_;
  FrameLayout layout_;
  FrameFormat format_;
  bool streamStarted_ = false;  // its first bytes are read
  bool y4mStream_ = false;
  std::int64_t toDrop_ = 0;  // frames of the stream before the first one asked for
  std::array<unsigned char, y4m::signature.size()> head_{};  // a raw stream's first bytes
  std::size_t headBytes_ = 0;                                // not yet taken
  std::string streamFormat_;
  std::size_t block_ = 0;  // past the page cache: the block reads start and end on
  std::int64_t next_ = 0;
  int error_ = 0;
};

}  // namespace tsa
