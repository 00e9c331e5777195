// What the launcher relies on of the client program and of the texts that
// travel between them. Every comparison against these is exact and
// case-sensitive.
#pragma once

#include <cstddef>

namespace launcher {

// Paths and names live in buffers of this many UTF-16 units, terminator included.
constexpr std::size_t kPathBufferSize = 260;

constexpr wchar_t kClientFileName[] = L"vorlan.exe";
// The client file name less its last four characters: the product word of the
// language key, the shortcut's description and the icon's file name.
constexpr wchar_t kClientBaseName[] = L"vorlan";
constexpr wchar_t kClientPipeName[] = L"\\\\.\\Pipe\\DIRIRA_vorlan";

constexpr wchar_t kForcePrefix[] = L"forcerun:";
constexpr wchar_t kSchemePrefix[] = L"quintarelox://";
constexpr wchar_t kAdminSuffix[] = L" IsAdmin";

template <std::size_t N>
constexpr std::size_t LiteralLength(const wchar_t (&)[N]) { return N - 1; }

}  // namespace launcher
