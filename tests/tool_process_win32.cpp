// Runs of the built tool on Windows: CreateProcessW, with standard output
// and error caught in temporary files.
#include <windows.h>

#include <algorithm>
#include <cwchar>

#include "engine/system/text_win32.h"
#include "test_support.h"

namespace tsa::testing {
namespace {

HANDLE handleOf(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// One argument quoted so that the C runtime's parse gives it back as it is.
std::wstring quoted(const std::wstring& argument) {
  std::wstring text = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote are doubled, and the quote escaped.
    text.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    text += c;
  }
  text.append(backslashes * 2, L'\\');
  return text + L"\"";
}

HANDLE captureFile() {
  wchar_t folder[MAX_PATH + 1];
  wchar_t name[MAX_PATH + 1];
  ::GetTempPathW(MAX_PATH + 1, folder);
  ::GetTempFileNameW(folder, L"tsa", 0, name);
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return ::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &inherit, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

std::string readAll(HANDLE file) {
  std::string text;
  ::SetFilePointer(file, 0, nullptr, FILE_BEGIN);
  char chunk[65536];
  DWORD got = 0;
  while (::ReadFile(file, chunk, sizeof chunk, &got, nullptr) != 0 && got > 0) {
    text.append(chunk, got);
  }
  return text;
}

}  // namespace

ToolProcess::ToolProcess(const std::string& workDir, const std::vector<std::string>& args,
                         const std::string& input, int extraFd, int /*extraFdNumber*/,
                         const std::vector<std::string>& environment) {
  if (extraFd >= 0) {
    ADD_FAILURE() << "extra descriptors are for POSIX runs only";
    return;
  }
  const HANDLE out = captureFile();
  const HANDLE err = captureFile();
  out_ = reinterpret_cast<std::intptr_t>(out);
  err_ = reinterpret_cast<std::intptr_t>(err);
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE inRead = nullptr;
  HANDLE inWrite = nullptr;
  if (out == INVALID_HANDLE_VALUE || err == INVALID_HANDLE_VALUE ||
      ::CreatePipe(&inRead, &inWrite, &inherit, 0) == 0) {
    ADD_FAILURE() << "cannot set up the tool's streams: error " << ::GetLastError();
    return;
  }
  ::SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);

  std::wstring commandLine = quoted(wideFromUtf8(toolPath()));
  for (const std::string& arg : args) {
    commandLine += L" " + quoted(wideFromUtf8(arg));
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = inRead;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  const std::wstring folder = wideFromUtf8(workDir);
  // The test's environment, and the settings of this run after it.
  std::wstring block;
  if (wchar_t* inherited = ::GetEnvironmentStringsW(); inherited != nullptr) {
    for (const wchar_t* entry = inherited; *entry != L'\0'; entry += wcslen(entry) + 1) {
      const std::wstring text(entry);
      const std::wstring name = text.substr(0, text.find(L'=', 1) + 1);
      // A setting of this run takes the place of the inherited one.
      if (std::none_of(environment.begin(), environment.end(), [&](const std::string& setting) {
            return wideFromUtf8(setting).starts_with(name);
          })) {
        block.append(text).push_back(L'\0');
      }
    }
    ::FreeEnvironmentStringsW(inherited);
  }
  for (const std::string& setting : environment) {
    block.append(wideFromUtf8(setting)).push_back(L'\0');
  }
  block.push_back(L'\0');
  // Wine's CreateProcess fails now and then under load (an internal error);
  // a second try starts the tool.
  BOOL started = FALSE;
  for (int attempt = 0; attempt < 3 && started == FALSE; ++attempt) {
    if (attempt > 0) {
      ::Sleep(200);
    }
    started = ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                               CREATE_UNICODE_ENVIRONMENT, block.data(), folder.c_str(), &startup,
                               &process);
  }
  if (started == FALSE) {
    ADD_FAILURE() << "cannot start the tool: error " << ::GetLastError();
  } else {
    ::CloseHandle(process.hThread);
    process_ = reinterpret_cast<std::intptr_t>(process.hProcess);
  }
  ::CloseHandle(inRead);
  DWORD written = 0;
  if (!input.empty()) {
    // A tool that ends without reading its input leaves this write unread.
    ::WriteFile(inWrite, input.data(), static_cast<DWORD>(input.size()), &written, nullptr);
  }
  ::CloseHandle(inWrite);
}

ToolProcess::~ToolProcess() {
  if (process_ != -1) {
    (void)finish();
  }
  for (const std::intptr_t file : {out_, err_}) {
    if (file != -1) {
      ::CloseHandle(handleOf(file));
    }
  }
}

ToolRun ToolProcess::finish() {
  ToolRun run;
  if (process_ == -1) {
    return run;
  }
  const HANDLE process = handleOf(process_);
  ::WaitForSingleObject(process, INFINITE);
  DWORD code = 0;
  ::GetExitCodeProcess(process, &code);
  ::CloseHandle(process);
  process_ = -1;
  // A crash ends with an exception code, never a status of the tool's.
  run.status = code <= 255 ? static_cast<int>(code) : -1;
  run.out = readAll(handleOf(out_));
  run.err = readAll(handleOf(err_));
  return run;
}

void ToolProcess::sendSignal(int /*number*/) const {
  ADD_FAILURE() << "signals are for POSIX runs only";
}

}  // namespace tsa::testing
