#include "engine/source/pipe_bytes.h"

namespace tsa {
namespace {

class PipeBytes final : public ByteSource {
 public:
  explicit PipeBytes(OpenResult pipe) : pipe_(std::move(pipe)) {}

  [[nodiscard]] bool inOrderOnly() const override { return true; }

  // Read once, from its start: there is no place to move to.
  [[nodiscard]] bool startAt(std::int64_t /*offset*/, std::int64_t /*length*/) override {
    return true;
  }

  [[nodiscard]] Transfer read(std::span<unsigned char> buffer) override {
    return readSome(pipe_.file, buffer);
  }

 private:
  OpenResult pipe_;
};

}  // namespace

std::unique_ptr<ByteSource> pipeBytes(OpenResult pipe) {
  return std::make_unique<PipeBytes>(std::move(pipe));
}

}  // namespace tsa
