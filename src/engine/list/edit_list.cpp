#include "engine/list/edit_list.h"

#include <algorithm>
#include <array>
#include <limits>
#include <vector>

namespace tsa {
namespace {

// The white space of the scan format: blank, tab, LF, VT, FF, CR.
bool isScanSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Appends the character `c` to `text` in UTF-8.
void appendUtf8(std::string& text, char32_t c) {
  if (c < 0x80) {
    text += static_cast<char>(c);
  } else if (c < 0x800) {
    text += static_cast<char>(0xC0 | (c >> 6));
    text += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    text += static_cast<char>(0xE0 | (c >> 12));
    text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    text += static_cast<char>(0xF0 | (c >> 18));
    text += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (c & 0x3F));
  }
}

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

// Reads the source name that starts at `pos` into `name`: up to the next
// white space, or in double quotes up to the next double quote, blanks
// included. Instruction where it is read; `pos` then stands after it.
LineKind readName(std::string_view line, std::size_t& pos, std::string& name) {
  if (line[pos] != '"') {
    const std::size_t nameStart = pos;
    while (pos < line.size() && !isScanSpace(line[pos])) {
      ++pos;
    }
    name.assign(line.substr(nameStart, pos - nameStart));
    return LineKind::Instruction;
  }
  // Backslashes are plain characters here: Windows paths.
  const std::size_t close = line.find('"', pos + 1);
  if (close == std::string_view::npos) {
    return LineKind::UnclosedQuote;
  }
  name.assign(line.substr(pos + 1, close - pos - 1));
  pos = close + 1;
  return name.empty() ? LineKind::MissingField : LineKind::Instruction;
}

}  // namespace

LineKind parseEditInstruction(std::string_view line, EditInstruction& inst,
                              std::string_view* partlyReadCount) {
  std::size_t pos = skipSpace(line, 0);
  if (pos == line.size() || line[pos] == '#') {
    return LineKind::Blank;
  }
  if (const LineKind name = readName(line, pos, inst.sourceFileName);
      name != LineKind::Instruction) {
    return name;
  }

  for (std::int32_t* field : {&inst.seekFr, &inst.numFr}) {
    const std::size_t fieldStart = skipSpace(line, pos);
    switch (readNumber(line, pos, *field)) {
      case NumberRead::Ok:
        break;
      case NumberRead::Missing:
        return LineKind::MissingField;
      case NumberRead::OutOfRange:
        return LineKind::NumberOutOfRange;
    }
    if (field == &inst.numFr && partlyReadCount != nullptr) {
      // The count's digits end where another character than a blank
      // follows them (2O, 1e2, 5.9): the rest is not read.
      std::size_t end = pos;
      while (end < line.size() && !isScanSpace(line[end])) {
        ++end;
      }
      *partlyReadCount = end > pos ? line.substr(fieldStart, end - fieldStart) : "";
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
    case LineKind::UnclosedQuote:
      return "a quoted name has no closing quote";
    case LineKind::InvalidText:
      return "the list is not valid UTF-16 text";
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
  encoding_ = Encoding::Bytes;
  encodingKnown_ = false;
  undecoded_.clear();
  brokenText_ = false;
  atEnd_ = false;
  readError_ = 0;
  rewind();
  if (!readMore()) {
    reportReadError(console);
    return false;
  }
  return true;
}

bool EditListReader::readAll(Console& console) {
  while (!atEnd_) {
    if (!readMore()) {
      reportReadError(console);
      return false;
    }
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
  std::array<unsigned char, block> bytes;
  const Transfer got = readSome(pEditListFile_, bytes);
  readError_ = got.error;
  atEnd_ = brokenText_ || (got.error == 0 && got.bytes == 0);
  if (got.error == 0 && !brokenText_) {
    addText(std::string_view(reinterpret_cast<const char*>(bytes.data()), got.bytes));
  }
  return got.error == 0;
}

bool EditListReader::learnEncoding() {
  // The byte-order mark is in the first bytes, which may come in pieces.
  const std::string_view start = undecoded_;
  if (start.size() < 3 && !atEnd_ &&
      (start.empty() || start[0] == '\xEF' || start[0] == '\xFF' || start[0] == '\xFE')) {
    return false;
  }
  encodingKnown_ = true;
  std::size_t mark = 0;
  if (start.starts_with("\xEF\xBB\xBF")) {
    mark = 3;
  } else if (start.starts_with("\xFF\xFE") || start.starts_with("\xFE\xFF")) {
    encoding_ = start[0] == '\xFF' ? Encoding::Utf16LittleEndian : Encoding::Utf16BigEndian;
    mark = 2;
  }
  undecoded_.erase(0, mark);
  return true;
}

void EditListReader::addText(std::string_view bytes) {
  if (encodingKnown_ && encoding_ == Encoding::Bytes) {
    text_.append(bytes);
    return;
  }
  undecoded_.append(bytes);
  if (!encodingKnown_ && !learnEncoding()) {
    return;
  }
  if (encoding_ == Encoding::Bytes) {
    text_.append(undecoded_);
    undecoded_.clear();
    return;
  }
  decodeUtf16();
}

void EditListReader::decodeUtf16() {
  const bool little = encoding_ == Encoding::Utf16LittleEndian;
  const auto unit = [&](std::size_t at) {
    const auto a = static_cast<unsigned char>(undecoded_[at]);
    const auto b = static_cast<unsigned char>(undecoded_[at + 1]);
    return little ? static_cast<char32_t>(a | (b << 8)) : static_cast<char32_t>((a << 8) | b);
  };
  std::size_t at = 0;
  while (at + 2 <= undecoded_.size()) {
    char32_t c = unit(at);
    std::size_t units = 1;
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (at + 4 > undecoded_.size()) {
        break;  // the rest of the pair comes with the next block
      }
      const char32_t low = unit(at + 2);
      if (low < 0xDC00 || low > 0xDFFF) {
        brokenText_ = true;
        break;
      }
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      units = 2;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      brokenText_ = true;
      break;
    }
    appendUtf8(text_, c);
    at += 2 * units;
  }
  undecoded_.erase(0, at);
  // What is left at the end of the list is half a character.
  if (atEnd_ && !undecoded_.empty()) {
    brokenText_ = true;
  }
  atEnd_ = atEnd_ || brokenText_;
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

LineKind EditListReader::parseLine(std::size_t next, std::string_view line, EditInstruction& inst) {
  // The line that runs into broken UTF-16 has no line end of its own.
  std::string_view partlyReadCount;
  const LineKind kind = brokenText_ && next > text_.size()
                            ? LineKind::InvalidText
                            : parseEditInstruction(line, inst, &partlyReadCount);
  partlyReadCount_.assign(partlyReadCount);
  return kind;
}

LineKind EditListReader::nextNonBlankLine(std::size_t& position, EditInstruction& inst,
                                          std::int64_t& lineNumber) {
  std::string_view line;
  LineKind kind = LineKind::Blank;
  while (kind == LineKind::Blank && nextLine(position, line)) {
    ++lineNumber;
    kind = parseLine(position, line, inst);
  }
  return kind;
}

EditListReader::Next EditListReader::next(EditInstruction& inst, Console& console) {
  LineKind kind = nextNonBlankLine(position_, inst, lineNumber_);
  if (kind == LineKind::Blank && brokenText_) {
    ++lineNumber_;  // the text broke right after a line end
    kind = LineKind::InvalidText;
  }
  if (kind == LineKind::Instruction) {
    return Next::Instruction;
  }
  if (kind != LineKind::Blank) {
    console.print("Bad edit instruction on line %lld: %s. Aborting.\n",
                  static_cast<long long>(lineNumber_), describeBadLine(kind));
    return Next::BadLine;
  }
  if (readError_ != 0) {
    reportReadError(console);
    return Next::Unreadable;
  }
  return Next::End;
}

bool EditListReader::peek(EditInstruction& inst) {
  const std::string partlyReadCount = partlyReadCount_;
  std::size_t position = position_;
  std::int64_t lineNumber = lineNumber_;
  const bool instruction = nextNonBlankLine(position, inst, lineNumber) == LineKind::Instruction;
  partlyReadCount_ = partlyReadCount;
  return instruction;
}

EditListReader::SourceNames EditListReader::sourceNames() {
  SourceNames result;
  std::size_t position = 0;
  std::string_view line;
  EditInstruction inst;
  while (nextLine(position, line)) {
    const LineKind kind = parseLine(position, line, inst);
    if (kind != LineKind::Blank && kind != LineKind::InvalidText &&
        std::find(result.names.begin(), result.names.end(), inst.sourceFileName) ==
            result.names.end()) {
      result.names.push_back(inst.sourceFileName);
    }
    if (kind != LineKind::Instruction && kind != LineKind::Blank) {
      result.wholeList = false;
      return result;
    }
  }
  result.wholeList = readError_ == 0 && !brokenText_;
  return result;
}

}  // namespace tsa
