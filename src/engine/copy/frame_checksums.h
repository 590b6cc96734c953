// The checksums of a test set, made in the same pass: ffmpeg's framemd5, or
// its framehash with any hash a library computes, of the frames the output
// receives, hashed on worker threads off the copy's
// path and written in output order, one line for every frame the output
// keeps and for no other.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "engine/copy/copy_plan.h"
#include "engine/frame.h"
#include "engine/system/console.h"
#include "engine/system/file.h"
#include "engine/system/hash.h"

namespace tsa {

/// The lines a framemd5 or framehash file (of hash `kind`) of the output
/// of `plan` starts with, as ffmpeg 5.1 writes them with -fflags +bitexact
/// when it reads the finished output: the hash, the time base from the
/// output's frame rate (25 where nothing gives one), the size, and the
/// sample aspect of a Y4M output's A (0/1 for a raw one), then the column
/// line.
[[nodiscard]] std::string checksumHeaderOf(const CopyPlan& plan, HashKind kind = HashKind::Md5);

/// The line of frame `frame` of `bytes` bytes whose digest is `digest`.
[[nodiscard]] std::string checksumLineOf(std::int64_t frame, std::int64_t bytes,
                                         const Digest& digest);

class FrameChecksums {
 public:
  /// Writes the checksums (of hash `kind`) of frames of `pictureBytes` each
  /// into `file`, named `path` in messages, after `header`.
  FrameChecksums(FileHandle file, std::string path, std::string header, std::size_t pictureBytes,
                 HashKind kind = HashKind::Md5);
  FrameChecksums(const FrameChecksums&) = delete;
  FrameChecksums& operator=(const FrameChecksums&) = delete;
  /// Ends the workers; what finish() did not write is not written.
  ~FrameChecksums();

  /// Takes the memory (a few frames a worker, for frames read back) and
  /// starts the workers, then
  /// writes the header; false after printing why not.
  [[nodiscard]] bool start(Console& console);

  /// The output's next frame is `picture`, hashed where it lies: its bytes
  /// stay as they are until waitUntilHashed() counts it.
  void hash(std::span<const unsigned char> picture);

  /// Waits until the first `frames` frames handed over are hashed (or
  /// given up on), so that the memory they lay in may take others.
  void waitUntilHashed(std::int64_t frames);

  /// The output's next frame shares its blocks with the file `path`, where
  /// its picture lies at `offset`: read back there and hashed.
  void hashFromFile(const std::string& path, std::int64_t offset);

  /// The output keeps its first `frames` frames whole: their lines may go.
  void keep(std::int64_t frames);

  /// True once a line could not be written or a frame read back.
  [[nodiscard]] bool failed() const;

  /// Writes the line of every frame kept (and of no other), ends the
  /// workers and closes the file. Success, or WriteOrMemoryError after
  /// printing why.
  [[nodiscard]] ExitStatus finish(Console& console);

 private:
  struct Job {
    std::int64_t frame = 0;
    std::span<const unsigned char> picture;  // hashed in place, where not empty
    std::size_t copy = 0;                    // else read back into this of copies_
    std::string path;                        // from here
    std::int64_t offset = 0;
  };

  /// Waits for a free copy and takes it.
  std::size_t takeCopy(std::unique_lock<std::mutex>& lock);
  void submit(Job job, std::unique_lock<std::mutex>& lock);

  /// A worker: hashes jobs until the end.
  void work();

  /// Hashes `job`, reading it back first where it is not in place; the
  /// digest, or the error.
  [[nodiscard]] std::optional<Digest> digestOfJob(const Job& job, int& error);

  /// Takes note that frame `frame` is done with (with the lock held).
  void markHashed(std::int64_t frame);

  /// Reads the picture of a shared frame into `copy`; 0 or the error.
  [[nodiscard]] static int readBack(const Job& job, std::span<unsigned char> copy);

  /// Writes the lines of the frames kept whose digests are in, in order
  /// (with the lock held); records a failure.
  void writeReadyLines();

  /// Writes `text` whole; records a failure.
  void writeText(const std::string& text);

  FileHandle file_;
  std::string path_;
  std::string header_;
  std::size_t pictureBytes_;
  std::vector<std::unique_ptr<unsigned char[]>> copies_;
  std::vector<std::size_t> freeCopies_;
  std::deque<Job> jobs_;
  HashKind kind_;
  std::deque<std::optional<Digest>> digests_;  // of frames from lineNext_ on
  std::int64_t submitted_ = 0;
  std::deque<bool> hashed_;        // of frames from hashedBefore_ on
  std::int64_t hashedBefore_ = 0;  // every frame before it is done with
  std::int64_t lineNext_ = 0;      // the frame whose line comes next
  std::int64_t kept_ = 0;
  int error_ = 0;                // the first failure's
  bool readBackFailed_ = false;  // it was reading back a shared frame
  bool stopping_ = false;
  std::string lines_;  // a buffer for the lines of one write
  mutable std::mutex mutex_;
  std::condition_variable jobsChanged_;  // the workers wait on it
  std::condition_variable jobDone_;      // the copying thread waits on it
  std::vector<std::thread> workers_;     // last: they end before the rest goes
};

}  // namespace tsa
