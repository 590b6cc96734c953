// The output as the copy pass writes it: a stream of whole units (a header
// where the output has one, then frames), and a count of the units that the
// file holds whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/system/file.h"

namespace tsa {

/// Writes units in order and knows, after every write, which of them the
/// file holds whole. Past the page cache every write starts and ends on the
/// file system's block, in the file and in memory: the end of a unit that
/// falls inside a block is carried into the next write, and written
/// through the page cache when the stream has to stand still (flushCarried).
/// A file that a write failed on is cut back to its whole units.
///
/// Frames are laid out for writing in a slot of the frame buffer (see
/// frame_buffer.h), in place: the write of one frame may go on while the
/// next are laid out in other slots.
class OutputStream {
 public:
  /// A stream into `file` that starts with `header` and puts `frameMarker`
  /// before every frame (both empty for a raw output), of which at most
  /// `maxPendingFrames` are staged and not yet whole in the file at once.
  OutputStream(OutputFile& file, std::string header, std::string frameMarker,
               std::size_t maxPendingFrames);

  /// Writes past the page cache from here on, where the file allows and
  /// frames of `pictureBytes` are no smaller than its block.
  void goPastPageCache(std::int64_t pictureBytes);

  /// The bytes of the marker put before every frame.
  [[nodiscard]] std::size_t markerBytes() const { return marker_.size(); }

  /// Starts the stream with its header, carried into the first write.
  void begin();

  /// One write of the stream: its bytes, where they go, and how many of
  /// them were carried from the unit before.
  struct Write {
    std::span<const unsigned char> bytes;
    std::int64_t start = 0;
    std::size_t carried = 0;
  };

  /// Lays out the frame whose picture is `picture`, inside `slot` past its
  /// lead, for writing: its marker before it and, past the page cache, the
  /// bytes carried from the unit before, moved so that the write starts on a
  /// block. Returns what to write now; the rest is carried. The write may
  /// go on while the next frames are laid out in other slots, and must be
  /// done before its slot takes another frame.
  [[nodiscard]] Write stage(std::span<unsigned char> slot, std::span<unsigned char> picture);

  /// Takes note of how `write` went.
  void wrote(const Write& write, const Transfer& result);

  /// Writes what is carried, through the page cache, so that every frame
  /// staged and written is whole in the file; 0, or the error.
  [[nodiscard]] int flushCarried();

  /// After a failure to write (`failed`, when it was a stage()'s write):
  /// writes what can still be written of the unit before it, then cuts the
  /// file back to the units it holds whole.
  void keepWholeUnits(const Write* failed);

  /// Where the next unit starts, in the stream and so in the file.
  [[nodiscard]] std::int64_t end() const { return streamEnd_; }

  /// Adds `frames` frames of `unitBytes` each that the file takes by
  /// sharing the blocks of `source` from `sourceOffset` on. Only while the
  /// stream stands still (see flushCarried), with every unit whole. 0, or
  /// the error that left the file and the stream as they were.
  [[nodiscard]] int shareFrames(const FileHandle& source, std::int64_t sourceOffset,
                                std::int64_t frames, std::int64_t unitBytes);

  /// Takes back the frames of the last shareFrames, before anything else
  /// was added: the file and the stream end where they did before it. 0, or
  /// the error that left them shared.
  [[nodiscard]] int unshareFrames();

  /// The frames the file holds whole, from the first on.
  [[nodiscard]] std::int64_t wholeFrames() const { return wholeFrames_; }

 private:
  struct Unit {
    std::int64_t end;  // where the unit ends in the stream
    bool frame;
  };

  /// Adds a unit of `bytes` at the end of the stream.
  void addUnit(std::size_t bytes, bool frame);

  /// Takes note that the file holds the stream up to `end`.
  void holdsUpTo(std::int64_t end);

  OutputFile& file_;
  std::string header_;
  std::string marker_;
  std::size_t block_ = 0;         // past the page cache: the block writes align to
  std::int64_t streamEnd_ = 0;    // bytes of the stream laid out so far
  std::int64_t inFile_ = 0;       // bytes of the stream the file holds
  std::int64_t wholeEnd_ = 0;     // where the last unit the file holds whole ends
  std::int64_t wholeFrames_ = 0;  // frames among those units
  std::int64_t sharedBytes_ = 0;  // of the last shareFrames
  std::int64_t sharedFrames_ = 0;
  std::span<const unsigned char> carried_;  // the end of the stream not yet written
  std::vector<Unit> units_;                 // units not yet whole, oldest first
};

}  // namespace tsa
