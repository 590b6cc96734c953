// Feeds arbitrary bytes to what the tool reads of its inputs: the line parse
// alone, a whole edit list read from a file, walked twice as the two passes
// walk it, and a Y4M stream header and frame marker.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "engine/format/y4m.h"
#include "engine/list/edit_list.h"

namespace {

bool isScanSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

void require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

// An accepted instruction names a file and asks for a range that starts
// and counts from 0 up. A name with white space in it was quoted, so it
// holds no double quote.
void checkInstruction(const tsa::EditInstruction& inst) {
  const std::string& name = inst.sourceFileName;
  require(!name.empty());
  const bool blanks = std::any_of(name.begin(), name.end(), isScanSpace);
  require(!blanks || name.find('"') == std::string::npos);
  require(inst.seekFr >= 0);
  require(inst.numFr >= 0);
}

struct Walk {
  std::vector<tsa::EditInstruction> instructions;
  tsa::EditListReader::Next last = tsa::EditListReader::Next::End;
};

Walk walk(tsa::EditListReader& list, tsa::Console& console) {
  Walk result;
  tsa::EditInstruction inst;
  while ((result.last = list.next(inst, console)) == tsa::EditListReader::Next::Instruction) {
    checkInstruction(inst);
    require(inst.sourceFileName.find('\n') == std::string::npos);  // lines end there
    result.instructions.push_back(inst);
  }
  return result;
}

bool sameInstructions(const Walk& a, const Walk& b) {
  if (a.last != b.last || a.instructions.size() != b.instructions.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.instructions.size(); ++i) {
    const tsa::EditInstruction& x = a.instructions[i];
    const tsa::EditInstruction& y = b.instructions[i];
    if (x.sourceFileName != y.sourceFileName || x.seekFr != y.seekFr || x.numFr != y.numFr) {
      return false;
    }
  }
  return true;
}

// A header that reads gives an output header that reads back with its
// format (or the default) and the same fields; a marker is a line of its own.
void checkY4m(std::string_view text) {
  tsa::y4m::StreamHeader header;
  std::size_t headerBytes = 0;
  if (tsa::y4m::readStreamHeader(text, header, headerBytes)) {
    require(headerBytes <= tsa::y4m::maxLineBytes && text[headerBytes - 1] == '\n');
    require(header.width > 0 && header.height > 0);
    const tsa::FrameFormat format = tsa::y4m::formatOf(header).value_or(tsa::FrameFormat{});
    const std::string written = tsa::y4m::outputHeader(format, header);
    if (written.size() > tsa::y4m::maxLineBytes) {
      return;  // long fields copied from a long header
    }
    tsa::y4m::StreamHeader reread;
    std::size_t rereadBytes = 0;
    require(tsa::y4m::readStreamHeader(written, reread, rereadBytes));
    require(rereadBytes == written.size() && tsa::y4m::outputHeader(format, reread) == written);
    require(reread.width == format.width && reread.height == format.height);
  }
  const std::size_t marker = tsa::y4m::lineLength(text);
  require(marker <= tsa::y4m::maxLineBytes);
  if (tsa::y4m::isFrameMarker(
          std::span(reinterpret_cast<const unsigned char*>(text.data()), marker))) {
    require(text.starts_with("FRAME"));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::FILE* sink = std::fopen("/dev/null", "w");
  tsa::Console console(sink, tsa::Console::Flush::WhenAsked);
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  tsa::EditInstruction inst;
  if (tsa::parseEditInstruction(text, inst) == tsa::LineKind::Instruction) {
    checkInstruction(inst);
  }
  checkY4m(text);

  const int fd = ::memfd_create("edit-list", MFD_CLOEXEC);
  require(fd >= 0);
  require(::write(fd, data, size) == static_cast<ssize_t>(size));
  require(::lseek(fd, 0, SEEK_SET) == 0);
  tsa::EditListReader list;
  require(list.load(tsa::FileHandle(fd), "edit-list", console));

  // The copy pass must read exactly what the pre-scan read.
  const Walk first = walk(list, console);
  list.rewind();
  require(sameInstructions(first, walk(list, console)));
  return 0;
}
