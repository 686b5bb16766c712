// The command handlers of the dos library; library.cpp lists them.
#pragma once

#include <cstdint>

namespace qv {
struct qvScriptState;
}  // namespace qv

namespace qv::cmd {

// file_commands.cpp: open files
int32_t OpenFile(qvScriptState* L);
int32_t CloseFile(qvScriptState* L);
int32_t Eof(qvScriptState* L);
int32_t ReadChr(qvScriptState* L);
int32_t ReadShort(qvScriptState* L);
int32_t ReadInt(qvScriptState* L);
int32_t ReadFloat(qvScriptState* L);
int32_t ReadString(qvScriptState* L);
int32_t ReadLine(qvScriptState* L);
int32_t Seek(qvScriptState* L);
int32_t FilePos(qvScriptState* L);
int32_t FileLength(qvScriptState* L);
int32_t WriteChr(qvScriptState* L);
int32_t WriteShort(qvScriptState* L);
int32_t WriteInt(qvScriptState* L);
int32_t WriteFloat(qvScriptState* L);
int32_t WriteString(qvScriptState* L);
int32_t WriteLine(qvScriptState* L);
int32_t FlushFile(qvScriptState* L);
int32_t SetIOMode(qvScriptState* L);
int32_t FileLines(qvScriptState* L);

// pack_commands.cpp: compressed files
int32_t CompressFile(qvScriptState* L);
int32_t DecompressFile(qvScriptState* L);

// serial_commands.cpp: tables and functions in files
int32_t WriteFunction(qvScriptState* L);
int32_t ReadFunction(qvScriptState* L);
int32_t WriteTable(qvScriptState* L);
int32_t ReadTable(qvScriptState* L);

// dir_commands.cpp: paths, directories, attributes and programs
int32_t Exists(qvScriptState* L);
int32_t FileSize(qvScriptState* L);
int32_t PathPart(qvScriptState* L);
int32_t FilePart(qvScriptState* L);
int32_t GetVolumeName(qvScriptState* L);
int32_t GetVolumeInfo(qvScriptState* L);
int32_t ChangeDirectory(qvScriptState* L);
int32_t GetCurrentDirectory(qvScriptState* L);
int32_t MakeDirectory(qvScriptState* L);
int32_t FullPath(qvScriptState* L);
int32_t Rename(qvScriptState* L);
int32_t IsDirectory(qvScriptState* L);
int32_t ReadDirectory(qvScriptState* L);
int32_t OpenDirectory(qvScriptState* L);
int32_t NextDirectoryEntry(qvScriptState* L);
int32_t CloseDirectory(qvScriptState* L);
int32_t GetFileAttributes(qvScriptState* L);
int32_t SetFileAttributes(qvScriptState* L);
int32_t GetTempFileName(qvScriptState* L);
int32_t Execute(qvScriptState* L);
int32_t Run(qvScriptState* L);

// copy_commands.cpp: copying, deleting, wildcard patterns
int32_t MatchPattern(qvScriptState* L);
int32_t DeleteFile(qvScriptState* L);
int32_t CopyFile(qvScriptState* L);

// whole_commands.cpp: whole files, virtual files, patches, environment, checksums
int32_t FileToString(qvScriptState* L);
int32_t StringToFile(qvScriptState* L);
int32_t DefineVirtualFile(qvScriptState* L);
int32_t DefineVirtualFileFromString(qvScriptState* L);
int32_t UndefineVirtualStringFile(qvScriptState* L);
int32_t ApplyPatch(qvScriptState* L);
int32_t GetEnv(qvScriptState* L);
int32_t SetEnv(qvScriptState* L);
int32_t UnsetEnv(qvScriptState* L);
int32_t MD5(qvScriptState* L);
int32_t CRC32(qvScriptState* L);

}  // namespace qv::cmd
