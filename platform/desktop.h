// What the user's desktop offers a program: free memory, the user's folders, opening documents and
// addresses with the desktop's chosen program, shortcuts (.desktop files), environment variables
// and the country of the user's locale. Any thread unless said otherwise.
#pragma once

#include <cstdint>
#include <string>

namespace qv {

// The memory available to new programs, in bytes (MemAvailable of /proc/meminfo); 0 when unknown.
uint64_t GetAvailableMemory();

// Folder numbers the scripts know (as the special-folder numbers of their first platform).
enum : int32_t {
  kFolderDesktop = 0,
  kFolderDocuments = 5,
  kFolderMusic = 13,
  kFolderVideos = 14,
  kFolderAppData = 26,
  kFolderLocalAppData = 28,
  kFolderSystem = 36,
  kFolderPrograms = 38,
  kFolderPictures = 39,
};
// The folder's path: the user's XDG directories (user-dirs.dirs; an unset one is the home
// directory, the desktop "$HOME/Desktop"), $XDG_CONFIG_HOME and $XDG_DATA_HOME (or their
// defaults), "/usr/share", "/usr/local"; "" for any other number.
std::string GetSpecialFolder(int32_t folder);

// Opens the document or address with the desktop's program for it (xdg-open, given it as its one
// argument, not waited for): 0, or ERR_FILEEXIST with the name as error text when xdg-open cannot
// be started.
int32_t OpenUrlShell(const char* url);

// Writes a shortcut: a .desktop file at `linkFile` starting `target` in `directory`. 0, or
// ERR_CREATESHORTCUT.
int32_t CreateShellLink(const char* target, const char* linkFile, const char* directory);
// Reads a shortcut that CreateShellLink (or any .desktop file with an Exec line) wrote: its
// program and working directory. 0, or ERR_GETSHORTCUT.
int32_t ResolveShellLink(const char* linkFile, std::string* target, std::string* directory);

// Environment variables. Get: true with the value, false when it is not set. Set and unset: 0, or
// ERR_SETENV / ERR_UNSETENV (an empty name or one with "=").
bool GetEnvVar(const char* name, std::string* value);
int32_t SetEnvVar(const char* name, const char* value);
int32_t UnsetEnvVar(const char* name);

// The processor's name as the kernel gives it ("x86_64"); "" when unknown.
std::string GetMachineName();

// The tray icon: a picture of width x height ARGB words (top row first, copied) and a tooltip.
// SDL2 offers no tray, so the icon is only kept: nothing shows it and no tray event comes. 0, or
// ERR_MEM when it cannot be copied.
int32_t SetTrayIconPicture(const uint32_t* argb, int32_t width, int32_t height,
                           const char* tooltip);
// Removes the icon: false when none is set.
bool RemoveTrayIcon();
// Whether an icon is set, with its size and tooltip (each may be null).
bool GetTrayIcon(int32_t* width, int32_t* height, std::string* tooltip);

// The user's country as a COUNTRY_ number (0 the United Kingdom ... 37 Ukraine), from the
// territory of the first of LC_ALL, LC_MESSAGES and LANG that is set ("de_DE.UTF-8" is Germany);
// kCountryUnknown (38) when it names none of them.
inline constexpr int kCountryUnknown = 38;
int GetSystemCountryCode();

}  // namespace qv
