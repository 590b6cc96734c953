#include "engine/list/edit_list.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/list/pre_scan.h"
#include "test_support.h"

namespace tsa {
namespace {

using testing::CapturedConsole;
using testing::ScratchDirTest;

TEST(ParseEditInstruction, ReadsFieldsAsTheScanFormatDoes) {
  struct Case {
    std::string line;
    std::string name;
    std::int32_t seekFr;
    std::int32_t numFr;
  };
  const Case cases[] = {
      {"a.yuv 300 150\n", "a.yuv", 300, 150},
      {"  \t/data/b.yuv\t0\t1", "/data/b.yuv", 0, 1},
      {"a.yuv 1 2\r\n", "a.yuv", 1, 2},               // CRLF list
      {"a.yuv\v+7\f+0\n", "a.yuv", 7, 0},             // VT, FF, plus signs
      {"a.yuv 0007 -0", "a.yuv", 7, 0},               // leading zeros, minus zero
      {"a.yuv 1 2 trailing words 9", "a.yuv", 1, 2},  // text after the count
      {"a.yuv 3 4frames", "a.yuv", 3, 4},             // a number ends at a non-digit
      {"a.yuv 2147483647 2147483647", "a.yuv", 2147483647, 2147483647},
      {"a.yuv 00000000000000000000000012 5", "a.yuv", 12, 5},
      {"weird,name;with\"marks 1 1", "weird,name;with\"marks", 1, 1},
      {"\"my clip.yuv\" 0 25", "my clip.yuv", 0, 25},  // quoted: blanks are part of it
      {R"( "C:\Users\Ana Lima\#1.yuv")"
       "\t3 4\r\n",
       R"(C:\Users\Ana Lima\#1.yuv)", 3, 4},
      {"\"#hash.yuv\" 1 1", "#hash.yuv", 1, 1},
  };
  for (const Case& c : cases) {
    EditInstruction inst;
    EXPECT_EQ(parseEditInstruction(c.line, inst), LineKind::Instruction) << c.line;
    EXPECT_EQ(inst.sourceFileName, c.name) << c.line;
    EXPECT_EQ(inst.seekFr, c.seekFr) << c.line;
    EXPECT_EQ(inst.numFr, c.numFr) << c.line;
  }
}

TEST(ParseEditInstruction, TellsBlankAndMalformedLinesApart) {
  const std::pair<std::string, LineKind> cases[] = {
      {"", LineKind::Blank},
      {"\n", LineKind::Blank},
      {"\r\n", LineKind::Blank},
      {" \t \v\f\r\n", LineKind::Blank},
      {"a.yuv", LineKind::MissingField},
      {"a.yuv 10", LineKind::MissingField},
      {"a.yuv 10\n", LineKind::MissingField},
      {"a.yuv x 10", LineKind::MissingField},
      {"a.yuv 10 x", LineKind::MissingField},
      {"a.yuv + 10 5", LineKind::MissingField},  // a sign alone is no number
      {"a.yuv - 5 5", LineKind::MissingField},
      {"a.yuv 1.5 5", LineKind::MissingField},  // 1, then ".5" is no count
      {"12 34", LineKind::MissingField},        // the name takes the 12
      {"a.yuv 2147483648 1", LineKind::NumberOutOfRange},
      {"a.yuv 1 -2147483649", LineKind::NumberOutOfRange},
      {"a.yuv 99999999999999999999999999 1", LineKind::NumberOutOfRange},
      {"a.yuv 1 99999999999999999999999999", LineKind::NumberOutOfRange},
      {"a.yuv 5000000000 x", LineKind::NumberOutOfRange},  // the first fault counts
      {"a.yuv -1 5", LineKind::NegativeFirstFrame},
      {"a.yuv -2147483648 5", LineKind::NegativeFirstFrame},
      {"a.yuv -1 -1", LineKind::NegativeFirstFrame},
      {"a.yuv 0 -1", LineKind::NegativeFrameCount},
      {"# class B, 10 frames each", LineKind::Blank},  // a comment
      {"  #a.yuv 0 1", LineKind::Blank},
      {"\"my clip.yuv 0 25", LineKind::UnclosedQuote},
      {"\"\" 0 25", LineKind::MissingField},
      {"\"a.yuv\"x 0 25", LineKind::MissingField},
  };
  for (const auto& [line, kind] : cases) {
    EditInstruction inst;
    EXPECT_EQ(parseEditInstruction(line, inst), kind) << '"' << line << '"';
  }
}

class ScanEditListTest : public ScratchDirTest {
 protected:
  // Opens `text`, written as the edit list, for reading.
  EditListReader listOf(const std::string& text) {
    testing::writeText(path("list.txt"), text);
    OpenResult opened = openForReading(path("list.txt"));
    EXPECT_TRUE(opened.file.isOpen());
    EditListReader list;
    EXPECT_TRUE(list.load(std::move(opened.file), path("list.txt"), captured_.console()));
    return list;
  }

  // Creates empty sources; the pre-scan only opens them.
  void touch(std::initializer_list<std::string> names) {
    for (const std::string& name : names) {
      testing::writeText(path(name), "");
    }
  }

  CapturedConsole captured_;
};

TEST_F(ScanEditListTest, SumsFrameCountsAndRewindsForTheCopyPass) {
  touch({"a.yuv", "b.yuv"});
  EditListReader list =
      listOf(path("a.yuv") + " 0 10\n\n" + path("b.yuv") + " 5 0\r\n  \n" + path("a.yuv") + " 3 7");
  const ScanResult scan = scanEditList(list, captured_.console(), testing::toolScanRules());
  EXPECT_EQ(scan.status, ExitStatus::Success);
  EXPECT_EQ(scan.totalFrames, 17);
  EXPECT_EQ(captured_.text(), "");

  // The copy pass reads the same three instructions from the top, and
  // looks at each one's successor without moving on.
  EditInstruction inst;
  EditInstruction ahead;
  std::vector<std::int32_t> counts;
  std::vector<std::int32_t> aheadCounts;
  while (list.next(inst, captured_.console()) == EditListReader::Next::Instruction) {
    counts.push_back(inst.numFr);
    if (list.peek(ahead)) {
      aheadCounts.push_back(ahead.numFr);
    }
  }
  EXPECT_EQ(counts, (std::vector<std::int32_t>{10, 0, 7}));
  EXPECT_EQ(aheadCounts, (std::vector<std::int32_t>{0, 7}));
}

TEST_F(ScanEditListTest, EmptyListIsValidAndCopiesNothing) {
  EditListReader list = listOf("");
  const ScanResult scan = scanEditList(list, captured_.console(), testing::toolScanRules());
  EXPECT_EQ(scan.status, ExitStatus::Success);
  EXPECT_EQ(scan.totalFrames, 0);
  EXPECT_EQ(captured_.text(), "");
}

TEST_F(ScanEditListTest, TotalsBeyondThirtyTwoBitsDoNotOverflow) {
  touch({"a.yuv"});
  const std::string line = path("a.yuv") + " 0 2147483647\n";
  EditListReader list = listOf(line + line + line);
  const ScanResult scan = scanEditList(list, captured_.console(), testing::toolScanRules());
  EXPECT_EQ(scan.status, ExitStatus::Success);
  EXPECT_EQ(scan.totalFrames, 3 * std::int64_t{2147483647});
}

TEST_F(ScanEditListTest, AcceptsThirteenDistinctSourcesAndRejectsAFourteenth) {
  std::string thirteen;
  for (int i = 0; i < 13; ++i) {
    const std::string name = std::string("s").append(std::to_string(i)).append(".yuv");
    touch({name});
    // Each name twice: repeats do not count against the limit.
    thirteen += path(name) + " 0 1\n" + path(name) + " 1 1\n";
  }
  {
    EditListReader list = listOf(thirteen);
    EXPECT_EQ(scanEditList(list, captured_.console(), testing::toolScanRules()).status,
              ExitStatus::Success);
    EXPECT_EQ(captured_.text(), "");
  }
  // The fourteenth name ends the scan when its line is read, before the
  // existence check and before the malformed line after it.
  EditListReader list = listOf("missing-first.yuv 0 1\n" + thirteen + "fourteenth.yuv 0 1\nbad\n");
  EXPECT_EQ(scanEditList(list, captured_.console(), testing::toolScanRules()).status,
            ExitStatus::TooManySources);
  EXPECT_EQ(captured_.text(), "Too many unique filenames in the edit list. Aborting.\n");
}

TEST_F(ScanEditListTest, NamesAreComparedByteForByte) {
  touch({"clip.yuv"});
  if (std::filesystem::exists(path("CLIP.yuv"))) {
    GTEST_SKIP() << "this file system ignores the case of names";
  }
  // The same file written two ways is two names; the second cannot be opened
  // here (no such name in upper case), which proves both were checked.
  EditListReader list = listOf(path("clip.yuv") + " 0 1\n" + path("CLIP.yuv") + " 0 1\n");
  EXPECT_EQ(scanEditList(list, captured_.console(), testing::toolScanRules()).status,
            ExitStatus::SourceNotFound);
  EXPECT_EQ(captured_.text(), "Input file \"" + path("CLIP.yuv") + "\" not found. Aborting.\n");
}

TEST_F(ScanEditListTest, ReportsTheFirstMissingSourceInListOrder) {
  touch({"here.yuv"});
  EditListReader list =
      listOf(path("here.yuv") + " 0 1\nfirst-gone.yuv 0 1\nsecond-gone.yuv 0 1\n");
  EXPECT_EQ(scanEditList(list, captured_.console(), testing::toolScanRules()).status,
            ExitStatus::SourceNotFound);
  EXPECT_EQ(captured_.text(), "Input file \"first-gone.yuv\" not found. Aborting.\n");
}

TEST_F(ScanEditListTest, DirectoriesAndFilesBeingWrittenCannotBeSources) {
  ASSERT_TRUE(std::filesystem::create_directory(path("folder")));
  {
    EditListReader list = listOf(path("folder") + " 0 1\n");
    EXPECT_EQ(scanEditList(list, captured_.console(), testing::toolScanRules()).status,
              ExitStatus::SourceNotFound);
  }
  touch({"busy.yuv"});
  OpenResult writer = openForWriting(path("busy.yuv"));
  ASSERT_TRUE(writer.file.isOpen());
  EditListReader list = listOf(path("busy.yuv") + " 0 1\n");
  EXPECT_EQ(scanEditList(list, captured_.console(), testing::toolScanRules()).status,
            ExitStatus::SourceNotFound);
}

TEST_F(ScanEditListTest, MalformedLinesAreReportedWithTheirLineNumber) {
  touch({"a.yuv"});
  const std::string good = path("a.yuv") + " 0 1\n";
  const std::pair<std::string, std::string> cases[] = {
      {good + "\n" + path("a.yuv") + " 4\n",
       "Bad edit instruction on line 3: expected <source file> <first frame> <frame count>. "
       "Aborting.\n"},
      {"lonely-name\r\n",
       "Bad edit instruction on line 1: expected <source file> <first frame> "
       "<frame count>. Aborting.\n"},
      {good + good + "a.yuv 1 4294967296\n",
       "Bad edit instruction on line 3: number out of range. Aborting.\n"},
      {"\n\n\na.yuv -3 4\n",
       "Bad edit instruction on line 4: first frame must not be negative. Aborting.\n"},
      {good + "a.yuv 3 -4",
       "Bad edit instruction on line 2: frame count must not be negative. Aborting.\n"},
      // A NUL byte ends the line as it ends the scan: the numbers after it
      // are not there.
      {std::string("a.yuv\0 1 2\n", 11),
       "Bad edit instruction on line 1: expected <source file> "
       "<first frame> <frame count>. Aborting.\n"},
  };
  for (const auto& [text, message] : cases) {
    CapturedConsole captured;
    EditListReader list = listOf(text);
    EXPECT_EQ(scanEditList(list, captured.console(), testing::toolScanRules()).status,
              ExitStatus::BadEditInstruction);
    EXPECT_EQ(captured.text(), message);
  }
}

TEST_F(ScanEditListTest, LinesAndNamesOfAnyLengthAreReadWhole) {
  // Longer than any fixed 256-byte buffer, through folders since one path
  // component stops at 255 bytes.
  const std::string folders = std::string(120, 'd') + "/" + std::string(120, 'e');
  std::filesystem::create_directories(path(folders));
  const std::string longName = folders + "/" + std::string(100, 'n') + ".yuv";
  touch({longName});
  // A line longer than the blocks the list is read in, then many short ones
  // that cross block boundaries anywhere.
  std::string text = path(longName) + std::string(200000, ' ') + "0 1\n";
  for (int i = 0; i < 20000; ++i) {
    text += path(longName) + " 0 " + std::to_string(i % 3) + "\n";
  }
  EditListReader list = listOf(text);
  const ScanResult scan = scanEditList(list, captured_.console(), testing::toolScanRules());
  EXPECT_EQ(scan.status, ExitStatus::Success) << captured_.text();
  EXPECT_EQ(scan.totalFrames, 1 + 19999);
  EditInstruction inst;
  ASSERT_EQ(list.next(inst, captured_.console()), EditListReader::Next::Instruction);
  EXPECT_EQ(inst.sourceFileName, path(longName));
}

}  // namespace
}  // namespace tsa
