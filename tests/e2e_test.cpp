// The built tool, run as a user runs it: real files in a scratch folder,
// standard input given, standard output checked byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <regex>
#include <thread>

#include "engine/format/y4m.h"
#include "engine/system/file.h"
#include "test_support.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tsa {
namespace {

using testing::closingLine;
using testing::progressLine;
using testing::readFile;
using testing::runTool;
using testing::ToolRun;
using testing::writeSource;
using testing::writeText;

const std::string banner = "Corvane Test Set Assembler (10-24-2014)\n\n";
const std::string usage =
    "Creates a Test Set file given an edit list\n"
    "Parameter 1: name of edit list file\n"
    "Parameter 2: names of output file (.yuv)\n";

constexpr std::size_t cifFrameBytes = 352 * 288 * 3 / 2;

std::string question(const std::string& outFile) { return outFile + " exists. Overwrite? (y/n)?"; }

// Checks a run that ends in a failure: its status and every byte it printed.
void expectFailure(const ToolRun& run, int status, const std::string& out) {
  EXPECT_EQ(run.status, status);
  EXPECT_EQ(run.out, out);
  EXPECT_EQ(run.err, "");
}

// Checks a run that succeeds: every byte before the closing report, then a
// report of some whole number of seconds.
void expectSuccess(const ToolRun& run, const std::string& outBeforeDone) {
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  ASSERT_GE(run.out.size(), outBeforeDone.size()) << run.out;
  EXPECT_EQ(run.out.substr(0, outBeforeDone.size()), outBeforeDone);
  EXPECT_TRUE(std::regex_match(run.out.substr(outBeforeDone.size()),
                               std::regex("Done! \\(elapsed time [0-9]+ seconds\\)\n")))
      << run.out.substr(outBeforeDone.size());
}

class EndToEnd : public testing::ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    writeSource(path("a.yuv"), 1, 8);
    writeSource(path("b.yuv"), 2, 4);
  }

  ToolRun run(const std::vector<std::string>& args, const std::string& input = "") {
    return runTool(dir_, args, input);
  }

  // The lines a successful three-splice run over a and b prints.
  const std::string listText = "a.yuv 5 2\nb.yuv 0 3\na.yuv 1 1\n";
  const std::string listOutput =
      progressLine("  0", "a.yuv", "  17") + progressLine(" 50", "a.yuv", "  33") +
      closingLine("a.yuv") + progressLine("  0", "b.yuv", "  50") +
      progressLine(" 33", "b.yuv", "  67") + progressLine(" 67", "b.yuv", "  83") +
      closingLine("b.yuv") + progressLine("  0", "a.yuv", " 100") + closingLine("a.yuv");
  const std::vector<testing::Splice> listFrames = {{1, 5, 2}, {2, 0, 3}, {1, 1, 1}};
};

TEST_F(EndToEnd, WrongArgumentCountShowsUsageAndTouchesNothing) {
  for (const auto& args :
       std::vector<std::vector<std::string>>{{}, {"list.txt"}, {"list.txt", "out.yuv", "extra"}}) {
    expectFailure(run(args), 1, usage);
  }
  EXPECT_FALSE(std::filesystem::exists(path("out.yuv")));
}

// `text` as UTF-16 bytes of either byte order, behind its byte-order mark.
std::string utf16(std::u16string_view text, bool bigEndian) {
  std::string bytes;
  for (const char16_t unit : u"\uFEFF" + std::u16string(text)) {
    const auto high = static_cast<char>(unit >> 8);
    const auto low = static_cast<char>(unit & 0xFF);
    bytes += bigEndian ? std::string{high, low} : std::string{low, high};
  }
  return bytes;
}

TEST_F(EndToEnd, AssemblesSplicesInListOrder) {
  // CRLF line ends and blank lines at the end must not add or repeat a
  // splice; nor do comments, quotes or the encodings editors save in.
  const std::string annotated =
      "# class B, three splices\n\"a.yuv\" 5 2\r\n  # b next\nb.yuv 0 3\na.yuv 1 1\n";
  for (const std::string& list :
       {std::string("a.yuv 5 2\r\n  \nb.yuv 0 3\na.yuv 1 1\n\n\n"), "\xEF\xBB\xBF" + annotated,
        utf16(std::u16string(annotated.begin(), annotated.end()), false),
        utf16(std::u16string(annotated.begin(), annotated.end()), true)}) {
    writeText(path("list.txt"), list);
    std::filesystem::remove(path("out.yuv"));
    expectSuccess(run({"list.txt", "out.yuv"}), banner + listOutput);
    testing::expectFrames(path("out.yuv"), listFrames);
  }
}

TEST_F(EndToEnd, AnEmptyListMakesAnEmptyOutput) {
  writeText(path("list.txt"), "");
  expectSuccess(run({"list.txt", "out.yuv"}), banner);
  EXPECT_EQ(std::filesystem::file_size(path("out.yuv")), 0U);
}

TEST_F(EndToEnd, ReadsFramesBeyondFourGibibytes) {
  // A sparse source of 1400 frames with real frames only where they are read:
  // frame 1382 starts past 4 GiB.
  const std::string big = path("big.yuv");
  {
    OpenResult file = openForWriting(big);
    ASSERT_TRUE(file.file.isOpen());
    ASSERT_EQ(cutToLength(file.file, 1400 * frameSize), 0);
    for (std::int64_t frame : {1381, 1382, 1383}) {
      const auto bytes = testing::patternFrame(3, frame);
      ASSERT_EQ(seekTo(file.file, frame * frameSize), 0);
      ASSERT_EQ(writeSome(file.file, bytes).bytes, bytes.size());
    }
  }
  writeText(path("list.txt"), "big.yuv 1382 2\n");
  expectSuccess(run({"list.txt", "out.yuv"}), banner + progressLine("  0", "big.yuv", "  50") +
                                                  progressLine(" 50", "big.yuv", " 100") +
                                                  closingLine("big.yuv"));
  testing::expectFrames(path("out.yuv"), {{3, 1382, 2}});
}

TEST_F(EndToEnd, AMissingOrUnreadableEditListEndsBeforeTheOutputIsTouched) {
  expectFailure(run({"nothing.txt", "out.yuv"}), 2,
                banner + "Edit list file \"nothing.txt\" not found\n");
  ASSERT_TRUE(std::filesystem::create_directory(path("folder")));
  expectFailure(run({"folder", "out.yuv"}), 2, banner + "Edit list file \"folder\" not found\n");
  EXPECT_FALSE(std::filesystem::exists(path("out.yuv")));
}

TEST_F(EndToEnd, AnExistingOutputIsKeptUnlessTheAnswerIsYes) {
  writeText(path("list.txt"), listText);
  // Larger than the new set, and with a second name.
  const std::string precious(static_cast<std::size_t>(7 * frameSize + 5), 'p');
  writeText(path("out.yuv"), precious);
  std::filesystem::create_hard_link(path("out.yuv"), path("link.yuv"));
  const std::optional<FileIdentity> identity = identityOf(path("out.yuv"));
  for (const std::string answer : {"n\n", "N\n", "\n", "", " y\n", "no, y\n"}) {
    expectFailure(run({"list.txt", "out.yuv"}, answer), 10, banner + question("out.yuv"));
    EXPECT_TRUE(readFile(path("out.yuv")) == precious) << "after answer \"" << answer << "\"";
  }
  // The file is replaced in place: the same file under both names.
  for (const std::string answer : {"y\n", "Yes please\n", "Y", "y\r\n"}) {
    writeText(path("out.yuv"), precious);
    expectSuccess(run({"list.txt", "out.yuv"}, answer), banner + question("out.yuv") + listOutput);
    testing::expectFrames(path("out.yuv"), listFrames);
    EXPECT_TRUE(identityOf(path("out.yuv")) == identity);
    EXPECT_TRUE(readFile(path("link.yuv")) == readFile(path("out.yuv")));
  }
}

TEST_F(EndToEnd, AnOutputThatCannotBeWrittenIsReported) {
  writeText(path("list.txt"), listText);
  expectFailure(run({"list.txt", "no-folder/out.yuv"}), 3,
                banner + "Output file \"no-folder/out.yuv\" cannot be opened for writing\n");

  // Something that exists but cannot be read as a file is still asked about.
  ASSERT_TRUE(std::filesystem::create_directory(path("folder.yuv")));
  expectFailure(run({"list.txt", "folder.yuv"}, "n\n"), 10, banner + question("folder.yuv"));
  expectFailure(run({"list.txt", "folder.yuv"}, "y\n"), 3,
                banner + question("folder.yuv") +
                    "Output file \"folder.yuv\" cannot be opened for writing\n");

  // The output names the edit list itself, directly or through a link: it
  // is refused and the list stays intact, also where there are no locks.
  std::filesystem::create_hard_link(path("list.txt"), path("hard-link.txt"));
  std::vector<std::vector<std::string>> environments = {{}};
  if (!testing::faultLibrary().empty()) {
    environments.push_back(
        {"LD_PRELOAD=" + testing::faultLibrary(), "TSA_FAULT=flock:0:" + std::to_string(ENOLCK)});
  }
  for (const std::string name : {"list.txt", "hard-link.txt"}) {
    for (const auto& environment : environments) {
      const std::string refusal = "Output file \"" + name + "\" cannot be opened for writing\n";
      expectFailure(runTool(dir_, {"list.txt", name}, "y\n", environment), 3,
                    banner + question(name) + refusal);
      EXPECT_EQ(readFile(path("list.txt")), listText);
    }
  }
}

TEST_F(EndToEnd, AnOutputAnotherRunIsWritingIsLeftAlone) {
  writeText(path("list.txt"), listText);
  writeText(path("out.yuv"), "first run's frames");
  // Held for writing the way a running assembly holds its output.
  OpenResult firstRun = openForWriting(path("out.yuv"));
  ASSERT_TRUE(firstRun.file.isOpen());
  const std::string text = "still writing";
  ASSERT_EQ(writeSome(firstRun.file,
                      std::span(reinterpret_cast<const unsigned char*>(text.data()), text.size()))
                .bytes,
            text.size());
  const std::string before = readFile(path("out.yuv"));
  expectFailure(run({"list.txt", "out.yuv"}, "y\n"), 3,
                banner + "Output file \"out.yuv\" cannot be opened for writing\n");
  EXPECT_EQ(readFile(path("out.yuv")), before);

  // A source that another process is writing cannot be read.
  const OpenResult writer = openForWriting(path("b.yuv"));
  ASSERT_TRUE(writer.file.isOpen());
  expectFailure(run({"list.txt", "new.yuv"}), 9,
                banner + "Input file \"b.yuv\" not found. Aborting.\n");
}

TEST_F(EndToEnd, NamesInAnyScriptAndOfAnyLengthWork) {
  // Past the classic 260-character limit of Windows paths, and UTF-8 names
  // in the list and on the command line.
  const std::string folder = std::string(120, 'f') + "/" + std::string(120, 'g');
  std::filesystem::create_directories(testing::fsPath(path(folder)));
  const std::string source = folder + "/clip-\xC3\xBC\xE6\x97\xA5\xE6\x9C\xAC.yuv";
  const std::string output = folder + "/out-\xC3\xBC\xE6\x97\xA5.yuv";
  writeSource(path(source), 7, 3);
  writeText(path("list.txt"), source + " 1 2\n");
  expectSuccess(run({"list.txt", output}), banner + progressLine("  0", source, "  50") +
                                               progressLine(" 50", source, " 100") +
                                               closingLine(source));
  testing::expectFrames(path(output), {{7, 1, 2}});

  // Names with blanks and backslashes, in quotes, from lists in UTF-16 of
  // either byte order.
  // On Windows the backslash parts folders; elsewhere it is part of a name.
  const std::string spaced = "Test Media\\Ana L\xC3\xB6\xF0\x9F\x8E\xAC.yuv";
  std::filesystem::create_directory(testing::fsPath(path("Test Media")));
  writeSource(path(spaced), 9, 2);
  for (const bool bigEndian : {false, true}) {
    writeText(path("list.txt"),
              utf16(u"\"Test Media\\Ana L\u00F6\U0001F3AC.yuv\" 1 1\n", bigEndian));
    std::filesystem::remove(path("out.yuv"));
    expectSuccess(run({"list.txt", "out.yuv"}),
                  banner + progressLine("  0", spaced, " 100") + closingLine(spaced));
    testing::expectFrames(path("out.yuv"), {{9, 1, 1}});
  }

  // Short names in a working folder so deep that their full paths pass it.
  const std::string deep = path(std::string(250 - std::min<std::size_t>(dir_.size(), 200), 'w'));
  std::filesystem::create_directory(testing::fsPath(deep));
  writeSource(deep + "/clip.yuv", 8, 2);
  writeText(deep + "/list.txt", "clip.yuv 1 1\n");
  expectSuccess(runTool(deep, {"list.txt", "out.yuv"}),
                banner + progressLine("  0", "clip.yuv", " 100") + closingLine("clip.yuv"));
  testing::expectFrames(deep + "/out.yuv", {{8, 1, 1}});
}

TEST_F(EndToEnd, AMalformedListWritesNothing) {
  // Comment lines count in the line numbers.
  const std::pair<std::string, std::string> lists[] = {
      {"\xEF\xBB\xBF# intro\na.yuv 0 1\n\n#a.yuv 3\n\"a.yuv\" 3\n",
       "5: expected <source file> <first frame> <frame count>"},
      {"a.yuv 0 1\n\"b.yuv 0 1\n", "2: a quoted name has no closing quote"},
      // An unpaired surrogate on line 2; an odd byte count at the end.
      {utf16(u"a.yuv 0 1\nb.yuv 0 1\n", false).insert(26, std::string("\x00\xD8", 2)),
       "2: the list is not valid UTF-16 text"},
      {utf16(u"a.yuv 0 1\n", true) + "x", "2: the list is not valid UTF-16 text"},
  };
  for (const auto& [list, reason] : lists) {
    writeText(path("list.txt"), list);
    std::filesystem::remove(path("out.yuv"));
    expectFailure(run({"list.txt", "out.yuv"}), 4,
                  banner + "Bad edit instruction on line " + reason + ". Aborting.\n");
    EXPECT_EQ(std::filesystem::file_size(path("out.yuv")), 0U);
  }
  writeText(path("list.txt"), "a.yuv 0 1\n\na.yuv 3\nb.yuv 0 1\n");
  const std::string badLine =
      "Bad edit instruction on line 3: expected <source file> <first frame> "
      "<frame count>. Aborting.\n";
  // An existing output is left as it is, even one the list names only past
  // the bad line.
  const std::string source = readFile(path("b.yuv"));
  expectFailure(run({"list.txt", "b.yuv"}, "y\n"), 4, banner + question("b.yuv") + badLine);
  EXPECT_TRUE(readFile(path("b.yuv")) == source);
}

TEST_F(EndToEnd, ARangePastTheEndOfItsSourceKeepsTheWholeFramesBeforeIt) {
  writeSource(path("cut.yuv"), 4, 2, 12345);  // two frames and a piece of a third
  writeText(path("list.txt"), "a.yuv 7 1\ncut.yuv 1 3\n");
  expectFailure(run({"list.txt", "out.yuv"}), 6,
                banner + progressLine("  0", "a.yuv", "  25") + closingLine("a.yuv") +
                    progressLine("  0", "cut.yuv", "  50") + "Error: seek past end of file\n");
  testing::expectFrames(path("out.yuv"), {{1, 7, 1}, {4, 1, 1}});
}

TEST_F(EndToEnd, FourteenDistinctSourcesAreTooMany) {
  // Fourteen ways to write one file's name are fourteen names.
  const auto namesFor = [](int count) {
    std::string list;
    for (int i = 0; i < count; ++i) {
      std::string name = "a.yuv";
      for (int dots = 0; dots < i; ++dots) {
        name.insert(0, "./");
      }
      list += name + " 0 1\n";
    }
    return list;
  };
  const std::string list = namesFor(14);
  writeText(path("list.txt"), list);
  expectFailure(run({"list.txt", "out.yuv"}), 8,
                banner + "Too many unique filenames in the edit list. Aborting.\n");
  EXPECT_EQ(std::filesystem::file_size(path("out.yuv")), 0U);
  // A whole class of 19 clips in one run, with the limit raised; the same
  // list without it is refused as ever.
  writeText(path("list.txt"), namesFor(19));
  expectFailure(run({"--yes", "list.txt", "out.yuv"}), 8,
                banner + "Too many unique filenames in the edit list. Aborting.\n");
  expectFailure(run({"--max-sources=18", "--yes", "list.txt", "out.yuv"}), 8,
                banner + "Too many unique filenames in the edit list. Aborting.\n");
  const ToolRun raised = run({"--max-sources=19", "--yes", "list.txt", "out.yuv"});
  EXPECT_EQ(raised.status, 0) << raised.out;
  testing::expectFrames(path("out.yuv"), std::vector<testing::Splice>(19, {1, 0, 1}));
  expectFailure(
      run({"--max-sources=0", "list.txt", "out.yuv"}), 1,
      usage + "Error: bad value \"0\" for --max-sources: expected a whole number from 1 up\n");
}

// A run refused before its copy (a bad line 4, a name too many 8, a missing
// source 9) leaves an older output as it was, whatever the answer; a new
// output is created first, and stays behind empty.
TEST_F(EndToEnd, AnOutputIsEmptiedOnlyOnceTheListHasPassed) {
  const std::string precious = "last night's test set";
  const std::string tooMany = [] {
    std::string list;
    std::string dots;
    for (int i = 0; i < 14; ++i, dots += "./") {
      list += dots + "a.yuv 0 1\n";
    }
    return list;
  }();
  const struct {
    std::string list;
    int status;
    std::string message;
  } cases[] = {
      {"a.yuv 0 1\nb.yuv 0\n", 4,
       "Bad edit instruction on line 2: expected <source file> <first frame> <frame count>. "
       "Aborting.\n"},
      {tooMany, 8, "Too many unique filenames in the edit list. Aborting.\n"},
      {"a.yuv 0 1\nmissing.yuv 0 1\n", 9, "Input file \"missing.yuv\" not found. Aborting.\n"},
  };
  for (const auto& c : cases) {
    writeText(path("list.txt"), c.list);
    writeText(path("set.yuv"), precious);
    expectFailure(run({"--yes", "list.txt", "set.yuv"}), c.status, banner + c.message);
    EXPECT_EQ(readFile(path("set.yuv")), precious) << c.list;
    expectFailure(run({"list.txt", "set.yuv"}, "y\n"), c.status,
                  banner + question("set.yuv") + c.message);
    EXPECT_EQ(readFile(path("set.yuv")), precious) << c.list;
    std::filesystem::remove(path("new.yuv"));
    expectFailure(run({"list.txt", "new.yuv"}), c.status, banner + c.message);
    EXPECT_EQ(std::filesystem::file_size(path("new.yuv")), 0U) << c.list;
  }
  // Once the list has passed, the older file is replaced as ever.
  writeText(path("list.txt"), listText);
  expectSuccess(run({"--yes", "list.txt", "set.yuv"}), banner + listOutput);
  testing::expectFrames(path("set.yuv"), listFrames);
}

// What would only be warned of: a count read in part is named in the run;
// under --strict it, a raw file of part frames, Y4M headers that differ and
// a range past its source's end are refused before anything is written.
TEST_F(EndToEnd, DoubtsAreNamedAndUnderStrictRefused) {
  writeText(path("list.txt"), "b.yuv 0 1\na.yuv 6 2O\n");
  expectSuccess(run({"list.txt", "out.yuv"}),
                banner + "Warning: line 2: \"2O\" is read as 2\n" +
                    progressLine("  0", "b.yuv", "  33") + closingLine("b.yuv") +
                    progressLine("  0", "a.yuv", "  67") + progressLine(" 50", "a.yuv", " 100") +
                    closingLine("a.yuv"));
  testing::expectFrames(path("out.yuv"), {{2, 0, 1}, {1, 6, 2}});

  writeSource(path("cut.yuv"), 4, 2, 12345);
  const std::string cif = "YUV4MPEG2 W352 H288 C420mpeg2 ";
  writeText(path("c25.y4m"), cif + "F25:1\nFRAME\n" + std::string(cifFrameBytes, 'a'));
  writeText(path("c30.y4m"), cif + "F30:1\nFRAME\n" + std::string(cifFrameBytes, 'b'));
  const std::string partFrames = "Input file \"cut.yuv\" holds " +
                                 std::to_string(2 * frameSize + 12345) +
                                 " bytes, not a whole number of " + testing::defaultFormatName +
                                 " frames (" + std::to_string(frameSize) + " bytes each)";
  const struct {
    std::string list, output;
    int status;
    std::string refusal;
    std::string warning;  // the same list without --strict, where it goes on
  } cases[] = {
      {"a.yuv 0 1\nb.yuv 0 1e2\n", "out.yuv", 4,
       "Bad edit instruction on line 2: \"1e2\" is not a whole number. Aborting.\n",
       "Warning: line 2: \"1e2\" is read as 1\n"},
      {"a.yuv 0 1\ncut.yuv 0 1\n", "out.yuv", 9, partFrames + ". Aborting.\n", ""},
      {"c25.y4m 0 1\nc30.y4m 0 1\n", "out.y4m", 9,
       "Input file \"c30.y4m\" is F30:1, \"c25.y4m\" F25:1: one output cannot say both. "
       "Aborting.\n",
       "Warning: \"c30.y4m\" is F30:1, \"c25.y4m\" F25:1: the output says F25:1\n"},
      {"a.yuv 0 1\nb.yuv 2 5\n", "out.yuv", 6,
       "Error: line 2: \"b.yuv\" holds 4 frames, not frames 2 to 6\n", ""},
  };
  const std::string precious = "an older set";
  for (const auto& c : cases) {
    writeText(path("list.txt"), c.list);
    writeText(path(c.output), precious);
    expectFailure(run({"--strict", "--yes", "list.txt", c.output}), c.status, banner + c.refusal);
    EXPECT_EQ(readFile(path(c.output)), precious) << c.list;
    expectFailure(run({"--strict", "--check", "list.txt", c.output}), c.status, banner + c.refusal);
    const ToolRun lenient = run({"--yes", "list.txt", c.output});
    EXPECT_TRUE(lenient.out.starts_with(banner + c.warning)) << lenient.out;
    EXPECT_NE(readFile(path(c.output)), precious) << c.list;
  }
  // A list that raises no doubt runs as it would without --strict.
  writeText(path("list.txt"), listText);
  expectSuccess(run({"--strict", "list.txt", "sound.yuv"}), banner + listOutput);
  testing::expectFrames(path("sound.yuv"), listFrames);
}

// A command line that cannot be run but names - as its output keeps its
// usage text off standard output, where an encoder reads.
TEST_F(EndToEnd, UsageErrorsStayOffStandardOutputWhenFramesGoThere) {
  writeText(path("list.txt"), listText);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--szie=cif", "list.txt", "-"},
        std::vector<std::string>{"--size", "cif", "list.txt", "-", "--nope"},
        std::vector<std::string>{"list.txt", "-", "extra"}}) {
    const ToolRun refused = run(args);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_TRUE(refused.err.starts_with(usage)) << refused.err;
  }
  // With a file as the output, where it always went.
  expectFailure(run({"--szie=cif", "list.txt", "out.yuv"}), 1,
                usage + "Error: unknown option \"--szie=cif\"\n");
}

// Windows keeps "set.y4m." and "set.y4m " as set.y4m: a Y4M file, and so
// written as one. Elsewhere the name is as typed, and not .y4m.
TEST_F(EndToEnd, AnOutputIsOfTheKindOfTheNameTheFileSystemKeeps) {
  writeText(path("list.txt"), "b.yuv 1 1\n");
  for (const std::string typed : {"set.y4m.", "set.y4m ", "set.y4m. ."}) {
    const ToolRun made = run({"--yes", "list.txt", typed});
    EXPECT_EQ(made.status, 0) << made.out;
#ifdef _WIN32
    const std::string written = readFile(path("set.y4m"));
    EXPECT_TRUE(written.starts_with("YUV4MPEG2 " + testing::defaultY4mSize)) << typed;
    std::filesystem::remove(path("set.y4m"));
#else
    EXPECT_EQ(std::filesystem::file_size(path(typed)), static_cast<std::uintmax_t>(frameSize));
#endif
  }
}

TEST_F(EndToEnd, ASourceThatCannotBeOpenedIsReportedBeforeAnyCopy) {
  writeText(path("list.txt"), "a.yuv 0 1\nmissing.yuv 0 1\n");
  expectFailure(run({"list.txt", "out.yuv"}), 9,
                banner + "Input file \"missing.yuv\" not found. Aborting.\n");
  EXPECT_EQ(std::filesystem::file_size(path("out.yuv")), 0U);
}

TEST_F(EndToEnd, AnOutputThatNamesASourceIsRefusedAndTheSourceKept) {
  writeText(path("list.txt"), "a.yuv 0 1\nb.yuv 0 1\n");
  std::filesystem::create_hard_link(path("b.yuv"), path("b-hard.yuv"));
  const std::string source = readFile(path("b.yuv"));
  // The same path, other spellings, a hard link and a symbolic link.
  std::vector<std::string> names = {"b.yuv", "./b.yuv", dir_ + "/b.yuv", "b-hard.yuv"};
  std::error_code noLinks;
  std::filesystem::create_symlink("b.yuv", path("b-link.yuv"), noLinks);
  if (noLinks) {
    std::cout << "Not tried: a symbolic link (" << noLinks.message() << ")\n";
  } else {
    names.emplace_back("b-link.yuv");
  }
  for (const std::string& name : names) {
    expectFailure(
        run({"list.txt", name}, "y\n"), 3,
        banner + question(name) + "Output file \"" + name + "\" cannot be opened for writing\n");
    EXPECT_TRUE(readFile(path("b.yuv")) == source) << name;
  }
}

// Writes a Y4M source: `header`, then pattern frames of `sourceId` behind
// `marker`, and `marker` is replaced by "FRAMX\n" before frame `broken`.
void writeY4mSource(const std::string& path, const std::string& header, int sourceId, int frames,
                    const std::string& marker = "FRAME\n", int broken = -1) {
  std::string bytes = header;
  for (int i = 0; i < frames; ++i) {
    const auto frame = testing::patternFrame(sourceId, i);
    bytes += (i == broken ? "FRAMX\n" : marker) + std::string(frame.begin(), frame.end());
  }
  writeText(path, bytes);
}

TEST_F(EndToEnd, Y4mSourcesAndOutputsMixWithRawOnes) {
  const std::string width = std::to_string(frameWidth);
  const std::string height = std::to_string(frameHeight);
  const std::string size = std::string("W").append(width).append(" H").append(height);
  const std::string video = width + "x" + height + " yuv420p";
  writeY4mSource(path("c.y4m"), "YUV4MPEG2 " + size + " F50:1 Ip A1:1 C420jpeg XYSCSS=420JPEG\n", 3,
                 3);
  writeY4mSource(path("d.y4m"), "YUV4MPEG2 " + size + " F30000:1001\n", 4, 2, "FRAME Ixyz\n");
  writeY4mSource(path("e.y4m"), "YUV4MPEG2 " + size + "\n", 5, 4, "FRAME\n", 2);
  writeY4mSource(path("wide.y4m"),
                 "YUV4MPEG2 W" + std::to_string(frameWidth + 2) + " H" + height + "\n", 6, 1);
  writeY4mSource(path("broken.y4m"), "YUV4MPEG2 W" + width + "\n", 6, 1);
  // A length of its own, and another chroma siting.
  writeY4mSource(path("long.y4m"), "YUV4MPEG2 " + size + " F50:1 XLENGTH=30 C420jpeg XA=1\n", 7, 3);
  writeY4mSource(path("sited.y4m"), "YUV4MPEG2 " + size + " F50:1 Ip A1:1 C420mpeg2\n", 8, 2);
  const std::string mixed = "c.y4m 1 2\na.yuv 0 1\nd.y4m 1 1\n";
  const std::string header = "YUV4MPEG2 " + size + " F50:1 Ip A1:1 C420jpeg XYSCSS=420JPEG\n";
  const std::string rates =
      "Warning: \"d.y4m\" is F30000:1001, \"c.y4m\" F50:1: the output says F50:1\n";
  const std::string sitedWarning =
      "Warning: \"sited.y4m\" is C420mpeg2, \"c.y4m\" C420jpeg: the output says C420jpeg\n";
  struct Case {
    std::string list, output;
    int status;
    std::string lastLine;  // a regex
    std::string outputStart;
    std::vector<testing::Splice> frames;
    std::string warning = {};  // after the banner
  };
  const Case cases[] = {
      {mixed, "out.y4m", 0, "Done! .*\n", header, {{3, 1, 2}, {1, 0, 1}, {4, 1, 1}}, rates},
      {mixed, "OUT.Y4M", 0, "Done! .*\n", header, {{3, 1, 2}, {1, 0, 1}, {4, 1, 1}}, rates},
      {mixed, "out.yuv", 0, "Done! .*\n", "", {{3, 1, 2}, {1, 0, 1}, {4, 1, 1}}},
      {"a.yuv 1 1\n",
       "out.y4m",
       0,
       "Done! .*\n",
       "YUV4MPEG2 " + size + " F25:1 Ip A1:1 C420jpeg\n",
       {{1, 1, 1}}},
      {"", "out.y4m", 0, "Done! .*\n", "YUV4MPEG2 " + size + " F25:1 Ip A1:1 C420jpeg\n", {}},
      {"e.y4m 0 4\n",
       "out.y4m",
       6,
       "Error: input file \"e.y4m\" has a broken frame marker before frame 2\n",
       "YUV4MPEG2 " + size + " F25:1 Ip A1:1 C420jpeg\n",
       {{5, 0, 2}}},
      {"c.y4m 2 2\n", "out.yuv", 6, "Error: seek past end of file\n", "", {{3, 2, 1}}},
      // The output's header is the whole output's: no source's length, and
      // a word where the sources' headers differ (none for a raw output).
      {"long.y4m 1 2\n",
       "out.y4m",
       0,
       "Done! .*\n",
       "YUV4MPEG2 " + size + " F50:1 Ip A1:1 C420jpeg XA=1\n",
       {{7, 1, 2}}},
      {"c.y4m 0 1\nsited.y4m 1 1\n",
       "out.y4m",
       0,
       "Done! .*\n",
       header,
       {{3, 0, 1}, {8, 1, 1}},
       sitedWarning},
      {"c.y4m 0 1\nsited.y4m 1 1\n", "out.yuv", 0, "Done! .*\n", "", {{3, 0, 1}, {8, 1, 1}}},
      {"c.y4m 0 1\nwide.y4m 0 1\n",
       "out.y4m",
       9,
       "Input file \"wide.y4m\" is " + std::to_string(frameWidth + 2) + "x" + height +
           " yuv420p, not " + video + ". Aborting.\n",
       "",
       {}},
      {"broken.y4m 0 1\n",
       "out.yuv",
       9,
       "Input file \"broken.y4m\" has a broken Y4M header. Aborting.\n",
       "",
       {}},
  };
  for (const Case& c : cases) {
    writeText(path("list.txt"), c.list);
    std::filesystem::remove(path(c.output));
    const ToolRun run = runTool(dir_, {"list.txt", c.output});
    EXPECT_EQ(run.status, c.status) << c.list << c.output << "\n" << run.out;
    EXPECT_TRUE(run.out.substr(banner.size()).starts_with(c.warning)) << c.list << run.out;
    EXPECT_EQ(run.out.find("Warning"), c.warning.empty() ? std::string::npos : banner.size());
    EXPECT_TRUE(std::regex_search(run.out, std::regex("(^|[\r\n])" + c.lastLine + "$")))
        << c.list << c.output << "\n"
        << run.out;
    const std::string expected =
        c.outputStart + testing::framesOf(c.frames, c.outputStart.empty() ? "" : "FRAME\n");
    EXPECT_TRUE(readFile(path(c.output)) == expected) << c.list << c.output;
    std::size_t frames = 0;
    for (const testing::Splice& splice : c.frames) {
      frames += static_cast<std::size_t>(splice.frames);
    }
    EXPECT_EQ(static_cast<std::size_t>(std::count(run.out.begin(), run.out.end(), '\r')), frames);
  }
}

// The list from standard input, the frames to standard output (the
// messages then to standard error), and the options scripts use.
TEST_F(EndToEnd, StandardStreamsCarryTheListAndTheFrames) {
  writeText(path("list.txt"), listText);
  const std::string y4mHeader =
      "YUV4MPEG2 " + testing::defaultY4mSize + " F25:1 Ip A1:1 C420jpeg\n";
  const std::string cHeader = "YUV4MPEG2 " + testing::defaultY4mSize + " F50:1 Ip C420jpeg\n";
  writeY4mSource(path("c.y4m"), cHeader, 3, 3);
  const std::string cLines = progressLine("  0", "c.y4m", "  50") +
                             progressLine(" 50", "c.y4m", " 100") + closingLine("c.y4m");
  const std::string old = "an older test set";
  struct Case {
    std::vector<std::string> args;
    std::string input;
    int status;
    std::string framesOut;  // what standard output holds besides messages
    std::string messages;   // before the Done line, where a run prints one
    bool messagesOnStderr;
    std::string outYuv;  // what out.yuv holds afterwards (it starts as `old`)
  };
  const std::string frames = testing::framesOf(listFrames);
  const std::string refusal = "Output file \"list.txt\" cannot be opened for writing\n";
  const auto checked = [&](int splices, std::int64_t frameCount, const std::string& output) {
    return banner + "Checked " + std::to_string(splices) +
           " splices: " + std::to_string(frameCount) + " frames of " + testing::defaultFormatName +
           ", a " + output + " bytes";
  };
  const std::string rawBytes = "raw output of " + std::to_string(6 * frameSize);
  const std::string y4mBytes =
      "Y4M output of " + std::to_string(y4mHeader.size() + 6 * (6 + frameSize));
  const std::string pastEnd = "Error: line 2: \"b.yuv\" holds 4 frames, not frames 2 to 4\n";
  const std::string cY4m = "YUV4MPEG2 " + testing::defaultY4mSize + " F50:1 Ip A1:1 C420jpeg\n" +
                           testing::framesOf({{3, 1, 2}}, "FRAME\n");
  const std::string cRaw = testing::framesOf({{3, 1, 2}});
  std::vector<Case> cases = {
      // Scripts: quiet runs, checked lists, Y4M sources to standard output.
      {{"--quiet", "--yes", "list.txt", "out.yuv"}, "", 0, "", "", false, frames},
      {{"--quiet", "list.txt", "-"}, "", 0, frames, "", true, old},
      {{"--quiet", "list.txt", "out.yuv"}, "n\n", 10, "", question("out.yuv"), false, old},
      {{"--quiet", "--yes", "list.txt", "list.txt"}, "", 3, "", refusal, false, old},
      {{"--check", "list.txt", "out.yuv"}, "", 0, "", checked(3, 6, rawBytes) + "\n", false, old},
      {{"--check", "list.txt", "new.y4m"}, "", 0, "", checked(3, 6, y4mBytes) + "\n", false, old},
      {{"--check", "-", "out.yuv"}, "a.yuv 0 1\nb.yuv 2 3\n", 6, "", banner + pastEnd, false, old},
      {{"-", "-"}, "c.y4m 1 2\n", 0, cY4m, banner + cLines, true, old},
      {{"--raw", "-", "-"}, "c.y4m 1 2\n", 0, cRaw, banner + cLines, true, old},
      {{"list.txt", "-"}, "", 0, frames, banner + listOutput, true, old},
      {{"--y4m", "list.txt", "-"},
       "",
       0,
       y4mHeader + testing::framesOf(listFrames, "FRAME\n"),
       banner + listOutput,
       true,
       old},
      // A header with no frame after it goes to a pipe too.
      {{"--y4m", "-", "-"}, "a.yuv 1 0\n", 0, y4mHeader, banner + closingLine("a.yuv"), true, old},
      {{"-", "new.yuv"}, listText, 0, "", banner + listOutput, false, old},
      {{"-", "out.yuv"}, listText, 10, "", banner + question("out.yuv"), false, old},
      {{"list.txt", "--yes", "out.yuv"}, "", 0, "", banner + listOutput, false, frames},
      {{"--yes", "list.txt", "list.txt"}, "", 3, "", banner + refusal, false, old},
      // A check ends as the run would: an output that is a file it reads;
      // counts with more after their digits are named, and read as ever.
      {{"--check", "list.txt", "list.txt"}, "", 3, "", banner + refusal, false, old},
      {{"--check", "list.txt", "./a.yuv"},
       "",
       3,
       "",
       banner + "Output file \"./a.yuv\" cannot be opened for writing\n",
       false,
       old},
      {{"--check", "-", "out.yuv"},
       "a.yuv 0 1\nb.yuv 0 2O\n# 5.9\nb.yuv 1 1e2\n",
       0,
       "",
       banner + "Warning: line 2: \"2O\" is read as 2\nWarning: line 4: \"1e2\" is read as 1\n" +
           checked(3, 4, "raw output of " + std::to_string(4 * frameSize)).substr(banner.size()) +
           "\n",
       false,
       old},
  };
#ifndef _WIN32
  // A pipe has no length to check the list against.
  ASSERT_EQ(::mkfifo(path("live.fifo").c_str(), 0644), 0);
  const std::string unchecked = checked(4, 8, "raw output of " + std::to_string(8 * frameSize)) +
                                "; not checked: \"live.fifo\" (a pipe or device)";
  cases.push_back({{"--check", "-", "out.yuv"},
                   listText + "live.fifo 0 2\n",
                   0,
                   "",
                   unchecked + "\n",
                   false,
                   old});
#endif
  for (const Case& c : cases) {
    writeText(path("out.yuv"), old);
    const ToolRun run = runTool(dir_, c.args, c.input);
    const std::string& messages = c.messagesOnStderr ? run.err : run.out;
    const std::string& framesOut = c.messagesOnStderr ? run.out : run.err;
    const std::string where = c.args[0] + " " + c.args[1] + " " + c.args.back();
    EXPECT_EQ(run.status, c.status) << where;
    EXPECT_TRUE(framesOut == c.framesOut) << where;
    // A run that copied ends with the Done line, unless it is quiet.
    const bool done = c.status == 0 && std::ranges::count(c.args, "--quiet") == 0 &&
                      std::ranges::count(c.args, "--check") == 0;
    EXPECT_TRUE(
        std::regex_match(messages.substr(std::min(messages.size(), c.messages.size())),
                         std::regex(done ? "Done! \\(elapsed time [0-9]+ seconds\\)\n" : "")))
        << where << ": " << messages;
    EXPECT_EQ(messages.substr(0, c.messages.size()), c.messages) << where;
    EXPECT_TRUE(readFile(path("out.yuv")) == c.outYuv) << c.args[0] << " " << c.args[1];
  }
  testing::expectFrames(path("new.yuv"), listFrames);
  EXPECT_FALSE(std::filesystem::exists(path("new.y4m")));
  EXPECT_EQ(readFile(path("list.txt")), listText);
}

// A frame of planes of the given bytes: every byte of plane p of frame f of
// source s holds one value of its own, so a plane of the wrong size shifts
// what follows it.
std::string planarFrame(int sourceId, int frame, const std::vector<std::size_t>& planes) {
  std::string bytes;
  for (std::size_t plane = 0; plane < planes.size(); ++plane) {
    bytes.append(planes[plane], static_cast<char>(sourceId * 50 + frame * 7 + plane * 2 + 1));
  }
  return bytes;
}

// Where ffmpeg is installed, its framemd5 of the output `output` in `dir`
// of a run with `args` (which wrote sums.md5 there) is the run's, byte for
// byte: a raw output read as the format the run's check names, at the rate
// of its time base.
void expectFfmpegChecksums(const std::string& dir, std::vector<std::string> args,
                           const std::string& output, const std::string& sumsFile = "sums.md5",
                           const std::string& muxer = "framemd5") {
#ifndef _WIN32
  if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) {
    std::cout << "Not compared with ffmpeg's " << muxer << ": ffmpeg is not installed\n";
    return;
  }
  const std::string sums = readFile(dir + "/" + sumsFile);
  std::string input = "-i " + dir + "/" + output;
  if (!y4m::namesY4m(output)) {
    args.insert(args.begin(), "--check");
    const std::string summary = runTool(dir, args).out;
    std::smatch format;
    std::smatch timeBase;
    ASSERT_TRUE(std::regex_search(summary, format, std::regex("of ([0-9]+x[0-9]+) ([a-z0-9]+),")));
    ASSERT_TRUE(std::regex_search(sums, timeBase, std::regex("#tb 0: ([0-9]+)/([0-9]+)")));
    input = "-f rawvideo -video_size " + format[1].str() + " -pix_fmt " + format[2].str() +
            " -framerate " + timeBase[2].str() + "/" + timeBase[1].str() + " " + input;
  }
  const std::string command =
      "ffmpeg -v error -y " + input + " -fflags +bitexact -f " + muxer + " " + dir + "/ffmpeg.md5";
  ASSERT_EQ(std::system((command + " </dev/null").c_str()), 0) << command;
  EXPECT_EQ(readFile(dir + "/ffmpeg.md5"), sums) << command;
#else
  (void)dir;
  (void)args;
  (void)output;
  (void)sumsFile;
  (void)muxer;
#endif
}

// A run checked against a reference (--verify): a framemd5 or framehash
// file of an equal set passes; the first frame that differs ends the run
// with status 11, the output keeping the frames before it; a reference of
// other frames is refused before anything is written, one of another
// length at the end.
TEST_F(EndToEnd, ARunCheckedAgainstItsReferenceStopsAtTheFirstFrameThatDiffers) {
  writeText(path("list.txt"), listText);
  // The references: the tool's own, and ffmpeg's where it is installed.
  std::vector<std::string> references;
  for (const std::string option : {"--framemd5=own.md5", "--framehash=own.sha"}) {
    ASSERT_EQ(run({option, "--quiet", "--yes", "list.txt", "ref.yuv"}).status, 0);
  }
  references = {"own.md5", "own.sha"};
#ifndef _WIN32
  if (std::system("ffmpeg -version >/dev/null 2>&1") == 0) {
    const std::string input = "ffmpeg -v error -y -f rawvideo -video_size " +
                              std::to_string(frameWidth) + "x" + std::to_string(frameHeight) +
                              " -pix_fmt yuv420p -i " + path("ref.yuv") + " -fflags +bitexact ";
    ASSERT_EQ(std::system((input + "-f framemd5 " + path("ff.md5") + " </dev/null").c_str()), 0);
    ASSERT_EQ(
        std::system((input + "-f framehash -hash crc32 " + path("ff.crc") + " </dev/null").c_str()),
        0);
    references.insert(references.end(), {"ff.md5", "ff.crc"});
  }
#endif
  for (const std::string& reference : references) {
    expectSuccess(run({"--yes", "--verify=" + reference, "list.txt", "out.yuv"}),
                  banner + listOutput);
    testing::expectFrames(path("out.yuv"), listFrames);
  }
  // Frame 3 of the output is frame 1 of b.yuv, not frame 0.
  writeText(path("changed.txt"), "a.yuv 5 2\nb.yuv 1 3\na.yuv 1 1\n");
  expectFailure(run({"--yes", "--verify=own.md5", "changed.txt", "out.yuv"}), 11,
                banner + progressLine("  0", "a.yuv", "  17") +
                    progressLine(" 50", "a.yuv", "  33") + closingLine("a.yuv") +
                    "Error: frame 2 of the output (line 2, \"b.yuv\" frame 1) differs from "
                    "\"own.md5\"\n");
  testing::expectFrames(path("out.yuv"), {{1, 5, 2}});
  // A list one frame short, and one frame long: all of it is written and
  // checked, then refused, naming both counts.
  writeText(path("short.txt"), "a.yuv 5 2\nb.yuv 0 3\n");
  expectFailure(run({"--yes", "--quiet", "--verify=own.sha", "short.txt", "out.yuv"}), 11,
                "Error: \"own.sha\" holds 6 frames, the output 5\n");
  testing::expectFrames(path("out.yuv"), {{1, 5, 2}, {2, 0, 3}});
  writeText(path("long.txt"), listText + "b.yuv 3 1\n");
  expectFailure(run({"--yes", "--quiet", "--verify=own.md5", "long.txt", "out.yuv"}), 11,
                "Error: \"own.md5\" holds 6 frames, the output 7\n");
  testing::expectFrames(path("out.yuv"), {{1, 5, 2}, {2, 0, 3}, {1, 1, 1}, {2, 3, 1}});
  // Of other frames: nothing is written, an older output is kept.
  writeText(path("out.yuv"), "an older set");
  expectFailure(
      run({"--yes", "--quiet", "--verify=own.md5", "--size=640x480", "list.txt", "out.yuv"}), 11,
      "Error: \"own.md5\" is of " + std::to_string(frameWidth) + "x" + std::to_string(frameHeight) +
          " frames, not 640x480\n");
  EXPECT_EQ(readFile(path("out.yuv")), "an older set");
  // A reference that cannot be one is refused as a bad option's value.
  for (const auto& [args, problem] :
       {std::pair{std::vector<std::string>{"--verify=none.md5", "list.txt", "out.yuv"},
                  std::string("Error: cannot read reference \"none.md5\" (")},
        std::pair{std::vector<std::string>{"--verify=list.txt", "list.txt", "out.yuv"},
                  std::string("Error: reference \"list.txt\" is not a framemd5 or framehash "
                              "file\n")},
        std::pair{std::vector<std::string>{"--check", "--verify=own.md5", "list.txt", "out.yuv"},
                  std::string("Error: options --verify and --check do not go together\n")}}) {
    const ToolRun refused = run(args);
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.out.starts_with(usage + problem)) << refused.out;
  }
  EXPECT_EQ(readFile(path("out.yuv")), "an older set");
}

// ffmpeg's framehash with each hash a library computes: literal lines for
// the hashes both platforms compute, ffmpeg's own where it is installed;
// names ffmpeg has that no library here computes are refused.
TEST_F(EndToEnd, FrameHashesAreFfmpegsWithAnyOfItsHashes) {
  writeText(path("ab.yuv"), std::string(cifFrameBytes, 'a') + std::string(cifFrameBytes, 'b'));
  writeText(path("list.txt"), "ab.yuv 0 2\n");
  const auto sums = [](const std::string& hash, const std::string& a, const std::string& b) {
    return "#format: frame checksums\n#version: 2\n#hash: " + hash +
           "\n#tb 0: 1/25\n#media_type 0: video\n#codec_id 0: rawvideo\n#dimensions 0: 352x288\n"
           "#sar 0: 0/1\n#stream#, dts,        pts, duration,     size, hash\n"
           "0,          0,          0,        1,   152064, " +
           a + "\n0,          1,          1,        1,   152064, " + b + "\n";
  };
  const struct {
    std::vector<std::string> options;
    std::string ffmpegHash;  // as ffmpeg's -hash names it
    std::string expected;    // empty: only ffmpeg's lines to compare with
    bool onWindows;          // CNG or zlib computes it there
  } cases[] = {
      {{},
       "sha256",
       sums("SHA256", "b0b150ab0478f164bf28b3e0b283e1b5b6ac791dc025db97d984e5d93ef9ee43",
            "d363ecb8b5be92881349c7005717958283eeade86bbded3c42a234db8fd3c2c8"),
       true},
      {{"--hash=MD5"},
       "md5",
       sums("MD5", "a84bb1336e77426f8f6118daccd1ab85", "81ffda6d440ad76c8bb9f68d1d23f141"),
       true},
      {{"--hash=sha1"},
       "sha160",
       sums("SHA160", "5856b3ee6d1c495acba51edc576ab04057b8772c",
            "41b24847874c5de96dce686a95b7121c413bac12"),
       true},
      {{"--hash", "crc32"}, "crc32", sums("CRC32", "e516c9ff", "da7c50e2"), true},
      {{"--hash=adler32"}, "adler32", sums("adler32", "877e1f30", "13f2714e"), true},
      {{"--hash=sha224"},
       "sha224",
       sums("SHA224", "82a8f5ed0aa91f8c58ed7c010c48037841ad7048fb00c64c6d0122ca",
            "e1a37e92f8eea03108fcc59e73055a2f0f0e97f7f0ca82534a30839a"),
       false},
      {{"--hash=sha384"}, "sha384", "", true},
      {{"--hash=sha512"}, "sha512", "", true},
      {{"--hash=sha512/224"}, "sha512/224", "", false},
      {{"--hash=sha512/256"}, "sha512/256", "", false},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {"--size=cif", "--framehash=sums.txt", "list.txt", "out.yuv"});
#ifdef _WIN32
    if (!c.onWindows) {
      const ToolRun refused = run(args);
      EXPECT_EQ(refused.status, 1) << c.ffmpegHash;
      EXPECT_NE(refused.out.find("no library the tool uses computes it here"), std::string::npos);
      continue;
    }
#endif
    std::filesystem::remove(path("out.yuv"));
    const ToolRun made = run(args);
    EXPECT_EQ(made.status, 0) << c.ffmpegHash << made.out;
    if (!c.expected.empty()) {
      EXPECT_EQ(readFile(path("sums.txt")), c.expected) << c.ffmpegHash;
    }
    expectFfmpegChecksums(dir_, args, "out.yuv", "sums.txt", "framehash -hash " + c.ffmpegHash);
  }
  // On standard output, with the messages on standard error.
  const ToolRun toStdout =
      run({"--size=cif", "--framehash=-", "--hash=crc32", "list.txt", "o.yuv"});
  EXPECT_EQ(toStdout.out, sums("CRC32", "e516c9ff", "da7c50e2"));
  EXPECT_TRUE(toStdout.err.starts_with(banner)) << toStdout.err;
}

// Frames of many formats, given by the options or by Y4M headers, into raw
// and Y4M outputs. The plane sizes are written out, not computed.
TEST_F(EndToEnd, FramesOfAnyFormatAreCopiedWhole) {
  struct Case {
    std::vector<std::string> options;
    std::string y4mHeader;  // empty: raw sources
    std::vector<std::size_t> planes;
    std::string output;
    std::string outputHeader;  // what a .y4m output starts with
    std::string warning = {};  // of the second source, cut short by 100 bytes
    std::array<std::string, 2> stems = {"s1", "s2"};
    std::string said = {};          // after the banner: what the names gave, or overrule
    std::string secondHeader = {};  // the second source alone is Y4M, with this header
    std::string framemd5 = {};      // the checksums' lines, as ffmpeg writes them
  };
  const auto sums = [](const std::string& tb, const std::string& size, const std::string& sar,
                       const std::string& bytes, const std::array<const char*, 3>& hashes) {
    std::string text = "#format: frame checksums\n#version: 2\n#hash: MD5\n#tb 0: " + tb +
                       "\n#media_type 0: video\n#codec_id 0: rawvideo\n#dimensions 0: " + size +
                       "\n#sar 0: " + sar +
                       "\n#stream#, dts,        pts, duration,     size, hash\n";
    for (int frame = 0; frame < 3; ++frame) {
      const std::string at = std::to_string(frame);
      text += "0,          " + at + ",          " + at + ",        1, " +
              std::string(8 - bytes.size(), ' ') + bytes + ", " +
              hashes[static_cast<std::size_t>(frame)] + "\n";
    }
    return text;
  };
  const auto byNames = [](const std::string& format) {
    return "Frames: " + format + ", as the source names state\n";
  };
  const auto overruled = [](const std::string& name, const std::string& stated) {
    return "Warning: input file \"" + name + ".yuv\" is named " + stated +
           "; read as 352x288 yuv420p, as the options say\n";
  };
  const std::vector<std::size_t> cifPlanes = {101376, 25344, 25344};
  const std::string cif = "YUV4MPEG2 W352 H288 F30:1 ";
  const std::string alphaOut = cif + "Ip A1:1 C444alpha\n";
  const std::string partFrames =
      "Warning: input file \"s2.yuv\" holds 7559 bytes, not a whole number of 37x23 rgb24 frames "
      "(2553 bytes each)\n";
  const Case cases[] = {
      {{"--size=352x288"},
       "",
       {101376, 25344, 25344},
       "out.yuv",
       "",
       "",
       {"s1", "s2"},
       "",
       "",
       sums("1/25", "352x288", "0/1", "152064",
            {"5affc40910c755c3d1872db2fff60630", "6880495a7412a60ef04bc3a32e0968de",
             "80a3cc4e2fb794605f39a7242c8ac33d"})},
      {{"--size", "352x288", "--pix-fmt", "yuv422p10le"},
       "",
       {202752, 101376, 101376},
       "out.y4m",
       "YUV4MPEG2 W352 H288 F25:1 Ip A1:1 C422p10\n",
       "",
       {"s1", "s2"},
       "",
       "",
       sums("1/25", "352x288", "1/1", "405504",
            {"b06d358ce2ef8a12f6e832a685f7ec95", "eeebf5662df2cadff89ede2a8406c1a4",
             "e18e00e54e4508d2b38690334353406e"})},
      {{"--pix-fmt=yuv444p16le", "--size=352x288"}, "", {202752, 202752, 202752}, "out.yuv", ""},
      {{"--size=352x288", "--pix-fmt=yuv444p"},
       "",
       {101376, 101376, 101376},
       "out.y4m",
       "YUV4MPEG2 W352 H288 F25:1 Ip A1:1 C444\n"},
      {{"--size=350x16", "--pix-fmt=yuv411p"}, "", {5600, 1408, 1408}, "out.yuv", ""},
      {{"--size=352x288", "--pix-fmt=gray16le"},
       "",
       {202752},
       "out.y4m",
       "YUV4MPEG2 W352 H288 F25:1 Ip A1:1 Cmono16\n"},
      {{"--size=353x289"},
       "",
       {102017, 25665, 25665},
       "out.yuv",
       "",
       "",
       {"s1", "s2"},
       "",
       "",
       sums("1/25", "353x289", "0/1", "153347",
            {"b3e175e15249588e87f2a42ce9d8a994", "5e9fb471d7626afd1368b536ab53dd0d",
             "0351d88d2209b64cc738c3ff22c6ef9d"})},
      {{}, cif + "C420p10\n", {202752, 50688, 50688}, "out.y4m", cif + "Ip A1:1 C420p10\n"},
      {{},
       cif + "Cmono XCOLORRANGE=FULL\n",
       {101376},
       "out.y4m",
       cif + "Ip A1:1 Cmono XCOLORRANGE=FULL\n"},
      {{}, "YUV4MPEG2 W353 H289 C422p12\n", {204034, 102306, 102306}, "out.yuv", ""},
      {{}, "YUV4MPEG2 W3840 H2160 F50:1 C420p10\n", {16588800, 4147200, 4147200}, "out.yuv", ""},
      // A family each: semi-planar, big-endian, packed at an odd width,
      // packed RGB, planar RGB, alpha from Y4M to Y4M, full range.
      {{"--size=352x288", "--pix-fmt=nv12"}, "", {101376, 50688}, "out.yuv", ""},
      {{"--size=352x288", "--pix-fmt=p010be"}, "", {202752, 101376}, "out.yuv", ""},
      {{"--size=353x288", "--pix-fmt=yuyv422"}, "", {203904}, "out.yuv", ""},
      {{"--size=37x23", "--pix-fmt=rgb24"}, "", {2553}, "out.yuv", "", partFrames},
      {{"--size=352x288", "--pix-fmt=gbrp10le"}, "", {202752, 202752, 202752}, "out.yuv", ""},
      {{}, cif + "C444alpha\n", {101376, 101376, 101376, 101376}, "out.y4m", alphaOut},
      {{"--size=352x288", "--pix-fmt=yuvj420p", "--frame-rate=30000/1001"},
       "",
       {101376, 25344, 25344},
       "out.y4m",
       "YUV4MPEG2 W352 H288 F30000:1001 Ip A1:1 C420jpeg XCOLORRANGE=FULL\n",
       "",
       {"s1", "s2"},
       "",
       "",
       sums("1001/30000", "352x288", "1/1", "152064",
            {"5affc40910c755c3d1872db2fff60630", "6880495a7412a60ef04bc3a32e0968de",
             "80a3cc4e2fb794605f39a7242c8ac33d"})},
      // Formats the names state; the options overrule a name; raw frames
      // beside Y4M ones of the header's format.
      {{},
       "",
       cifPlanes,
       "out.yuv",
       "",
       "",
       {"foreman_cif", "akiyo_352x288_30"},
       byNames("352x288 yuv420p at 30 fps")},
      {{},
       "",
       {199680, 49920, 49920},
       "out.yuv",
       "",
       "",
       {"Campfire_416x240_30fps_10bit_420", "Tango2_416x240_10-bit"},
       byNames("416x240 yuv420p10le at 30 fps")},
      {{},
       "",
       cifPlanes,
       "out.y4m",
       "YUV4MPEG2 W352 H288 F30000:1001 Ip A1:1 C420jpeg\n",
       "",
       {"a_cif_29.97fps", "b"},
       byNames("352x288 yuv420p at 30000/1001 fps")},
      {{},
       "",
       cifPlanes,
       "out.y4m",
       "YUV4MPEG2 W352 H288 F50:1 Ip A1:1 C420jpeg\n",
       "",
       {"clip_352x288_50", "extra"},
       byNames("352x288 yuv420p at 50 fps")},
      {{"--size=352x288"},
       "",
       cifPlanes,
       "out.yuv",
       "",
       "",
       {"b_1280x720", "c_176x144_8bit"},
       "Frames: 352x288 yuv420p, as the options and the source names state\n" +
           overruled("b_1280x720", "1280x720 yuv420p") +
           overruled("c_176x144_8bit", "176x144 yuv420p")},
      {{"--pix-fmt=yuv420p10le"},
       "",
       {202752, 50688, 50688},
       "out.yuv",
       "",
       "",
       {"foreman_cif", "s2"},
       "Frames: 352x288 yuv420p10le, as the options and the source names state\n"
       "Warning: input file \"foreman_cif.yuv\" is named 352x288 yuv420p; read as 352x288 "
       "yuv420p10le, as the options say\n"},
      {{"--size=cif"}, "", cifPlanes, "out.yuv", ""},
      {{}, "", cifPlanes, "out.yuv", "", "", {"s1", "s2"}, "", cif + "C420mpeg2\n"},
  };
  for (const Case& c : cases) {
    std::string where;
    for (const std::string& option : c.options) {
      where += option + " ";
    }
    where += c.y4mHeader + c.output;
    const std::string extension = c.y4mHeader.empty() ? ".yuv" : ".y4m";
    const std::string name1 = c.stems[0] + extension;
    const std::string name2 = c.stems[1] + (c.secondHeader.empty() ? extension : ".y4m");
    for (const auto& [id, name] : {std::pair(1, name1), std::pair(2, name2)}) {
      const std::string header = id == 2 && !c.secondHeader.empty() ? c.secondHeader : c.y4mHeader;
      std::string source = header;
      for (int frame = 0; frame < 3; ++frame) {
        source += (header.empty() ? "" : "FRAME\n") + planarFrame(id, frame, c.planes);
      }
      if (!c.warning.empty() && id == 2) {
        source.resize(source.size() - 100);
      }
      writeText(path(name), source);
    }
    writeText(path("list.txt"), name1 + " 1 2\n" + name2 + " 0 1\n");
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {"--framemd5=sums.md5", "list.txt", c.output});
    std::filesystem::remove(path(c.output));
    const ToolRun run = runTool(dir_, args);
    expectSuccess(run, banner + c.said + c.warning + progressLine("  0", name1, "  33") +
                           progressLine(" 50", name1, "  67") + closingLine(name1) +
                           progressLine("  0", name2, " 100") + closingLine(name2));
    const std::string marker = c.outputHeader.empty() ? "" : "FRAME\n";
    const std::string expected = c.outputHeader + marker + planarFrame(1, 1, c.planes) + marker +
                                 planarFrame(1, 2, c.planes) + marker + planarFrame(2, 0, c.planes);
    EXPECT_TRUE(readFile(path(c.output)) == expected) << where;
    if (!c.framemd5.empty()) {
      EXPECT_EQ(readFile(path("sums.md5")), c.framemd5) << where;
    }
    expectFfmpegChecksums(dir_, args, c.output);
  }
}

// Options that cannot be read, and Y4M sources of the wrong format: the
// usage with the problem (1) before the output is looked at, or the file
// and both formats (9) before any frame is copied.
TEST_F(EndToEnd, FormatsThatDoNotFitAreRefused) {
  const std::string& fullHd = testing::defaultFormatName;
  writeText(path("list.txt"), "a.yuv 0 1\n");
  writeY4mSource(path("cif.y4m"), "YUV4MPEG2 W352 H288 C420mpeg2\n", 3, 0);
  writeY4mSource(path("cif10.y4m"), "YUV4MPEG2 W352 H288 C420p10\n", 3, 0);
  writeY4mSource(path("alpha.y4m"), "YUV4MPEG2 W352 H288 C420p11\n", 3, 0);
  writeY4mSource(path("full.y4m"), "YUV4MPEG2 " + testing::defaultY4mSize + "\n", 3, 0);
  const std::string precious = "an older test set";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;
  };
  const auto refused = [&](const std::string& problem) {
    return usage + "Error: " + problem + "\n";
  };
  const auto withList = [](const std::string& option) {
    return std::vector<std::string>{option, "list.txt", "out.yuv"};
  };
  const std::string format = "pixel format \"";
  const std::string beFrames = "yuv420p10be frames: ";
  const std::string notCopied = "\" cannot be copied: ";
  const std::string palette = "its frames are indices into a palette of their own";
  const std::string bits = "its pixels are packed into bits, not whole bytes";
  const std::string y4m = "a Y4M file cannot hold ";
  const std::string names =
      "\": expected a name ffmpeg gives one, such as yuv420p10le, nv12, p010le, yuyv422, rgb24 or "
      "gbrp";
  const std::string rates = "\": expected N or N/D, such as 25 or 30000/1001";
  const std::string badSize = "\": expected WIDTHxHEIGHT, such as 1920x1080\n";
  const Case cases[] = {
      {{"--size=0x10", "list.txt", "out.yuv"}, 1, usage + "Error: bad frame size \"0x10" + badSize},
      {{"list.txt", "--size", "720p", "out.yuv"},
       1,
       usage + "Error: bad frame size \"720p" + badSize},
      {{"list.txt", "out.yuv", "--size"}, 1, usage + "Error: option --size needs a value\n"},
      {{"--size=100000x100000", "list.txt", "out.yuv"},
       1,
       usage +
           "Error: frames of 100000x100000 yuv420p do not fit: a frame may take 1073741824 bytes "
           "at most\n"},
      {withList("--pix-fmt=pal8"), 1, refused(format + "pal8" + notCopied + palette)},
      {withList("--pix-fmt=monow"), 1, refused(format + "monow" + notCopied + bits)},
      {{"--pix-fmt=nv12", "list.txt", "out.y4m"},
       1,
       refused(y4m + "nv12 frames: name the output .yuv")},
      {{"--y4m", "--pix-fmt=yuv420p10be", "list.txt", "out.yuv"},
       1,
       refused(y4m + beFrames + "leave out --y4m")},
      {withList("--pix-fmt=yuv411p10le"), 1, refused("unknown " + format + "yuv411p10le" + names)},
      {withList("--frame-rate=0"), 1, refused("bad frame rate \"0" + rates)},
      {withList("--frame-rate=25/x"), 1, refused("bad frame rate \"25/x" + rates)},
      {{"--frames=3", "list.txt", "out.yuv"}, 1, usage + "Error: unknown option \"--frames=3\"\n"},
      {{"--y4m=yes", "list.txt", "out.yuv"}, 1, usage + "Error: option --y4m takes no value\n"},
      {{"--size=352x288", "list.txt"}, 1, usage},
      {{"--framehash=s", "--hash=murmur3", "list.txt", "out.yuv"},
       1,
       refused("hash \"murmur3\" cannot be used: no library the tool uses computes it here")},
      {{"--framehash=s", "--hash=sha3", "list.txt", "out.yuv"},
       1,
       refused("hash \"sha3\" cannot be used: expected a hash ffmpeg names: md5, sha1, sha224, "
               "sha256, sha384, sha512, sha512/224, sha512/256, crc32 or adler32")},
      {{"--framemd5=s", "--hash=md5", "list.txt", "out.yuv"},
       1,
       refused("option --hash goes with --framehash")},
      {{"--framemd5=s", "--framehash=t", "list.txt", "out.yuv"},
       1,
       refused("options --framemd5 and --framehash ask for two checksum files")},
      {{"--version", "list.txt", "out.yuv"},
       0,
       "Corvane Test Set Assembler (10-24-2014)\ntestset-assembler " TSA_VERSION "\n"},
      // Y4M sources of two formats; beside a raw one; of a C the tool does
      // not know; of another format than the options name.
      {{"cif.y4m.list", "out.yuv"},
       9,
       banner + "Input file \"cif10.y4m\" is 352x288 yuv420p10le, not 352x288 yuv420p. "
                "Aborting.\n"},
      {{"named.list", "out.yuv"},
       9,
       banner + R"(Input file "b_1280x720.yuv" is named 1280x720 yuv420p, but "a_cif.yuv" )" +
           "352x288 yuv420p. Aborting.\n"},
      {{"header-and-name.list", "out.yuv"},
       9,
       banner + R"(Input file "b_1280x720.yuv" is named 1280x720 yuv420p, but "cif.y4m" )" +
           "352x288 yuv420p. Aborting.\n"},
      {{"depths.list", "out.yuv"},
       9,
       banner + "Input file \"d_10bit.yuv\" is named 352x288 yuv420p10le, but " +
           "\"a_cif.yuv\" 352x288 yuv420p. Aborting.\n"},
      // A size alone states 8-bit 4:2:0: beside a 10-bit name or header,
      // in either order, a disagreement.
      {{"depth-after.list", "out.yuv"},
       9,
       banner + "Input file \"Tango2_1920x1080_50fps_10bit_420.yuv\" is named 1920x1080 " +
           "yuv420p10le, but \"Cactus_1920x1080_50.yuv\" 1920x1080 yuv420p. Aborting.\n"},
      {{"depth-before.list", "out.yuv"},
       9,
       banner + "Input file \"Cactus_1920x1080_50.yuv\" is named 1920x1080 yuv420p, but " +
           "\"Tango2_1920x1080_50fps_10bit_420.yuv\" 1920x1080 yuv420p10le. Aborting.\n"},
      {{"header-depth.list", "out.yuv"},
       9,
       banner + R"(Input file "foreman_cif.yuv" is named 352x288 yuv420p, but "cif10.y4m" )" +
           "352x288 yuv420p10le. Aborting.\n"},
      {{"alpha.list", "out.yuv"},
       9,
       banner + "Input file \"alpha.y4m\" is 352x288 420p11, not " + fullHd + ". Aborting.\n"},
      {{"--pix-fmt=yuv420p10le", "full.list", "out.yuv"},
       9,
       banner + "Input file \"full.y4m\" is " + fullHd + ", not " + fullHd + "10le. Aborting.\n"},
  };
  writeText(path("cif.y4m.list"), "cif.y4m 0 1\ncif10.y4m 0 1\n");
  writeText(path("named.list"), "a_cif.yuv 0 1\nb_1280x720.yuv 0 1\n");
  writeText(path("header-and-name.list"), "b_1280x720.yuv 0 1\ncif.y4m 0 1\n");
  writeText(path("depths.list"), "a_cif.yuv 0 1\nc_cif_8bit.yuv 0 1\nd_10bit.yuv 0 1\n");
  for (const char* name : {"a_cif.yuv", "b_1280x720.yuv", "c_cif_8bit.yuv", "d_10bit.yuv"}) {
    writeText(path(name), "");
  }
  writeText(path("depth-after.list"),
            "Cactus_1920x1080_50.yuv 0 10\nTango2_1920x1080_50fps_10bit_420.yuv 0 2\n");
  writeText(path("depth-before.list"),
            "Tango2_1920x1080_50fps_10bit_420.yuv 0 2\nCactus_1920x1080_50.yuv 0 10\n");
  writeText(path("header-depth.list"), "cif10.y4m 0 1\nforeman_cif.yuv 0 1\n");
  for (const char* name :
       {"Cactus_1920x1080_50.yuv", "Tango2_1920x1080_50fps_10bit_420.yuv", "foreman_cif.yuv"}) {
    writeText(path(name), "");
  }
  writeText(path("alpha.list"), "alpha.y4m 0 1\n");
  writeText(path("full.list"), "full.y4m 0 1\n");
  for (const Case& c : cases) {
    writeText(path("out.yuv"), precious);
    // A refused option comes before the question: nothing is asked.
    const ToolRun run = runTool(dir_, c.args, c.status == 9 ? "y\n" : "");
    const std::string out =
        c.status == 9 ? banner + question("out.yuv") + c.out.substr(banner.size()) : c.out;
    expectFailure(run, c.status, out);
    EXPECT_EQ(readFile(path("out.yuv")), precious) << c.args[0];
  }
  EXPECT_FALSE(std::filesystem::exists(path("out.y4m")));
}

TEST_F(EndToEnd, HelpShowsTheOptionsAndTheDefaultFormat) {
  const ToolRun run = runTool(dir_, {"list.txt", "--help"});
  EXPECT_EQ(run.status, 0);
  ASSERT_TRUE(run.out.starts_with(usage + "\n")) << run.out;
  for (const std::string option :
       {"--size=WxH", "--pix-fmt=NAME", "--frame-rate=N[/D]", "--y4m", "--raw", "--yes", "--quiet",
        "--check", "--strict", "--reflink=never", "--version"}) {
    EXPECT_NE(run.out.find("  " + option + " "), std::string::npos) << option;
  }
  EXPECT_NE(run.out.find(testing::defaultFormatName), std::string::npos);
  // Only two dashes make an option: "-x" is a name.
  writeSource(path("-x"), 3, 1);
  writeText(path("-l"), "-x 0 1\n");
  expectSuccess(runTool(dir_, {"-l", "--", "--out"}),
                banner + progressLine("  0", "-x", " 100") + closingLine("-x"));
  testing::expectFrames(path("--out"), {{3, 0, 1}});
}

// The checksums are of the frames the output keeps, whatever ends the run,
// on standard output too; the checksum file is refused as an output is.
TEST_F(EndToEnd, ChecksumsAreOfTheFramesTheOutputKeeps) {
  writeText(path("short.txt"), "b.yuv 1 1\na.yuv 6 4\n");
  expectFailure(run({"--framemd5=short.md5", "short.txt", "short.yuv"}), 6,
                banner + progressLine("  0", "b.yuv", "  20") + closingLine("b.yuv") +
                    progressLine("  0", "a.yuv", "  40") + progressLine(" 25", "a.yuv", "  60") +
                    "Error: seek past end of file\n");
  writeText(path("kept.txt"), "b.yuv 1 1\na.yuv 6 2\n");
  expectSuccess(run({"--framemd5=kept.md5", "kept.txt", "kept.yuv"}),
                banner + progressLine("  0", "b.yuv", "  33") + closingLine("b.yuv") +
                    progressLine("  0", "a.yuv", "  67") + progressLine(" 50", "a.yuv", " 100") +
                    closingLine("a.yuv"));
  EXPECT_EQ(readFile(path("short.md5")), readFile(path("kept.md5")));
  EXPECT_EQ(std::ranges::count(readFile(path("kept.md5")), '\n'), 9 + 3);
  EXPECT_TRUE(readFile(path("short.yuv")) == readFile(path("kept.yuv")));
  // On standard output, with the messages on standard error.
  const ToolRun toStdout = run({"--framemd5=-", "kept.txt", "again.yuv"});
  EXPECT_EQ(toStdout.status, 0);
  EXPECT_EQ(toStdout.out, readFile(path("kept.md5")));
  EXPECT_TRUE(toStdout.err.starts_with(banner + progressLine("  0", "b.yuv", "  33")));
  // Refused as an output is: a source, the list, the output itself (3); and
  // standard output twice (1).
  const std::string source = readFile(path("a.yuv"));
  for (const std::string named : {"a.yuv", "./kept.txt", "kept.yuv"}) {
    expectFailure(run({"--yes", "--framemd5=" + named, "kept.txt", "kept.yuv"}), 3,
                  banner + "Checksum file \"" + named + "\" cannot be opened for writing\n");
    expectFailure(run({"--check", "--framemd5=" + named, "kept.txt", "kept.yuv"}), 3,
                  banner + "Checksum file \"" + named + "\" cannot be opened for writing\n");
  }
  EXPECT_TRUE(readFile(path("a.yuv")) == source);
  EXPECT_EQ(readFile(path("kept.txt")), "b.yuv 1 1\na.yuv 6 2\n");
  const ToolRun twice = run({"--framemd5=-", "kept.txt", "-"});
  EXPECT_EQ(twice.status, 1);
  EXPECT_EQ(twice.out, "");
  EXPECT_EQ(twice.err,
            usage + "Error: --framemd5=- and the output - both ask for standard output\n");
}

// Pipes, /proc and /dev/full: what only a POSIX system offers.
#ifndef _WIN32

TEST_F(EndToEnd, AnEditListFromAPipeIsReadOnceAndUsedTwice) {
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  testing::ToolProcess tool(dir_, {"/dev/fd/9", "out.yuv"}, "", pipeFds[0], 9);
  ::close(pipeFds[0]);
  ASSERT_EQ(::write(pipeFds[1], listText.data(), listText.size()),
            static_cast<ssize_t>(listText.size()));
  ::close(pipeFds[1]);
  expectSuccess(tool.finish(), banner + listOutput);
  testing::expectFrames(path("out.yuv"), listFrames);
}

TEST_F(EndToEnd, AnEditListThatFailsToReadIsReportedBeforeTheOutputIsTouched) {
  // Reading a process's memory from its start fails with an I/O error.
  expectFailure(
      run({"/proc/self/mem", "out.yuv"}), 2,
      banner + "Error: cannot read edit list file \"/proc/self/mem\" (Input/output error)\n");
  EXPECT_FALSE(std::filesystem::exists(path("out.yuv")));
}

TEST_F(EndToEnd, ANamedPipeThatAnEncoderReadsCanBeTheOutput) {
  writeText(path("list.txt"), listText);
  ASSERT_EQ(::mkfifo(path("encoder.fifo").c_str(), 0644), 0);
  // A pipe is not a file that is replaced: nothing is asked, and with no
  // answer to give (standard input closed) the run waits for its reader.
  // The encoder's end is open before the run starts, as an encoder waiting
  // for its input holds it, or opened only once the run waits.
  for (const bool lateReader : {false, true}) {
    int encoder = -1;
    if (!lateReader) {
      encoder = ::open(path("encoder.fifo").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
      ASSERT_GE(encoder, 0);
    }
    testing::ToolProcess tool(dir_, {"list.txt", "encoder.fifo"}, "");
    if (lateReader) {
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
      encoder = ::open(path("encoder.fifo").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
      ASSERT_GE(encoder, 0);
    }
    const std::size_t expected = 6 * static_cast<std::size_t>(frameSize);
    std::string received;
    std::vector<char> chunk(1 << 16);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (received.size() < expected && std::chrono::steady_clock::now() < deadline) {
      const ssize_t got = ::read(encoder, chunk.data(), chunk.size());
      if (got > 0) {
        received.append(chunk.data(), static_cast<std::size_t>(got));
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));  // no writer or no data yet
      }
    }
    ::close(encoder);
    expectSuccess(tool.finish(), banner + listOutput);
    writeText(path("received.yuv"), received);
    testing::expectFrames(path("received.yuv"), listFrames);
  }
}

TEST_F(EndToEnd, ASourceThatDisappearsDuringTheCopyEndsTheRun) {
  writeText(path("list.txt"), "a.yuv 0 2\nb.yuv 0 1\n");
  // The output is a pipe the test drains, so the run cannot reach b.yuv
  // before the test has removed it.
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  testing::ToolProcess tool(dir_, {"list.txt", "/dev/fd/9"}, "y\n", pipeFds[1], 9);
  ::close(pipeFds[1]);
  std::string written;
  char chunk[65536];
  for (ssize_t got; (got = ::read(pipeFds[0], chunk, sizeof chunk)) > 0;) {
    if (written.empty()) {
      std::filesystem::remove(path("b.yuv"));  // the first frame is still on its way
    }
    written.append(chunk, static_cast<std::size_t>(got));
  }
  ::close(pipeFds[0]);
  expectFailure(tool.finish(), 5,
                banner + question("/dev/fd/9") + progressLine("  0", "a.yuv", "  33") +
                    progressLine(" 50", "a.yuv", "  67") + closingLine("a.yuv") +
                    "Input file \"b.yuv\" disappeared?\n");
  const auto frame0 = testing::patternFrame(1, 0);
  const auto frame1 = testing::patternFrame(1, 1);
  EXPECT_TRUE(written == std::string(frame0.begin(), frame0.end()) +
                             std::string(frame1.begin(), frame1.end()));
}

TEST_F(EndToEnd, ASourceThatFailsToReadIsNotTakenForAShortOne) {
  // Reading a process's memory from its start fails with an I/O error.
  writeText(path("list.txt"), "a.yuv 0 1\n/proc/self/mem 0 1\n");
  expectFailure(run({"list.txt", "out.yuv"}), 6,
                banner + progressLine("  0", "a.yuv", "  50") + closingLine("a.yuv") +
                    "Error: cannot read input file \"/proc/self/mem\" (Input/output error)\n");
  testing::expectFrames(path("out.yuv"), {{1, 0, 1}});
}

TEST_F(EndToEnd, AFailedWriteIsReportedAndNotCalledDone) {
  writeText(path("list.txt"), listText);
  expectFailure(run({"list.txt", "/dev/full"}, "y\n"), 7,
                banner + question("/dev/full") +
                    "Error: cannot write to output file \"/dev/full\" (No space left on device)\n");
  expectFailure(run({"--framemd5=/dev/full", "list.txt", "new.yuv"}), 7,
                banner +
                    "Error: cannot write to checksum file \"/dev/full\" (No space left on "
                    "device)\n");
}

#else

TEST_F(EndToEnd, PosixOnlyCasesAreSkipped) {
  GTEST_SKIP() << "pipes as list and output, /proc and /dev/full exist on POSIX systems only";
}

#endif

}  // namespace
}  // namespace tsa
