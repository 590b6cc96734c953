// Feeds arbitrary bytes to the edit-list reading: the line parse alone, and
// a whole list read from a file, walked twice as the two passes walk it.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "engine/edit_list.h"

namespace {

bool isScanSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

void require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

// An accepted instruction names a file without white space and asks for a
// range that starts and counts from 0 up.
void checkInstruction(const tsa::EditInstruction& inst) {
  require(!inst.sourceFileName.empty());
  for (const char c : inst.sourceFileName) {
    require(!isScanSpace(c));
  }
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::FILE* sink = std::fopen("/dev/null", "w");
  tsa::Console console(sink, tsa::Console::Flush::WhenAsked);
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  tsa::EditInstruction inst;
  if (tsa::parseEditInstruction(text, inst) == tsa::LineKind::Instruction) {
    checkInstruction(inst);
  }

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
