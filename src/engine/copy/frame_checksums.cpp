#include "engine/copy/frame_checksums.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <new>
#include <numeric>

#include "engine/format/y4m.h"
#include "engine/system/stop.h"
#include "engine/system/thread_priority.h"
#include "engine/system/whole_number.h"

namespace tsa {
namespace {

// Reads a Y4M "N:D" value, whole numbers of 0 and up; false where it is
// none.
bool readRatio(std::string_view value, std::int64_t& numerator, std::int64_t& denominator) {
  const std::size_t colon = value.find(':');
  const auto number = [](std::string_view digits, std::int64_t& to) {
    const std::optional<std::int64_t> read = wholeNumber<std::int64_t>(digits);
    to = read.value_or(0);
    return read.has_value();
  };
  return colon != std::string_view::npos && number(value.substr(0, colon), numerator) &&
         number(value.substr(colon + 1), denominator);
}

// The time base of frames at the rate F: its inverse, in lowest terms, as
// ffmpeg gives it; 1/25 where F is none.
std::string timeBaseOf(std::string_view frameRate) {
  std::int64_t numerator = 0;
  std::int64_t denominator = 0;
  if (!readRatio(frameRate, numerator, denominator) || numerator == 0 || denominator == 0) {
    return "1/25";
  }
  const std::int64_t common = std::gcd(numerator, denominator);
  return std::to_string(denominator / common) + "/" + std::to_string(numerator / common);
}

// The sample aspect ffmpeg reads from the A value, as written; 0/1 for an
// unknown one.
std::string sampleAspectOf(std::string_view aspect) {
  std::int64_t numerator = 0;
  std::int64_t denominator = 0;
  if (!readRatio(aspect, numerator, denominator) || numerator == 0 || denominator == 0) {
    return "0/1";
  }
  return std::to_string(numerator) + "/" + std::to_string(denominator);
}

// How many workers hash: one a core.
std::size_t workerCount() { return std::max(1U, std::thread::hardware_concurrency()); }

}  // namespace

std::string checksumHeaderOf(const CopyPlan& plan, HashKind kind) {
  y4m::StreamHeader fields;
  std::size_t headerBytes = 0;
  (void)y4m::readStreamHeader(y4mHeaderOf(plan), fields, headerBytes);
  return "#format: frame checksums\n#version: 2\n#hash: " + std::string(hashHeaderName(kind)) +
         "\n#tb 0: " + timeBaseOf(fields.frameRate) +
         "\n#media_type 0: video\n#codec_id 0: rawvideo\n" +
         "#dimensions 0: " + std::to_string(plan.format.width) + "x" +
         std::to_string(plan.format.height) +
         "\n#sar 0: " + (plan.y4mOutput ? sampleAspectOf(fields.aspect) : std::string("0/1")) +
         "\n#stream#, dts,        pts, duration,     size, hash\n";
}

std::string checksumLineOf(std::int64_t frame, std::int64_t bytes, const Digest& digest) {
  char numbers[80];
  std::snprintf(numbers, sizeof numbers, "0, %10lld, %10lld, %8d, %8lld, ",
                static_cast<long long>(frame), static_cast<long long>(frame), 1,
                static_cast<long long>(bytes));
  return numbers + hexOf(digest) + "\n";
}

FrameChecksums::FrameChecksums(FileHandle file, std::string path, std::string header,
                               std::size_t pictureBytes, HashKind kind)
    : file_(std::move(file)),
      path_(std::move(path)),
      header_(std::move(header)),
      pictureBytes_(pictureBytes),
      kind_(kind) {}

FrameChecksums::~FrameChecksums() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  jobsChanged_.notify_all();
  for (std::thread& worker : workers_) {
    worker.join();
  }
}

bool FrameChecksums::start(Console& console) {
  // A few frames a worker wait for their hash where they are read back.
  const std::size_t workers = workerCount();
  for (std::size_t i = 0; i < 2 * workers; ++i) {
    copies_.emplace_back(new (std::nothrow) unsigned char[pictureBytes_]);
    if (!copies_.back()) {
      console.print("Error: cannot allocate the frames that wait for their checksums\n");
      return false;
    }
    freeCopies_.push_back(i);
  }
  {
    // Stop signals go to the copying thread, never to a worker.
    const StopSignalsBlocked blocked;
    for (std::size_t i = 0; i < workers; ++i) {
      workers_.emplace_back([this] { work(); });
    }
  }
  const std::lock_guard lock(mutex_);
  writeText(header_);
  if (error_ != 0) {
    console.print("Error: cannot write to checksum file \"%s\" (%s)\n", path_.c_str(),
                  describeError(error_).c_str());
    return false;
  }
  return true;
}

std::size_t FrameChecksums::takeCopy(std::unique_lock<std::mutex>& lock) {
  jobDone_.wait(lock, [this] { return !freeCopies_.empty(); });
  const std::size_t copy = freeCopies_.back();
  freeCopies_.pop_back();
  return copy;
}

void FrameChecksums::submit(Job job, std::unique_lock<std::mutex>& lock) {
  job.frame = submitted_++;
  digests_.emplace_back();
  hashed_.push_back(false);
  jobs_.push_back(std::move(job));
  lock.unlock();
  jobsChanged_.notify_one();
}

void FrameChecksums::hash(std::span<const unsigned char> picture) {
  std::unique_lock lock(mutex_);
  submit(Job{0, picture, 0, {}, 0}, lock);
}

void FrameChecksums::hashFromFile(const std::string& path, std::int64_t offset) {
  std::unique_lock lock(mutex_);
  const std::size_t copy = takeCopy(lock);
  submit(Job{0, {}, copy, path, offset}, lock);
}

void FrameChecksums::waitUntilHashed(std::int64_t frames) {
  std::unique_lock lock(mutex_);
  jobDone_.wait(lock, [&] { return hashedBefore_ >= frames; });
}

void FrameChecksums::markHashed(std::int64_t frame) {
  hashed_[static_cast<std::size_t>(frame - hashedBefore_)] = true;
  while (!hashed_.empty() && hashed_.front()) {
    hashed_.pop_front();
    ++hashedBefore_;
  }
}

void FrameChecksums::keep(std::int64_t frames) {
  const std::lock_guard lock(mutex_);
  kept_ = std::max(kept_, frames);
  writeReadyLines();
}

bool FrameChecksums::failed() const {
  const std::lock_guard lock(mutex_);
  return error_ != 0;
}

int FrameChecksums::readBack(const Job& job, std::span<unsigned char> copy) {
  const OpenResult source = openForReading(job.path);
  if (!source.file.isOpen()) {
    return source.error != 0 ? source.error : EIO;
  }
  if (const int error = seekTo(source.file, job.offset); error != 0) {
    return error;
  }
  for (std::size_t got = 0; got < copy.size();) {
    const Transfer read = readSome(source.file, copy.subspan(got));
    if (read.error != 0 || read.bytes == 0) {
      return read.error != 0 ? read.error : EIO;
    }
    got += read.bytes;
  }
  return 0;
}

void FrameChecksums::work() {
  runBelowTheCopy();
  std::unique_lock lock(mutex_);
  for (;;) {
    jobsChanged_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
    if (stopping_) {
      return;
    }
    const Job job = std::move(jobs_.front());
    jobs_.pop_front();
    lock.unlock();
    int readError = 0;
    const std::optional<Digest> digest = digestOfJob(job, readError);
    lock.lock();
    if (job.picture.empty()) {
      freeCopies_.push_back(job.copy);
    }
    markHashed(job.frame);
    if (digest) {
      digests_[static_cast<std::size_t>(job.frame - lineNext_)] = digest;
    } else if (error_ == 0) {
      error_ = readError != 0 ? readError : EIO;
      readBackFailed_ = readError != 0;
    }
    writeReadyLines();
    jobDone_.notify_all();
  }
}

std::optional<Digest> FrameChecksums::digestOfJob(const Job& job, int& error) {
  std::span<const unsigned char> bytes = job.picture;
  if (bytes.empty()) {
    const std::span<unsigned char> copy(copies_[job.copy].get(), pictureBytes_);
    if ((error = readBack(job, copy)) != 0) {
      return std::nullopt;
    }
    bytes = copy;
  }
  Digest digest;
  return digestOf(kind_, bytes, digest) ? std::optional(digest) : std::nullopt;
}

void FrameChecksums::writeReadyLines() {
  lines_.clear();
  while (error_ == 0 && lineNext_ < kept_ && !digests_.empty() && digests_.front()) {
    lines_ +=
        checksumLineOf(lineNext_, static_cast<std::int64_t>(pictureBytes_), *digests_.front());
    digests_.pop_front();
    ++lineNext_;
  }
  if (!lines_.empty()) {
    writeText(lines_);
  }
}

void FrameChecksums::writeText(const std::string& text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  for (std::size_t done = 0; done < text.size() && error_ == 0;) {
    const Transfer wrote = writeSome(file_, std::span(bytes + done, text.size() - done));
    error_ = wrote.error != 0 ? wrote.error : (wrote.bytes == 0 ? EIO : 0);
    done += wrote.bytes;
  }
}

ExitStatus FrameChecksums::finish(Console& console) {
  {
    std::unique_lock lock(mutex_);
    // Every frame kept was handed over before it was written, and each
    // digest that comes in writes the lines it completes.
    writeReadyLines();
    jobDone_.wait(lock, [this] { return error_ != 0 || lineNext_ >= kept_; });
    stopping_ = true;
  }
  jobsChanged_.notify_all();
  for (std::thread& worker : workers_) {
    worker.join();
  }
  workers_.clear();
  int error = error_;
  if (const int closed = file_.close(); error == 0) {
    error = closed;
  }
  if (error == 0) {
    return ExitStatus::Success;
  }
  console.print("Error: cannot write to checksum file \"%s\" (%s%s)\n", path_.c_str(),
                readBackFailed_ ? "a shared frame cannot be read back: " : "",
                describeError(error).c_str());
  return ExitStatus::WriteOrMemoryError;
}

}  // namespace tsa
