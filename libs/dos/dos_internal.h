// What the dos library's command files share: its constants, the parts of its opener and
// teardown, and the helpers that more than one file needs.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv {

struct qvScriptState;

// Modes of OpenFile.
inline constexpr int32_t kModeReadWrite = 1004;
inline constexpr int32_t kModeRead = 1005;
inline constexpr int32_t kModeWrite = 1006;
// Seek's stand-in for the length.
inline constexpr double kEofPosition = -1;
// SetIOMode: single bytes through the byte operations, or through one-byte blocks.
inline constexpr int32_t kIoBuffered = 0;
inline constexpr int32_t kIoUnbuffered = 1;

// file_commands.cpp: the file list and the "DOSFILE" metatable; 0 or ERR_MEM.
int32_t RegisterDosFiles(qvScriptState* L);
void FreeDosFiles(qvScriptState* L);
int32_t GetDosIoMode();

// dir_commands.cpp: the directory list; 0 or ERR_MEM.
int32_t RegisterDosDirectories();
// Closes the directory objects and deletes the temporary files handed out.
void FreeDosDirectories(qvScriptState* L);
// Makes the directory with every missing level: 0, or ERR_CREATEDIR (the path stored) when a
// level cannot be made or is a file, or the path is longer than the file routines take; the
// levels made before a failure are removed again.
int32_t MakeAllDirectories(const char* path);

// whole_commands.cpp: releases the string files the script left defined.
void FreeStringFiles();

}  // namespace qv
