// Conversions at the launcher's narrow borders, each with its own code page:
// code page 936 for the XML parser's file name, UTF-8 for configuration values,
// the ANSI code page for the installation folder, and the "chs" runtime locale
// for log text. Beside them the small text and path rules every subsystem
// shares, and the module path they start from.
#pragma once

#include <windows.h>

#include <string>

#include "launcher/base/client_contract.h"

namespace launcher {

// Wide text into a 260-byte code page 936 buffer. False for a null text (out
// untouched), a text that does not fit (out all zero) or an empty result.
[[nodiscard]] bool WideToCp936(const wchar_t* text, char (&out)[kPathBufferSize]);

// UTF-8 text into a 260-unit wide buffer; malformed sequences become U+FFFD.
// False for a null or empty text and for a text that would need more than 259
// units; out is left untouched in those cases except for the empty text.
[[nodiscard]] bool Utf8ToWide(const char* text, wchar_t (&out)[kPathBufferSize]);

// Both '\' and '/' separate the components of a Win32 path.
inline bool IsPathSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// The parent of a path by the rules of a filesystem path's parent: the file
// name and the separators before it go, and a root ("C:\", "\\server\share\"
// ...) keeps its separator. Empty for a path that is only a root.
std::wstring ParentFolderOf(const std::wstring& path);

// The text after the last separator, or the whole text without one.
const wchar_t* FileNameOf(const wchar_t* path);

// The path up to and including its last separator; empty without one.
std::wstring FolderPartOf(const std::wstring& path);

// Equal when the texts match with the ASCII letters folded to one case; every
// other unit (a UTF-8 byte, a non-ASCII letter) must match exactly. False when
// either text is null.
bool EqualsIgnoringAsciiCase(const wchar_t* left, const wchar_t* right);
bool EqualsIgnoringAsciiCase(const char* left, const char* right);

// Copies text into a 260-unit buffer when it fits with its terminator.
// False, with the buffer all zero, when it does not.
[[nodiscard]] bool CopyToPathBuffer(const std::wstring& text, wchar_t (&out)[kPathBufferSize]);

// The full path of a module of this process (null: the program's own image),
// however long it is. Empty, with the error code, when it cannot be read.
// Callers that need it in a 260-unit buffer check its length themselves.
std::wstring ReadModulePath(HMODULE module, DWORD& error);

// The full path of the program's own image; empty when it cannot be read.
std::wstring OwnImagePath();

// The launcher's own folder, with its trailing backslash. False (out
// unchanged) when the module path cannot be read or has no backslash.
[[nodiscard]] bool GetExeFolderW(std::wstring& out);

// The folder part of a module path, up to and including its last backslash;
// '/' is not a separator here.
[[nodiscard]] bool ExeFolderFromModulePath(const std::wstring& modulePath, std::wstring& out);

// Wide text, up to its first NUL, as narrow log text in code page 936, as the
// "chs" locale converts it; the process's locale is left alone. A text with
// any character the code page lacks gives the empty string.
std::string WideToLogText(const std::wstring& text);

}  // namespace launcher
