// The dos library's table: open files, paths and directories, copying and deleting, compressed
// and serialised data, virtual files, the environment and checksums; the space, mode, copy and
// delete callback, I/O mode, attribute and entry-type constants.
#include "libs/dos/commands.h"
#include "libs/dos/dos_internal.h"
#include "libs/libraries.h"

namespace qv {

namespace {

const qvLibraryRow kCommands[] = {
    {"OpenFile", cmd::OpenFile},
    {"Eof", cmd::Eof},
    {"ReadChr", cmd::ReadChr},
    {"ReadLine", cmd::ReadLine},
    {"ReadString", cmd::ReadString},
    {"Seek", cmd::Seek},
    {"WriteChr", cmd::WriteChr},
    {"WriteLine", cmd::WriteLine},
    {"WriteString", cmd::WriteString},
    {"Exists", cmd::Exists},
    {"FileSize", cmd::FileSize},
    {"PathPart", cmd::PathPart},
    {"FilePart", cmd::FilePart},
    {"MakeDirectory", cmd::MakeDirectory},
    {"GetVolumeInfo", cmd::GetVolumeInfo},
    {"DeleteFile", cmd::DeleteFile},
    {"Execute", cmd::Execute},
    {"Run", cmd::Run},
    {"ChangeDirectory", cmd::ChangeDirectory},
    {"GetVolumeName", cmd::GetVolumeName},
    {"CloseFile", cmd::CloseFile},
    {"ReadDirectory", cmd::ReadDirectory},
    {"FullPath", cmd::FullPath},
    {"CopyFile", cmd::CopyFile},
    {"Rename", cmd::Rename},
    {"IsDirectory", cmd::IsDirectory},
    {"CRC32", cmd::CRC32},
    {"WriteShort", cmd::WriteShort},
    {"WriteInt", cmd::WriteInt},
    {"WriteFloat", cmd::WriteFloat},
    {"ReadShort", cmd::ReadShort},
    {"ReadInt", cmd::ReadInt},
    {"ReadFloat", cmd::ReadFloat},
    {"FilePos", cmd::FilePos},
    {"MatchPattern", cmd::MatchPattern},
    {"FlushFile", cmd::FlushFile},
    {"SetIOMode", cmd::SetIOMode},
    {"GetFileAttributes", cmd::GetFileAttributes},
    {"SetFileAttributes", cmd::SetFileAttributes},
    {"GetTempFileName", cmd::GetTempFileName},
    {"FileLength", cmd::FileLength},
    {"CompressFile", cmd::CompressFile},
    {"DecompressFile", cmd::DecompressFile},
    {"OpenDirectory", cmd::OpenDirectory},
    {"CloseDirectory", cmd::CloseDirectory},
    {"NextDirectoryEntry", cmd::NextDirectoryEntry},
    {"WriteFunction", cmd::WriteFunction},
    {"ReadFunction", cmd::ReadFunction},
    {"DefineVirtualFile", cmd::DefineVirtualFile},
    {"ReadTable", cmd::ReadTable},
    {"WriteTable", cmd::WriteTable},
    {"GetCurrentDirectory", cmd::GetCurrentDirectory},
    {"ApplyPatch", cmd::ApplyPatch},
    {"DefineVirtualFileFromString", cmd::DefineVirtualFileFromString},
    {"UndefineVirtualStringFile", cmd::UndefineVirtualStringFile},
    {"FileToString", cmd::FileToString},
    {"StringToFile", cmd::StringToFile},
    {"GetEnv", cmd::GetEnv},
    {"SetEnv", cmd::SetEnv},
    {"UnsetEnv", cmd::UnsetEnv},
    {"MD5", cmd::MD5},
    {"FileLines", cmd::FileLines},
    {nullptr, nullptr},
};

const qvConstantRow kConstants[] = {
    {"FREESPACE", nullptr, 1},
    {"USEDSPACE", nullptr, 0},
    {"EOF", nullptr, -1},
    {"MODE_READWRITE", nullptr, kModeReadWrite},
    {"MODE_WRITE", nullptr, kModeWrite},
    {"MODE_READ", nullptr, kModeRead},
    {"COPYFILE_STATUS", nullptr, 0},
    {"COPYFILE_OVERWRITE", nullptr, 1},
    {"COPYFILE_UNPROTECT", nullptr, 2},
    {"DELETEFILE_STATUS", nullptr, 0},
    {"DELETEFILE_UNPROTECT", nullptr, 1},
    {"IO_BUFFERED", nullptr, kIoBuffered},
    {"IO_UNBUFFERED", nullptr, kIoUnbuffered},
    {"FILEATTR_NORMAL", nullptr, 65536},
    {"FILEATTR_READ_USR", nullptr, 1},
    {"FILEATTR_WRITE_USR", nullptr, 2},
    {"FILEATTR_DELETE_USR", nullptr, 4},
    {"FILEATTR_EXECUTE_USR", nullptr, 8},
    {"FILEATTR_READ_GRP", nullptr, 512},
    {"FILEATTR_WRITE_GRP", nullptr, 1024},
    {"FILEATTR_EXECUTE_GRP", nullptr, 2048},
    {"FILEATTR_READ_OTH", nullptr, 4096},
    {"FILEATTR_WRITE_OTH", nullptr, 8192},
    {"FILEATTR_EXECUTE_OTH", nullptr, 16384},
    {"FILEATTR_PURE", nullptr, 16},
    {"FILEATTR_ARCHIVE", nullptr, 32},
    {"FILEATTR_SCRIPT", nullptr, 64},
    {"FILEATTR_HIDDEN", nullptr, 128},
    {"FILEATTR_SYSTEM", nullptr, 256},
    {"FILEATTR_READONLY", nullptr, 32768},
    {"DOSTYPE_FILE", nullptr, 0},
    {"DOSTYPE_DIRECTORY", nullptr, 1},
    {nullptr, nullptr, 0},
};

int32_t OpenDos(qvScriptState* L) {
  int32_t code = RegisterDosFiles(L);
  return code != 0 ? code : RegisterDosDirectories();
}

}  // namespace

const qvLibrary kDosLibrary{"dos", kCommands, kConstants, OpenDos};

void FreeDosLibrary(qvScriptState* L) {
  FreeDosFiles(L);
  FreeDosDirectories(L);
  FreeStringFiles();
}

}  // namespace qv
