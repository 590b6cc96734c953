// The parts of the file layer that every platform shares.
#include "engine/file.h"

namespace tsa {

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    (void)close();
    native_ = std::exchange(other.native_, invalid);
  }
  return *this;
}

FileHandle::~FileHandle() { (void)close(); }

int OutputFile::write(std::span<const unsigned char> bytes) {
  std::span<const unsigned char> rest = bytes;
  while (!rest.empty()) {
    const Transfer written = writeSome(file_, rest);
    if (written.error != 0) {
      // Half a frame in a raw video file shifts every frame after it for
      // whoever reads it next, so a file keeps only the whole writes. If
      // the cut fails too, the write failure is still the one to report.
      if (regularFile_) {
        (void)cutToLength(file_, wholeBytes_);
      }
      return written.error;
    }
    rest = rest.subspan(written.bytes);
  }
  wholeBytes_ += static_cast<std::int64_t>(bytes.size());
  return 0;
}

bool OutputFile::close(Console& console) {
  if (const int error = file_.close(); error != 0) {
    reportWriteError(error, console);
    return false;
  }
  return true;
}

void OutputFile::reportWriteError(int error, Console& console) const {
  console.print("Error: cannot write to output file \"%s\" (%s)\n", path_.c_str(),
                describeError(error).c_str());
}

}  // namespace tsa
