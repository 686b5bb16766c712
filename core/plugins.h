// The plugin manager: the ".qvp" files of the player's directory, loaded at start-up unless held
// back, each registered by its capability bits; demands with a minimum version; the plugin
// listing; unloading at shutdown. Plugins are outside libraries built against include/qv_plugin.h:
// this file keeps, per loaded plugin, the init record it filled and its entry points, which the
// picture, sound and saver roads of the higher layers call.
//
// Start-up, shutdown and demands run without the script running; the list never changes while a
// script runs except by RequirePlugin on the script thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/registry.h"
#include "include/qv_plugin.h"

namespace qv {

// A loaded plugin's init record and entry points (null where its capability is absent).
struct qvPluginInfo {
  qvPluginInit init;
  int32_t (*initPlugin)(qvPluginInit*, const qvPluginApi*, const char*);
  void (*closePlugin)();
  // image loader (QV_CAP_IMAGE)
  int32_t (*isImage)(const char*, qvImageFacts*);
  void* (*loadImage)(const char*, qvImageFacts*);
  uint32_t* (*getImage)(void*, qvImageFacts*);
  void (*freeImage)(void*);
  int32_t (*transformImage)(void*, const double*, int32_t, int32_t);
  void* anim[5];  // QV_CAP_ANIM, for the anim road
  // sound loader (QV_CAP_SOUND)
  void* (*openStream)(const char*, qvStreamFacts*);
  void (*closeStream)(void*);
  void (*seekStream)(void*, uint32_t);
  void (*streamSamples)(void*, qvStreamRead*);
  const char* (*getFormatName)(void*);
  void* vector[8];  // QV_CAP_VECTOR, for the vector graphics road
  void* video[11];  // QV_CAP_VIDEO, for the video road
  // library (QV_CAP_LIBRARY)
  const char* (*getBaseTable)();
  const qvPluginCommand* (*getCommands)();
  const qvPluginConstant* (*getConstants)();
  int32_t (*initLibrary)(qvPluginState*);
  void (*freeLibrary)(qvPluginState*);
  void* script[2];  // QV_CAP_SCRIPT
  // image saver (QV_CAP_IMAGESAVER)
  void (*registerImageSaver)(qvSaverRecord*);
  int32_t (*saveImage)(const qvImageSave*);
  qvSaverRecord imageSaver;
  void* animSaver[4];  // QV_CAP_ANIMSAVER
  qvSaverRecord animSaverRecord;
  // sample saver (QV_CAP_SAMPLESAVER)
  void (*registerSampleSaver)(qvSaverRecord*);
  int32_t (*saveSample)(const char*, const qvSampleSave*);
  qvSaverRecord sampleSaver;
};

struct qvPluginLibrary;
struct qvDynamicLibrary;

// What LoadPlugin makes: the capabilities, the info and the open library.
struct qvPluginHandle {
  uint32_t capabilities;
  qvPluginInfo* info;
  qvDynamicLibrary* library;
  qvPluginLibrary* commands;  // a library plugin's registered rows, once registered
};

// One ".qvp" file found by the scan, in discovery order. A held-back one has no handle.
struct qvPluginRecord {
  qvPluginRecord* next;
  uint32_t capabilities;   // 0 while not loaded
  qvPluginHandle* handle;  // null while not loaded
  char name[256];          // the file name with its extension
  char path[1024];
};

// The host interface handed to every plugin. Its service table is filled in slot order by the
// filler that start-up hands over, once, before the first plugin is loaded.
const qvPluginApi* PluginHostApi();
void SetPluginServiceFiller(void (*fill)(void* services[QV_SLOT_COUNT]));

// Loads the plugin file: 0 with *handle, or ERR_MEM, ERR_LOADPLUGIN (the file's display name as
// the error's text: not a library for this machine, InitPlugin or ClosePlugin missing, InitPlugin
// answering 0, a module name other than the file's, an entry of a capability missing),
// ERR_NEWQVPLUGIN (the required version "v.r" as the text) or ERR_PLUGINTYPE (the capabilities in
// hexadecimal). A failure undoes everything, calling ClosePlugin when InitPlugin had succeeded.
int32_t LoadPlugin(const char* path, qvPluginHandle** handle);
// ClosePlugin, then the library is closed and the handle freed (null is ignored).
void UnloadPlugin(qvPluginHandle* handle);

// Whether the filter (names with or without ".qvp"; "*" for all) holds the file back; letter case
// does not count.
bool PluginFilterHolds(const std::vector<std::string>& filter, const char* fileName);
// Scans the directory for ".qvp" files (extension in any case): each one the filter holds is
// recorded unloaded, the first of a name is loaded with a status line ("Loading plugin %s...",
// then done, or failed and "(Reason: %s)"), later ones of the same name are passed over.
void ScanPluginDirectory(const std::vector<std::string>& filter, const char* directory);
// Registers what the plugin brings, by its capability bits: the vector graphics plugin, a
// library's commands (under its base table's name, else as global functions) and constants,
// then InitLibrary; the savers' format constants ("imgfmt_%s", "anmfmt_%s", "smpfmt_%s"). 0, or
// ERR_MEM, or InitLibrary's error. A record without a plugin registers nothing.
int32_t RegisterPluginLibrary(qvScriptState* L, qvPluginRecord* record);
// Scan of the program's directory and registration of every record in order: 0 or the first
// error.
int32_t StartPlugins(qvScriptState* L, const char* programDirectory,
                     const std::vector<std::string>& filter);
// The demand of an applet: 0 when a plugin of that module name (".qvp" ending or not, letter case
// aside) with at least version.revision is loaded or could be loaded now from a held-back record;
// else ERR_REQUIREPLUGIN with "name.qvp v.r" (" v.r" left out for 0.0) as the text, or the load or
// registration error.
int32_t RequirePlugin(qvScriptState* L, const char* name, int32_t version, int32_t revision);
// Writes the listing of the loaded plugins: 1 when written and closed cleanly, else 0.
int ListPlugins(const char* fileName);
// Calls FreeLibrary of every library plugin; shutdown calls it while the machine is open.
void FreePluginLibraries(qvScriptState* L);
// Unloads every plugin (in list order) and frees every record.
void FreePlugins();

// The list in discovery order (null when empty), and the vector graphics plugin (or null).
qvPluginRecord* FirstPluginRecord();
const qvPluginInfo* VectorGraphicsPlugin();
// The first loaded plugin with the capability bit whose saver record has that format number, or
// null.
const qvPluginInfo* FindSaverPlugin(uint32_t capability, uint32_t format);
// Asks every image plugin in list order whether it takes the file (IsImage): true with the first
// one's facts.
bool GetImageInfoViaPlugins(const char* file, qvImageFacts* facts);
// The loaded plugins' names for GetVersion ("name" of the init
// record, else the file name) in list order.
std::vector<std::string> LoadedPluginNames();

}  // namespace qv
