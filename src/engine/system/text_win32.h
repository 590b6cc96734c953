// UTF-8, as the tool speaks it, and UTF-16, as Windows does.
#pragma once

#include <string>

namespace tsa {

/// `text` (UTF-8) as UTF-16.
[[nodiscard]] std::wstring wideFromUtf8(const std::string& text);

/// `text` (UTF-16) as UTF-8.
[[nodiscard]] std::string utf8FromWide(const std::wstring& text);

/// `path` (UTF-8) as the system takes it: UTF-16, and in the "\\?\" form
/// when its full path (a relative one taken from the working folder) is too
/// long for the classic 260-character limit.
[[nodiscard]] std::wstring systemPath(const std::string& path);

}  // namespace tsa
