// The file layer on Windows: handles with share modes for shared reading
// and exclusive writing, wide-character paths underneath UTF-8 names.
#include <windows.h>

#include <cstring>

#include "engine/system/file.h"
#include "engine/system/stop.h"
#include "engine/system/text_win32.h"

namespace tsa {
namespace {

HANDLE handleOf(const FileHandle& file) { return reinterpret_cast<HANDLE>(file.native()); }

FileHandle::Native nativeOf(HANDLE handle) { return reinterpret_cast<FileHandle::Native>(handle); }

int lastError() { return static_cast<int>(::GetLastError()); }

OpenResult failed(int error) {
  OpenResult result;
  result.error = error;
  result.heldElsewhere = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
  return result;
}

// The volume and the file's id on it. ReFS (a Dev Drive) has 128-bit ids,
// whose 64-bit index is not unique, so the full id is used where the system
// gives it; older systems (and Wine) give only the index.
std::optional<FileIdentity> identityOfHandle(HANDLE handle) {
  FILE_ID_INFO id{};
  if (::GetFileInformationByHandleEx(handle, FileIdInfo, &id, sizeof id) != 0) {
    FileIdentity identity{id.VolumeSerialNumber, 0, 0};
    std::memcpy(&identity.index, id.FileId.Identifier, sizeof identity.index);
    std::memcpy(&identity.indexHigh, id.FileId.Identifier + sizeof identity.index,
                sizeof identity.indexHigh);
    return identity;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileInformationByHandle(handle, &info) == 0) {
    return std::nullopt;
  }
  return FileIdentity{
      info.dwVolumeSerialNumber,
      (std::uint64_t{info.nFileIndexHigh} << 32) | std::uint64_t{info.nFileIndexLow}, 0};
}

// Fills in what the open file is; false when the system cannot say.
bool describe(OpenResult& result) {
  const HANDLE handle = handleOf(result.file);
  const DWORD type = ::GetFileType(handle);
  result.device = type == FILE_TYPE_CHAR;
  if (type != FILE_TYPE_DISK) {
    return true;  // a console, NUL or a pipe: no identity, no length
  }
  FILE_BASIC_INFO basic{};
  LARGE_INTEGER size{};
  const std::optional<FileIdentity> identity = identityOfHandle(handle);
  if (!identity ||
      ::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) == 0 ||
      ::GetFileSizeEx(handle, &size) == 0) {
    return false;
  }
  result.identity = *identity;
  result.regularFile = (basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  result.size = size.QuadPart;
  return true;
}

// Opens `path` with `access` and `share`, and fills in what the file is.
OpenResult openWith(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
  OpenResult result;
  result.file = FileHandle(nativeOf(::CreateFileW(systemPath(path).c_str(), access, share, nullptr,
                                                  disposition, FILE_ATTRIBUTE_NORMAL, nullptr)));
  if (!result.file.isOpen()) {
    return failed(lastError());
  }
  if (!describe(result)) {
    return failed(lastError());
  }
  return result;
}

}  // namespace

int FileHandle::close() {
  if (native_ == invalid) {
    return 0;
  }
  const HANDLE handle = reinterpret_cast<HANDLE>(std::exchange(native_, invalid));
  return ::CloseHandle(handle) != 0 ? 0 : lastError();
}

std::string nameAsStored(std::string_view path) {
  const std::size_t componentStart = path.find_last_of("\\/:") + 1;
  const std::size_t kept = path.find_last_not_of(". ");
  // A component of dots alone (. and ..) names a folder, and stays.
  if (kept == std::string_view::npos || kept < componentStart) {
    return std::string(path);
  }
  return std::string(path.substr(0, kept + 1));
}

bool isPipeName(const std::string& path) {
  constexpr std::string_view prefix = "\\\\.\\pipe\\";
  if (path.size() <= prefix.size()) {
    return false;
  }
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    const char c = path[i] >= 'A' && path[i] <= 'Z' ? static_cast<char>(path[i] + 32) : path[i];
    if (c != prefix[i] && !(prefix[i] == '\\' && c == '/')) {
      return false;
    }
  }
  return true;
}

namespace {

// Opens the named pipe `path` with `access`: a pipe whose server has every
// instance connected, or has not made a new one yet, is waited for, until
// a stop.
OpenResult openPipe(const std::string& path, DWORD access, DWORD share) {
  OpenResult result = openWith(path, access, share, OPEN_EXISTING);
  while (!result.file.isOpen() &&
         (result.error == ERROR_PIPE_BUSY || result.error == ERROR_FILE_NOT_FOUND) &&
         !stopRequested()) {
    if (::WaitNamedPipeW(systemPath(path).c_str(), 100) == 0) {
      ::Sleep(10);
    }
    result = openWith(path, access, share, OPEN_EXISTING);
  }
  return result;
}

}  // namespace

OpenResult openForReading(const std::string& path, PipeOpen pipe) {
  // Others may read too, but nobody may write while the run reads. A
  // directory cannot be opened this way at all.
  if (pipe == PipeOpen::WaitForWriter && isPipeName(path)) {
    return openPipe(path, GENERIC_READ, FILE_SHARE_READ);
  }
  return openWith(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
}

OpenResult openForWriting(const std::string& path) {
  // No sharing at all, and nothing cut: see cutToLength. A pipe's reader
  // is its server, which the run meets as a pipe source meets its writer.
  if (isPipeName(path)) {
    return openPipe(path, GENERIC_WRITE, 0);
  }
  return openWith(path, GENERIC_WRITE, 0, OPEN_ALWAYS);
}

namespace {

// A handle of its own on what `handle` has open, described.
OpenResult duplicateOf(HANDLE handle) {
  HANDLE own = nullptr;
  const HANDLE process = ::GetCurrentProcess();
  if (::DuplicateHandle(process, handle, process, &own, 0, FALSE, DUPLICATE_SAME_ACCESS) == 0) {
    return failed(lastError());
  }
  OpenResult result;
  result.file = FileHandle(nativeOf(own));
  return describe(result) ? std::move(result) : failed(lastError());
}

}  // namespace

OpenResult openStandardInput() { return duplicateOf(::GetStdHandle(STD_INPUT_HANDLE)); }

OpenResult openStandardOutput() { return duplicateOf(::GetStdHandle(STD_OUTPUT_HANDLE)); }

// Windows ties nothing to one open that a second one would clear, and the
// run's share mode allows no second open: a duplicate will do.
OpenResult openAgain(const FileHandle& file) { return duplicateOf(handleOf(file)); }

std::int64_t positionOf(const FileHandle& file) {
  LARGE_INTEGER position{};
  return ::SetFilePointerEx(handleOf(file), LARGE_INTEGER{}, &position, FILE_CURRENT) != 0
             ? position.QuadPart
             : -1;
}

std::optional<FileIdentity> identityOf(const std::string& path) {
  // Opening a pipe connects to its writer: a pipe is never a file the run
  // writes, so it has no identity to compare.
  if (isPipeName(path)) {
    return std::nullopt;
  }
  // No access asked and every sharing allowed: this only looks at the file,
  // whoever holds it, and follows links to the file they name.
  const FileHandle file(nativeOf(::CreateFileW(
      systemPath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)));
  return file.isOpen() ? identityOfHandle(handleOf(file)) : std::nullopt;
}

bool pathExists(const std::string& path) {
  return ::GetFileAttributesW(systemPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

PathInfo lookAt(const std::string& path) {
  const std::wstring name = systemPath(path);
  // A pipe's name is only seen by asking for one of its instances; one that
  // is busy is there all the same. Opening it would connect to its writer.
  if (isPipeName(path)) {
    const bool there =
        ::WaitNamedPipeW(name.c_str(), 1) != 0 || ::GetLastError() == ERROR_SEM_TIMEOUT;
    return {there, false, true};
  }
  const DWORD attributes = ::GetFileAttributesW(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return {};
  }
  return {true, (attributes & FILE_ATTRIBUTE_DEVICE) == 0};
}

std::string describeError(int error) {
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  if (length == 0 || text == nullptr) {
    return "error " + std::to_string(error);
  }
  std::wstring words(text, length);
  ::LocalFree(text);
  // The system's text ends in a line end (and sometimes a blank).
  while (!words.empty() &&
         (words.back() == L'\n' || words.back() == L'\r' || words.back() == L' ')) {
    words.pop_back();
  }
  return utf8FromWide(words);
}

Transfer readSome(const FileHandle& file, std::span<unsigned char> buffer) {
  DWORD got = 0;
  const auto wanted = static_cast<DWORD>(std::min<std::size_t>(buffer.size(), 1U << 30));
  if (::ReadFile(handleOf(file), buffer.data(), wanted, &got, nullptr) != 0) {
    return {got, 0};
  }
  const int error = lastError();
  // A pipe whose writer has gone has simply ended.
  return error == ERROR_BROKEN_PIPE ? Transfer{0, 0} : Transfer{0, error};
}

Transfer writeSome(const FileHandle& file, std::span<const unsigned char> bytes) {
  DWORD written = 0;
  const auto wanted = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1U << 30));
  if (::WriteFile(handleOf(file), bytes.data(), wanted, &written, nullptr) == 0) {
    return {0, lastError()};
  }
  // A write that takes nothing and names no error would loop forever.
  return written > 0 ? Transfer{written, 0} : Transfer{0, ERROR_WRITE_FAULT};
}

int seekTo(const FileHandle& file, std::int64_t offset) {
  LARGE_INTEGER target{};
  target.QuadPart = offset;
  return ::SetFilePointerEx(handleOf(file), target, nullptr, FILE_BEGIN) != 0 ? 0 : lastError();
}

int cutToLength(const FileHandle& file, std::int64_t length) {
  // Sets the end without moving the position.
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = length;
  return ::SetFileInformationByHandle(handleOf(file), FileEndOfFileInfo, &end, sizeof end) != 0
             ? 0
             : lastError();
}

namespace {

// ReFS shares a file's clusters with another's; the headers of MinGW do not
// have the call yet.
constexpr DWORD duplicateExtentsToFile = 0x00098344;  // FSCTL_DUPLICATE_EXTENTS_TO_FILE
constexpr int blockTooManyReferences = 347;           // ERROR_BLOCK_TOO_MANY_REFERENCES
struct DuplicateExtentsData {
  HANDLE fileHandle;
  LARGE_INTEGER sourceFileOffset;
  LARGE_INTEGER targetFileOffset;
  LARGE_INTEGER byteCount;
};

}  // namespace

// A range on 64 KiB lies on the clusters of every ReFS volume (4 or 64
// KiB); a volume that cannot share refuses.
std::size_t shareBlock(const FileHandle& file) {
  return ::GetFileType(handleOf(file)) == FILE_TYPE_DISK ? std::size_t{65536} : 0;
}

int shareBlocks(const FileHandle& source, std::int64_t sourceOffset, const FileHandle& target,
                std::int64_t targetOffset, std::int64_t length) {
  // The target must already reach the end of the range.
  if (const int error = cutToLength(target, targetOffset + length); error != 0) {
    return error;
  }
  DuplicateExtentsData data{handleOf(source), {}, {}, {}};
  data.sourceFileOffset.QuadPart = sourceOffset;
  data.targetFileOffset.QuadPart = targetOffset;
  data.byteCount.QuadPart = length;
  DWORD returned = 0;
  if (::DeviceIoControl(handleOf(target), duplicateExtentsToFile, &data, sizeof data, nullptr, 0,
                        &returned, nullptr) != 0) {
    return 0;
  }
  const int error = lastError();
  (void)cutToLength(target, targetOffset);
  return error;
}

bool isShareRefusal(int error) {
  return error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED ||
         error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SAME_DEVICE ||
         error == blockTooManyReferences || error == ERROR_ACCESS_DENIED;
}

// Unbuffered transfers can only be chosen when a file is opened; the
// Windows build keeps the system's cache.
std::size_t directTransferBlock(const FileHandle& /*file*/) { return 0; }

bool movePastPageCache(const FileHandle& /*file*/, bool past) { return !past; }

}  // namespace tsa
