#include "engine/system/text_win32.h"

#include <windows.h>

namespace tsa {

std::wstring wideFromUtf8(const std::string& text) {
  if (text.empty()) {
    return {};
  }
  const int length =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                        length);
  return wide;
}

std::string utf8FromWide(const std::wstring& text) {
  if (text.empty()) {
    return {};
  }
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(),
                        length, nullptr, nullptr);
  return narrow;
}

std::wstring systemPath(const std::string& path) {
  std::wstring wide = wideFromUtf8(path);
  // Paths already in a special form go as they are.
  if (wide.starts_with(L"\\\\?\\") || wide.starts_with(L"\\\\.\\")) {
    return wide;
  }
  // A relative path is taken from the working folder, so what counts is
  // the length of the full path.
  const DWORD length = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  std::wstring full(length, L'\0');
  const DWORD written =
      length == 0 ? 0 : ::GetFullPathNameW(wide.c_str(), length, full.data(), nullptr);
  if (written == 0 || written >= length) {
    return wide;
  }
  full.resize(written);
  // Below the limit (less room for a file name in a new folder) a path goes
  // as written; so do devices: "NUL" is "\\.\NUL" in full.
  constexpr std::size_t classicLimit = MAX_PATH - 12;
  if (full.size() < classicLimit || full.starts_with(L"\\\\.\\")) {
    return wide;
  }
  if (full.starts_with(L"\\\\")) {
    return L"\\\\?\\UNC\\" + full.substr(2);  // \\server\share\...
  }
  return L"\\\\?\\" + full;
}

}  // namespace tsa
