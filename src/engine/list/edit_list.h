// The list layer, on the source layer: the edit list and its pre-scan
// (pre_scan.h).
// The edit list: the line format, its parse, and its reader.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/frame.h"
#include "engine/system/console.h"
#include "engine/system/file.h"

namespace tsa {

/// The most distinct source files one edit list may name.
inline constexpr int maxSourceFiles = 13;

/// What one edit-list line holds.
enum class LineKind {
  Instruction,         // a source name, a first frame and a frame count
  Blank,               // nothing but white space, or a comment: not an instruction
  MissingField,        // fewer than three fields, or a number that is not one
  UnclosedQuote,       // a name in double quotes without its closing quote
  InvalidText,         // a UTF-16 list whose text is broken on this line
  NumberOutOfRange,    // a number outside the signed 32-bit range
  NegativeFirstFrame,  // a first frame below 0
  NegativeFrameCount,  // a frame count below 0
};

/// Parses `line` as the scan format "%s%d%d" reads it: fields separated by
/// blanks, tabs, CR, LF, FF or VT; a number is an optional sign and decimal
/// digits and ends at the first other character; anything after the third
/// field is ignored. A name may be written in double quotes, and is then
/// everything up to the next double quote, blanks included. A line whose
/// first field starts with # is a comment. Fills `inst` and says what the
/// line is; only an Instruction leaves `inst` fully set. Where characters
/// other than blanks follow the digits of the frame count (2O, 1e2), the
/// whole field is put in `partlyReadCount`, else nothing.
[[nodiscard]] LineKind parseEditInstruction(std::string_view line, EditInstruction& inst,
                                            std::string_view* partlyReadCount = nullptr);

/// The words that explain why a line of `kind` is rejected.
[[nodiscard]] const char* describeBadLine(LineKind kind);

/// The edit list of a run, kept open (and so locked against writers) for the
/// run. Its text is read as the pre-scan needs it and kept, so the copy pass
/// walks exactly the lines the pre-scan checked, a list read from a pipe can
/// be walked twice, and a video file given as the list by mistake fails at
/// its first line instead of being read whole. Both passes read the
/// instructions through it, by the same rules.
class EditListReader {
 public:
  enum class Next {
    Instruction,  // `inst` holds the next instruction
    End,          // no more lines
    BadLine,      // a malformed line; the reason was printed
    Unreadable,   // the list could not be read; the reason was printed
  };

  /// The exit status for a walk that ended in BadLine or Unreadable.
  [[nodiscard]] static ExitStatus failureStatus(Next next) {
    return next == Next::BadLine ? ExitStatus::BadEditInstruction : ExitStatus::EditListNotFound;
  }

  /// Takes over `file`, the edit list opened for reading from `path`, and
  /// reads its first block, so that a list that cannot be read at all is
  /// reported before anything else happens. Returns false after printing why.
  [[nodiscard]] bool load(FileHandle file, std::string path, Console& console);

  /// Reads the rest of the list now (standard input, or a pipe, which
  /// the overwrite question must not read from). Returns false after
  /// printing why.
  [[nodiscard]] bool readAll(Console& console);

  /// Reads the next instruction into `inst`, skipping blank lines. At a
  /// malformed line it prints the reason, with the line number, on `console`.
  [[nodiscard]] Next next(EditInstruction& inst, Console& console);

  /// Reads the instruction after the last one into `inst` without moving
  /// on or printing anything; false at the end of the list or at a line
  /// that is not an instruction.
  [[nodiscard]] bool peek(EditInstruction& inst);

  /// The number of the line the last instruction stood on, counted from 1,
  /// blank and comment lines included.
  [[nodiscard]] std::int64_t lineNumber() const { return lineNumber_; }

  /// The frame count of the last instruction as written, where characters
  /// follow its digits that are not read ("2O", read as 2); else empty.
  [[nodiscard]] const std::string& partlyReadCount() const { return partlyReadCount_; }

  /// Goes back to the first line.
  void rewind() {
    position_ = 0;
    lineNumber_ = 0;
  }

  /// The distinct source names that the list's lines give, in order of
  /// first appearance.
  struct SourceNames {
    std::vector<std::string> names;
    bool wholeList = true;  // false: the walk ended at a malformed line or
                            // a part that cannot be read, as the pre-scan will
  };

  /// Walks the list for its source names, up to and including the first
  /// malformed line (a video file given as the list is not read whole).
  /// Prints nothing: the pre-scan reports what is wrong with the list.
  /// Leaves the list where it stood.
  [[nodiscard]] SourceNames sourceNames();

 private:
  /// The line that starts at `position`, without its line end; false at the
  /// end of the list or when it cannot be read (see readError_). Moves
  /// `position` to the next line.
  [[nodiscard]] bool nextLine(std::size_t& position, std::string_view& line);

  /// Parses `line`, which the next line follows at `next`: an instruction,
  /// or InvalidText for the line the UTF-16 text broke in.
  [[nodiscard]] LineKind parseLine(std::size_t next, std::string_view line, EditInstruction& inst);

  /// The first line from `position` on that is not blank, parsed into
  /// `inst` (Blank at the end of the list); moves `position` past it and
  /// counts the lines read in `lineNumber`.
  [[nodiscard]] LineKind nextNonBlankLine(std::size_t& position, EditInstruction& inst,
                                          std::int64_t& lineNumber);

  /// Appends the next block of the file to the text; false when it cannot be
  /// read.
  [[nodiscard]] bool readMore();

  /// Adds `bytes`, as read, to the text: as they are, or decoded from
  /// UTF-16 into UTF-8 (a byte or a surrogate that is cut off waits for the
  /// next block). Broken UTF-16 ends the text where it starts.
  void addText(std::string_view bytes);

  /// Finds the encoding from the byte-order mark at the start of the
  /// undecoded bytes, and drops the mark; false while too few bytes have
  /// come to tell.
  [[nodiscard]] bool learnEncoding();

  /// Decodes the undecoded UTF-16 bytes into the text, as far as they make
  /// whole characters.
  void decodeUtf16();

  /// Prints why the list could not be read.
  void reportReadError(Console& console) const;

  enum class Encoding { Bytes, Utf16LittleEndian, Utf16BigEndian };

  FileHandle pEditListFile_;
  std::string path_;
  std::string text_;
  Encoding encoding_ = Encoding::Bytes;
  bool encodingKnown_ = false;
  std::string undecoded_;    // UTF-16 bytes that wait for the rest of their character
  bool brokenText_ = false;  // the text ends where the UTF-16 broke
  bool atEnd_ = false;
  int readError_ = 0;  // once a read fails, every later walk stops there too
  std::size_t position_ = 0;
  std::int64_t lineNumber_ = 0;
  std::string partlyReadCount_;
};

}  // namespace tsa
