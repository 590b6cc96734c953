#include "engine/system/aligned_buffer.h"

namespace tsa {

FrameBuffer allocateFrameBuffer(std::size_t bytes, Console& console) {
  FrameBuffer frameBuf(
      static_cast<unsigned char*>(::operator new[](bytes, frameBufAlignment, std::nothrow)));
  if (!frameBuf) {
    console.print("Error: cannot allocate the frame buffer\n");
  }
  return frameBuf;
}

}  // namespace tsa
