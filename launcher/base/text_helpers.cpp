#include "launcher/base/text_helpers.h"

#include <windows.h>

#include <cstring>
#include <cwchar>
#include <vector>

namespace launcher {
namespace {

// Length of the root ("C:", "C:\", "\", "\\server\", "\\?\C:\") at the start
// of a path: the part that a parent never loses.
std::wstring::size_type RootLength(const std::wstring& path) {
  const std::wstring::size_type n = path.size();
  std::wstring::size_type pos = 0;
  if (n >= 4 && IsPathSeparator(path[0]) && IsPathSeparator(path[1]) &&
      (path[2] == L'?' || path[2] == L'.') && IsPathSeparator(path[3])) {
    pos = 4;  // a device or long-path prefix, then usually a drive
    if (n >= pos + 2 && path[pos + 1] == L':') pos += 2;
  } else if (n >= 2 && path[1] == L':') {
    pos = 2;
  } else if (n >= 3 && IsPathSeparator(path[0]) && IsPathSeparator(path[1]) &&
             !IsPathSeparator(path[2])) {
    pos = 2;  // a network name runs to the next separator
    while (pos < n && !IsPathSeparator(path[pos])) ++pos;
  }
  if (pos < n && IsPathSeparator(path[pos])) ++pos;  // the root directory
  return pos;
}

constexpr UINT kCodePage936 = 936;
// The longest path Win32 knows, in the \\?\ form.
constexpr DWORD kLongestModulePath = 32768;

template <typename Char>
Char ToLowerAscii(Char c) {
  return (c >= Char('A') && c <= Char('Z')) ? static_cast<Char>(c - Char('A') + Char('a')) : c;
}

template <typename Char>
bool EqualsFolded(const Char* left, const Char* right) {
  if (left == nullptr || right == nullptr) return false;
  for (; *left != Char(0) && *right != Char(0); ++left, ++right) {
    if (ToLowerAscii(*left) != ToLowerAscii(*right)) return false;
  }
  return *left == *right;
}
}  // namespace

bool EqualsIgnoringAsciiCase(const wchar_t* left, const wchar_t* right) {
  return EqualsFolded(left, right);
}

bool EqualsIgnoringAsciiCase(const char* left, const char* right) {
  return EqualsFolded(left, right);
}

bool CopyToPathBuffer(const std::wstring& text, wchar_t (&out)[kPathBufferSize]) {
  std::wmemset(out, L'\0', kPathBufferSize);
  if (text.size() >= kPathBufferSize) return false;
  std::wmemcpy(out, text.c_str(), text.size());
  return true;
}

std::wstring ReadModulePath(HMODULE module, DWORD& error) {
  std::vector<wchar_t> path(kPathBufferSize, L'\0');
  for (;;) {
    const DWORD capacity = static_cast<DWORD>(path.size());
    const DWORD length = ::GetModuleFileNameW(module, path.data(), capacity);
    if (length == 0) {
      error = ::GetLastError();
      return std::wstring();
    }
    // A path cut at the buffer's end names another file: read it again whole.
    if (length < capacity) return std::wstring(path.data(), length);
    if (capacity >= kLongestModulePath) {
      error = ERROR_INSUFFICIENT_BUFFER;
      return std::wstring();
    }
    path.assign(capacity * 2, L'\0');
  }
}

bool WideToCp936(const wchar_t* text, char (&out)[kPathBufferSize]) {
  if (text == nullptr) return false;
  std::memset(out, 0, sizeof(out));
  const int needed =
      ::WideCharToMultiByte(kCodePage936, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (needed <= 0 || static_cast<std::size_t>(needed) > sizeof(out)) return false;
  // No best fit: a look-alike (A for U+0100) would name another file, where
  // the default character names none.
  const int written = ::WideCharToMultiByte(kCodePage936, WC_NO_BEST_FIT_CHARS, text,
                                            static_cast<int>(std::wcslen(text)), out,
                                            static_cast<int>(sizeof(out)), nullptr, nullptr);
  if (written <= 0 || static_cast<std::size_t>(written) >= sizeof(out)) {
    std::memset(out, 0, sizeof(out));
    return false;
  }
  out[written] = '\0';
  return out[0] != '\0';
}

bool Utf8ToWide(const char* text, wchar_t (&out)[kPathBufferSize]) {
  if (text == nullptr) return false;
  const int needed = ::MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  if (needed <= 0) return false;
  // A bounded copy of a longer text would abort the process through the
  // runtime's invalid-parameter handler, so the length is checked first.
  if (static_cast<std::size_t>(needed) > kPathBufferSize) return false;
  std::vector<wchar_t> converted(static_cast<std::size_t>(needed) + 1, L'\0');
  const int written = ::MultiByteToWideChar(CP_UTF8, 0, text, -1, converted.data(), needed);
  if (written <= 0) return false;
  converted[static_cast<std::size_t>(written)] = L'\0';
  std::wmemcpy(out, converted.data(), static_cast<std::size_t>(written));
  out[written - 1] = L'\0';
  return out[0] != L'\0';
}

std::wstring ParentFolderOf(const std::wstring& path) {
  const std::wstring::size_type root = RootLength(path);
  std::wstring::size_type end = path.size();
  while (end > root && !IsPathSeparator(path[end - 1])) --end;  // the file name
  while (end > root && IsPathSeparator(path[end - 1])) --end;   // its separators
  if (end == path.size()) return std::wstring();
  return path.substr(0, end);
}

const wchar_t* FileNameOf(const wchar_t* path) {
  const wchar_t* name = path;
  for (const wchar_t* p = path; *p != L'\0'; ++p) {
    if (IsPathSeparator(*p)) name = p + 1;
  }
  return name;
}

std::wstring FolderPartOf(const std::wstring& path) {
  return path.substr(0, static_cast<std::size_t>(FileNameOf(path.c_str()) - path.c_str()));
}

bool ExeFolderFromModulePath(const std::wstring& modulePath, std::wstring& out) {
  const std::wstring::size_type lastBackslash = modulePath.find_last_of(L'\\');
  if (lastBackslash == std::wstring::npos) return false;
  out = modulePath.substr(0, lastBackslash + 1);
  return true;
}

std::wstring OwnImagePath() {
  DWORD error = 0;
  return ReadModulePath(nullptr, error);
}

bool GetExeFolderW(std::wstring& out) {
  const std::wstring path = OwnImagePath();
  return !path.empty() && ExeFolderFromModulePath(path, out);
}

std::string WideToLogText(const std::wstring& text) {
  // What wcstombs gives under the "chs" locale, without switching the
  // process's locale for it (the first switch alone loads the locale's
  // tables, a few milliseconds of every launch). Like wcstombs it stops at
  // a NUL and fails on any character the code page lacks.
  const int length = static_cast<int>(std::wcslen(text.c_str()));
  if (length == 0) return std::string();
  BOOL usedDefault = FALSE;
  const int size = ::WideCharToMultiByte(kCodePage936, 0, text.c_str(), length, nullptr, 0,
                                         nullptr, &usedDefault);
  if (size <= 0 || usedDefault) return std::string();
  std::string result(static_cast<std::size_t>(size), '\0');
  if (::WideCharToMultiByte(kCodePage936, 0, text.c_str(), length, &result[0], size, nullptr,
                            nullptr) != size) {
    return std::string();
  }
  return result;
}

}  // namespace launcher
