#include "driver/driver.h"

#include <gtest/gtest.h>

#include <limits>

#include "engine/copy/frame_buffer.h"
#include "test_support.h"

namespace tsa {
namespace {

using testing::CapturedConsole;

TEST(OverwriteAnswer, OnlyAFirstYConsents) {
  for (const char* yes : {"y", "Y", "y\n", "Y\r\n", "yes\n", "yep, go"}) {
    EXPECT_TRUE(isConsent(yes)) << yes;
  }
  for (const char* no : {"", "\n", "n\n", "N", " y\n", "oui", "\xff"}) {
    EXPECT_FALSE(isConsent(no)) << no;
  }
}

TEST(DoneLine, UsesSecondsUpToAMinuteThenMinutes) {
  const std::pair<std::int64_t, std::string> cases[] = {
      {0, "Done! (elapsed time 0 seconds)\n"},
      {7, "Done! (elapsed time 7 seconds)\n"},
      {60, "Done! (elapsed time 60 seconds)\n"},
      {61, "Done! (elapsed time 1 min. 1 sec.)\n"},
      {119, "Done! (elapsed time 1 min. 59 sec.)\n"},
      {3600, "Done! (elapsed time 60 min. 0 sec.)\n"},
      {90061, "Done! (elapsed time 1501 min. 1 sec.)\n"},
  };
  for (const auto& [seconds, line] : cases) {
    CapturedConsole captured;
    printDoneLine(captured.console(), seconds);
    EXPECT_EQ(captured.text(), line) << seconds;
  }
}

TEST(FrameBuffer, AFailedAllocationIsReportedNotFatal) {
  CapturedConsole captured;
  const FrameBuffer frameBuf =
      allocateFrameBuffer(static_cast<std::size_t>(frameSize), captured.console());
  ASSERT_NE(frameBuf, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(frameBuf.get()) % 4096, 0U);
  EXPECT_EQ(captured.text(), "");
  // More than any machine has, but not so much that the size is invalid.
  EXPECT_EQ(allocateFrameBuffer(std::numeric_limits<std::size_t>::max() / 4, captured.console()),
            nullptr);
  EXPECT_EQ(captured.text(), "Error: cannot allocate the frame buffer\n");
}

}  // namespace
}  // namespace tsa
