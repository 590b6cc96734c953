#include "engine/source/file_bytes.h"

#include <algorithm>

#include "engine/system/aligned_buffer.h"

namespace tsa {
namespace {

class FileBytes final : public ByteSource {
 public:
  FileBytes(OpenResult file, const ReadOptions& options) : file_(std::move(file)) {
    if (options.pastPageCache) {
      // Frames smaller than a block keep the page cache, as the output does.
      block_ = goPastPageCache(file_.file, std::min(maxDirectBlock, options.pictureBytes));
    }
  }

  [[nodiscard]] bool inOrderOnly() const override { return false; }

  [[nodiscard]] bool startAt(std::int64_t offset, std::int64_t /*length*/) override {
    // A file just opened stands at its start already.
    const bool there = offset == 0 && !moved_;
    moved_ = true;
    return there || seekTo(file_.file, offset) == 0;
  }

  [[nodiscard]] Transfer read(std::span<unsigned char> buffer) override {
    moved_ = true;
    return readSome(file_.file, buffer);
  }

  [[nodiscard]] std::size_t block() const override { return block_; }

  [[nodiscard]] const FileHandle* sharableFile() const override {
    return file_.regularFile ? &file_.file : nullptr;
  }

 private:
  OpenResult file_;
  std::size_t block_ = 0;  // past the page cache: the block reads start and end on
  bool moved_ = false;     // read or moved since it was opened
};

}  // namespace

std::unique_ptr<ByteSource> fileBytes(OpenResult file, const ReadOptions& options) {
  return std::make_unique<FileBytes>(std::move(file), options);
}

}  // namespace tsa
