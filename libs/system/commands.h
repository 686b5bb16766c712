// The command handlers of the system library; library.cpp lists them.
#pragma once

#include <cstdint>

namespace qv {
struct qvScriptState;

// time.cpp: registers the timer list with the object registry; 0 or ERR_MEM.
int32_t OpenTimers();
// query_commands.cpp, at the library's teardown: closes the script's catalog and forgets the
// tray icon.
void FreeScriptCatalog();
}  // namespace qv

namespace qv::cmd {

// program.cpp: the running script
int32_t End(qvScriptState* L);
int32_t GetCommandLine(qvScriptState* L);

// errors.cpp: errors and how they are handled
int32_t Error(qvScriptState* L);
int32_t Assert(qvScriptState* L);
int32_t GetLastError(qvScriptState* L);
int32_t GetErrorName(qvScriptState* L);
int32_t ExitOnError(qvScriptState* L);
int32_t RaiseOnError(qvScriptState* L);

// debug.cpp: debugging output
int32_t DebugPrint(qvScriptState* L);
int32_t DebugOutput(qvScriptState* L);

// time.cpp: timers, dates and waiting
int32_t StartTimer(qvScriptState* L);
int32_t GetTimer(qvScriptState* L);
int32_t PauseTimer(qvScriptState* L);
int32_t ResumeTimer(qvScriptState* L);
int32_t ResetTimer(qvScriptState* L);
int32_t StopTimer(qvScriptState* L);
int32_t WaitTimer(qvScriptState* L);
int32_t Wait(qvScriptState* L);
int32_t GetDate(qvScriptState* L);
int32_t GetTime(qvScriptState* L);
int32_t GetWeekday(qvScriptState* L);
int32_t GetDateNum(qvScriptState* L);
int32_t CompareDates(qvScriptState* L);

// tables.cpp: tables and values
int32_t GetType(qvScriptState* L);
int32_t IIf(qvScriptState* L);
int32_t InsertItem(qvScriptState* L);
int32_t RemoveItem(qvScriptState* L);
int32_t ListItems(qvScriptState* L);
int32_t Unpack(qvScriptState* L);
int32_t GetMetaTable(qvScriptState* L);
int32_t SetMetaTable(qvScriptState* L);
int32_t RawEqual(qvScriptState* L);
int32_t RawGet(qvScriptState* L);
int32_t RawSet(qvScriptState* L);
int32_t GCInfo(qvScriptState* L);
int32_t CollectGarbage(qvScriptState* L);
int32_t IPairs(qvScriptState* L);
int32_t Pairs(qvScriptState* L);
int32_t NextItem(qvScriptState* L);
int32_t CopyTable(qvScriptState* L);
int32_t ForEach(qvScriptState* L);
int32_t ForEachI(qvScriptState* L);
int32_t Concat(qvScriptState* L);
int32_t Sort(qvScriptState* L);

// requester_commands.cpp: requesters
int32_t SystemRequest(qvScriptState* L);
int32_t FileRequest(qvScriptState* L);
int32_t PathRequest(qvScriptState* L);
int32_t StringRequest(qvScriptState* L);
int32_t FontRequest(qvScriptState* L);
int32_t ListRequest(qvScriptState* L);
int32_t ColorRequest(qvScriptState* L);

// query_commands.cpp: versions, constants, catalogs, folders, locale, memory, the prompt,
// addresses, shortcuts, the registry, the clipboard and the tray icon
int32_t GetVersion(qvScriptState* L);
int32_t GetProgramInfo(qvScriptState* L);
int32_t GetFileArgument(qvScriptState* L);
int32_t GetConstant(qvScriptState* L);
int32_t OpenCatalog(qvScriptState* L);
int32_t CloseCatalog(qvScriptState* L);
int32_t GetCatalogString(qvScriptState* L);
int32_t GetSystemInfo(qvScriptState* L);
int32_t GetSystemLanguage(qvScriptState* L);
int32_t GetSystemCountry(qvScriptState* L);
int32_t GetMemoryInfo(qvScriptState* L);
int32_t DebugPrompt(qvScriptState* L);
int32_t OpenURL(qvScriptState* L);
int32_t CreateShortcut(qvScriptState* L);
int32_t GetShortcutPath(qvScriptState* L);
int32_t ReadRegistryKey(qvScriptState* L);
int32_t WriteRegistryKey(qvScriptState* L);
int32_t SetClipboard(qvScriptState* L);
int32_t GetClipboard(qvScriptState* L);
int32_t PeekClipboard(qvScriptState* L);
int32_t ClearClipboard(qvScriptState* L);
int32_t SetTrayIcon(qvScriptState* L);

// object_data_commands.cpp: data items of objects, and objects by type
int32_t SetObjectData(qvScriptState* L);
int32_t GetObjectData(qvScriptState* L);
int32_t CopyObjectData(qvScriptState* L);
int32_t ClearObjectData(qvScriptState* L);
int32_t GetObjects(qvScriptState* L);
int32_t HaveObject(qvScriptState* L);
int32_t GetObjectType(qvScriptState* L);

}  // namespace qv::cmd
