// How an update reaches the launcher's own image without a moment in which
// launcher.exe is missing. A running image can be neither replaced nor
// deleted, and moving it aside would leave the name empty until the next
// rename. So the update writes the new image beside it under a name that
// records its size and CRC-32, checks it and puts it on disk like every
// item; a process started from that staged image (the swap) then waits for
// the old launcher to end and renames itself over launcher.exe in one step.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace launcher {

constexpr wchar_t kLauncherFileName[] = L"launcher.exe";

// Whether the file at path is the image this process runs from: the same
// volume serial number and file index, whatever name either is reached by.
bool IsRunningImage(const wchar_t* path);
bool IsRunningImage(HANDLE file);

// "~launcher.<size>.<crc>.exe", both in hexadecimal.
std::wstring StagedLauncherName(std::uint32_t size, std::uint32_t crc);
bool ParseStagedLauncherName(const wchar_t* name, std::uint32_t& size, std::uint32_t& crc);
// A staged image's name, or that of an image older launchers moved aside:
// names the launcher deletes, which no archive item may take.
bool IsSelfReplacementName(const wchar_t* name);

// Whether the file at path has this size and CRC-32.
bool HasContent(const std::wstring& path, std::uint64_t size, std::uint32_t crc);

// Whether the file at path has the size and CRC-32 its staged name records.
bool IsWholeStagedImage(const std::wstring& path);

// The staged launcher image of folder (with a trailing separator) to swap in:
// the newest whole one. Every other staged image, a damaged one and the
// images that earlier launchers moved aside ("~launcher<pid>.<n>.old") are
// deleted where nothing runs from them, read-only ones too. Empty when there
// is none.
std::wstring TakeStagedLauncher(const std::wstring& folder);

class InstallTree;
// Once an update has staged the image kept (or found it in launcher.exe
// already), the images earlier updates staged are older, whatever times their
// archives gave them: deleted where nothing runs from them. Nothing happens
// unless kept is there.
void DeleteSupersededStagedLaunchers(InstallTree& tree, const std::wstring& kept);

// Renames the staged image at staged over launcher.exe of its folder in one
// step, written through to disk. A read-only launcher.exe loses the
// attribute first. A Win32 error code: ERROR_ACCESS_DENIED or a sharing
// violation while launcher.exe still runs.
DWORD SwapInStagedLauncher(const std::wstring& staged);

}  // namespace launcher
