// Points the "quintarelox" URL protocol at the running launcher, so that links
// opened through the shell start it with the link as its command line.
#pragma once

#include <string>

namespace launcher {

// HKEY_CLASSES_ROOT: the scheme's key, which must carry an (empty) "URL
// Protocol" value, and the key whose default value holds its open command.
constexpr wchar_t kProtocolKey[] = L"quintarelox";
constexpr wchar_t kUrlProtocolValue[] = L"URL Protocol";
constexpr wchar_t kProtocolCommandKey[] = L"quintarelox\\shell\\open\\command";

// The open command for a launcher at this path: "<path>" "%1".
std::wstring FormatOpenCommand(const std::wstring& launcherPath);

// Rewrites the open command to name this launcher and gives the scheme's key
// an empty "URL Protocol" value where it has none. Every outcome is final
// here: a path that cannot be read is reported on standard output, a value
// that cannot be set is logged, and the caller goes on either way.
void WriteRegFun();

}  // namespace launcher
