#include "sink/os/program_log.h"

#include <windows.h>

#include <cstdio>

namespace tavro::sink::os {
namespace {

std::wstring toWide(const std::string& text) {
  const int units = ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  std::wstring out(static_cast<size_t>(units > 0 ? units : 1), L'\0');
  if (units > 0) ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(), units);
  out.resize(out.size() - 1);
  return out;
}

std::string toUtf8(const std::wstring& text) {
  const int bytes =
      ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(bytes > 0 ? bytes : 1), '\0');
  if (bytes > 0) {
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), bytes, nullptr, nullptr);
  }
  out.resize(out.size() - 1);
  return out;
}

bool given(DWORD which) {
  const HANDLE handle = ::GetStdHandle(which);
  return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
         ::GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

HANDLE asHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

std::string logFilePath(const char* name) {
  wchar_t local[MAX_PATH] = {};
  const DWORD units = ::GetEnvironmentVariableW(L"LOCALAPPDATA", local, MAX_PATH);
  if (units == 0 || units >= MAX_PATH) return {};
  const std::wstring folder = std::wstring(local) + L"\\TAVRO";
  if (!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
    return {};
  }
  return toUtf8(folder) + "\\" + name;
}

void useStartingConsole() {
  if (given(STD_OUTPUT_HANDLE) || given(STD_ERROR_HANDLE)) return;
  if (!::AttachConsole(ATTACH_PARENT_PROCESS)) return;
  std::FILE* ignored = std::freopen("CONOUT$", "w", stdout);
  ignored = std::freopen("CONOUT$", "w", stderr);
  (void)ignored;
}

bool AppendFile::open(const std::string& path) {
  close();
  // Others may read it, and a second sink may add to it, while it is open.
  const HANDLE file = ::CreateFileW(toWide(path).c_str(), FILE_APPEND_DATA,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER bytes{};
  size_ = ::GetFileSizeEx(file, &bytes) ? static_cast<uint64_t>(bytes.QuadPart) : 0;
  handle_ = reinterpret_cast<intptr_t>(file);
  return true;
}

void AppendFile::close() {
  if (handle_ != -1) ::CloseHandle(asHandle(handle_));
  handle_ = -1;
  size_ = 0;
}

bool AppendFile::isOpen() const { return handle_ != -1; }

bool AppendFile::appendLine(const std::string& line) {
  if (handle_ == -1) return false;
  // Notepad before Windows 10 shows a file of bare line feeds as one line.
  const std::string text = line + "\r\n";
  DWORD written = 0;
  const bool whole = ::WriteFile(asHandle(handle_), text.data(), static_cast<DWORD>(text.size()),
                                 &written, nullptr) &&
                     written == text.size();
  size_ += written;
  return whole;
}

bool replaceFile(const std::string& from, const std::string& to) {
  return ::MoveFileExW(toWide(from).c_str(), toWide(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

}  // namespace tavro::sink::os
