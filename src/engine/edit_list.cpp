#include "engine/edit_list.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace tsa {
namespace {

// The white space of the scan format: blank, tab, LF, VT, FF, CR.
bool isScanSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::size_t skipSpace(std::string_view line, std::size_t pos) {
  while (pos < line.size() && isScanSpace(line[pos])) {
    ++pos;
  }
  return pos;
}

enum class NumberRead { Ok, Missing, OutOfRange };

// Reads an optionally signed decimal number at `pos` (after white space),
// as "%d" does, but tells a number beyond 32 bits from one that fits.
NumberRead readNumber(std::string_view line, std::size_t& pos, std::int32_t& value) {
  pos = skipSpace(line, pos);
  bool negative = false;
  if (pos < line.size() && (line[pos] == '+' || line[pos] == '-')) {
    negative = line[pos] == '-';
    ++pos;
  }
  if (pos >= line.size() || !isDigit(line[pos])) {
    return NumberRead::Missing;
  }
  // Any number of digits may follow; past this bound the value is out of
  // range whatever comes next, so the sum stops growing there.
  constexpr std::int64_t beyondRange = std::int64_t{1} << 32;
  std::int64_t magnitude = 0;
  for (; pos < line.size() && isDigit(line[pos]); ++pos) {
    magnitude = std::min(magnitude * 10 + (line[pos] - '0'), beyondRange);
  }
  const std::int64_t signedValue = negative ? -magnitude : magnitude;
  if (signedValue < std::numeric_limits<std::int32_t>::min() ||
      signedValue > std::numeric_limits<std::int32_t>::max()) {
    return NumberRead::OutOfRange;
  }
  value = static_cast<std::int32_t>(signedValue);
  return NumberRead::Ok;
}

}  // namespace

LineKind parseEditInstruction(std::string_view line, EditInstruction& inst) {
  std::size_t pos = skipSpace(line, 0);
  if (pos == line.size()) {
    return LineKind::Blank;
  }
  const std::size_t nameStart = pos;
  while (pos < line.size() && !isScanSpace(line[pos])) {
    ++pos;
  }
  inst.sourceFileName.assign(line.substr(nameStart, pos - nameStart));

  for (std::int32_t* field : {&inst.seekFr, &inst.numFr}) {
    switch (readNumber(line, pos, *field)) {
      case NumberRead::Ok:
        break;
      case NumberRead::Missing:
        return LineKind::MissingField;
      case NumberRead::OutOfRange:
        return LineKind::NumberOutOfRange;
    }
  }
  if (inst.seekFr < 0) {
    return LineKind::NegativeFirstFrame;
  }
  if (inst.numFr < 0) {
    return LineKind::NegativeFrameCount;
  }
  return LineKind::Instruction;
}

const char* describeBadLine(LineKind kind) {
  switch (kind) {
    case LineKind::MissingField:
      return "expected <source file> <first frame> <frame count>";
    case LineKind::NumberOutOfRange:
      return "number out of range";
    case LineKind::NegativeFirstFrame:
      return "first frame must not be negative";
    case LineKind::NegativeFrameCount:
      return "frame count must not be negative";
    case LineKind::Instruction:
    case LineKind::Blank:
      break;
  }
  return "not an error";
}

bool EditListReader::load(FileHandle file, std::string path, Console& console) {
  pEditListFile_ = std::move(file);
  path_ = std::move(path);
  text_.clear();
  atEnd_ = false;
  readError_ = 0;
  rewind();
  if (!readMore()) {
    reportReadError(console);
    return false;
  }
  return true;
}

void EditListReader::reportReadError(Console& console) const {
  console.print("Error: cannot read edit list file \"%s\" (%s)\n", path_.c_str(),
                describeError(readError_).c_str());
}

bool EditListReader::readMore() {
  if (readError_ != 0) {
    return false;
  }
  constexpr std::size_t block = 65536;
  const std::size_t oldSize = text_.size();
  text_.resize(oldSize + block);
  const Transfer got = readSome(
      pEditListFile_,
      std::span<unsigned char>(reinterpret_cast<unsigned char*>(text_.data()) + oldSize, block));
  text_.resize(oldSize + got.bytes);
  readError_ = got.error;
  atEnd_ = got.error == 0 && got.bytes == 0;
  return got.error == 0;
}

bool EditListReader::nextLine(std::size_t& position, std::string_view& line) {
  std::size_t lineEnd = text_.find('\n', position);
  while (lineEnd == std::string::npos && !atEnd_) {
    const std::size_t searched = text_.size();
    if (!readMore()) {
      return false;
    }
    lineEnd = text_.find('\n', searched);
  }
  if (position >= text_.size()) {
    return false;
  }
  lineEnd = std::min(lineEnd, text_.size());
  line = std::string_view(text_.data() + position, lineEnd - position);
  position = lineEnd + 1;
  // A NUL byte ends the line, as it ends the scan of a C string.
  line = line.substr(0, line.find('\0'));
  return true;
}

EditListReader::Next EditListReader::next(EditInstruction& inst, Console& console) {
  std::string_view line;
  while (nextLine(position_, line)) {
    ++lineNumber_;
    const LineKind kind = parseEditInstruction(line, inst);
    if (kind == LineKind::Instruction) {
      return Next::Instruction;
    }
    if (kind != LineKind::Blank) {
      console.print("Bad edit instruction on line %lld: %s. Aborting.\n",
                    static_cast<long long>(lineNumber_), describeBadLine(kind));
      return Next::BadLine;
    }
  }
  if (readError_ != 0) {
    reportReadError(console);
    return Next::Unreadable;
  }
  return Next::End;
}

EditListReader::SourceNames EditListReader::sourceNames() {
  SourceNames result;
  std::size_t position = 0;
  std::string_view line;
  EditInstruction inst;
  while (nextLine(position, line)) {
    const LineKind kind = parseEditInstruction(line, inst);
    if (kind != LineKind::Blank && std::find(result.names.begin(), result.names.end(),
                                             inst.sourceFileName) == result.names.end()) {
      result.names.push_back(inst.sourceFileName);
    }
    if (kind != LineKind::Instruction && kind != LineKind::Blank) {
      result.wholeList = false;
      return result;
    }
  }
  result.wholeList = readError_ == 0;
  return result;
}

FrameFormat runFormat(const std::optional<FrameFormat>& chosen,
                      const std::vector<SourceForm>& sources) {
  if (chosen) {
    return *chosen;
  }
  const auto y4m = std::ranges::find_if(
      sources, [](const SourceForm& source) { return source.y4mHeader.has_value(); });
  const bool allY4m = std::ranges::all_of(sources, [](const SourceForm& source) {
    return !source.regularFile || source.y4mHeader.has_value();
  });
  if (y4m == sources.end() || !allY4m) {
    return defaultFrameFormat;
  }
  return y4m::formatOf(*y4m->y4mHeader).value_or(defaultFrameFormat);
}

ScanResult scanEditList(EditListReader& pEditListFile, Console& console,
                        const std::optional<FrameFormat>& chosen) {
  ScanResult result;
  std::vector<std::string> fileNames;
  EditInstruction inst;
  for (;;) {
    const EditListReader::Next next = pEditListFile.next(inst, console);
    if (next == EditListReader::Next::End) {
      break;
    }
    if (next != EditListReader::Next::Instruction) {
      return {EditListReader::failureStatus(next), 0, {}, {}};
    }
    result.totalFrames += inst.numFr;
    if (std::find(fileNames.begin(), fileNames.end(), inst.sourceFileName) != fileNames.end()) {
      continue;
    }
    if (fileNames.size() == maxSourceFiles) {
      console.print("Too many unique filenames in the edit list. Aborting.\n");
      return {ExitStatus::TooManySources, 0, {}, {}};
    }
    fileNames.push_back(inst.sourceFileName);
  }

  // Every source is looked at before the run's format is known, since the
  // Y4M sources may give it; problems are reported in list order.
  std::vector<Probe> probes;
  for (const std::string& name : fileNames) {
    probes.push_back(probeSource(name, result.sources.emplace_back()));
  }
  result.format = runFormat(chosen, result.sources);
  for (std::size_t i = 0; i < probes.size(); ++i) {
    SourceForm& source = result.sources[i];
    const char* name = source.name.c_str();
    source.layout.pictureBytes = result.format.frameBytes();
    if (probes[i] == Probe::NotFound) {
      console.print("Input file \"%s\" not found. Aborting.\n", name);
    } else if (probes[i] == Probe::BrokenHeader) {
      console.print("Input file \"%s\" has a broken Y4M header. Aborting.\n", name);
    } else if (source.y4mHeader && y4m::formatOf(*source.y4mHeader) != result.format) {
      console.print("Input file \"%s\" is %s, not %s. Aborting.\n", name,
                    y4m::describe(*source.y4mHeader).c_str(), result.format.describe().c_str());
    } else {
      continue;
    }
    return {ExitStatus::SourceNotFound, 0, {}, {}};
  }

  pEditListFile.rewind();
  return result;
}

}  // namespace tsa
