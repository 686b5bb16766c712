// The process-wide registries that tie the script libraries together: the libraries with their
// command tables, the lists of objects of every kind, the runtime attributes with the handler
// chains that libraries add, the named data items that scripts attach to objects, and calls of
// script functions by name from native code.
//
// Only the script thread and start-up touch these registries; they take no lock.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/errors.h"
#include "vm/auxlib.h"

namespace qv {

struct qvAppletSettings;
struct qvFile;
struct qvPlayerState;

// The script machine and the player state of the process (set by start-up, cleared at
// shutdown).
void SetProcessVm(qvScriptState* L);
qvScriptState* GetProcessVm();
void SetProcessPlayerState(const qvPlayerState* state);
const qvPlayerState* GetProcessPlayerState();

// ---- libraries ----

// A script library as data: its commands and its constants, each list ended by a row with a
// null name (a null list has no rows). `open`, when given, does what the library needs beyond
// its tables and returns 0 or an error code. The record and its lists are static data that
// outlive every registration.
struct qvLibrary {
  const char* name;
  const qvLibraryRow* commands;
  const qvConstantRow* constants;
  int32_t (*open)(qvScriptState* L);
};

// The one way a library reaches the script: every command becomes a global function under its
// lower-cased name, every constant an entry of the registry table "constants", the library is
// appended to the library list (FindCommand, DumpCommandNames), then its `open` runs. Leaves the
// stack as it was. Returns 0, ERR_MEM, or the error code of `open`.
int32_t OpenLibrary(qvScriptState* L, const qvLibrary& library);
// Only the library list's part of OpenLibrary, for a library whose commands were registered
// elsewhere (a plugin's, under its own table); 0 or ERR_MEM.
int32_t AppendLibrary(const qvLibrary& library);
// The registered spelling of the command whose name equals `name` without regard to case
// (libraries in registration order, rows in order), or null.
const char* FindCommand(const char* name);

// ---- objects ----

// Object type codes: script constants of the same names, and the names in messages.
enum qvObjectType : int32_t {
  kObjectBGPic = 1,
  kObjectSample = 2,
  kObjectBrush = 3,
  kObjectAnim = 4,
  kObjectSndModule = 5,
  kObjectKeyDown = 6,
  kObjectNoObject = 7,
  kObjectTextObject = 8,
  kObjectTextOut = 9,
  kObjectUndo = 10,
  kObjectPrint = 11,
  kObjectBrushPart = 12,
  kObjectBGPicPart = 13,
  kObjectBox = 14,
  kObjectCircle = 15,
  kObjectEllipse = 16,
  kObjectLine = 17,
  kObjectPlot = 18,
  kObjectMainWindow = 19,
  kObjectAnimDisk = 20,
  kObjectDisplay = 21,
  kObjectLayer = 22,
  kObjectHideBrush = 23,
  kObjectInsertBrush = 24,
  kObjectHideLayer = 25,
  kObjectRemoveLayer = 26,
  kObjectPolygon = 27,
  kObjectMask = 28,
  kObjectNextFrame = 29,
  kObjectAlphaChannel = 30,
  kObjectArc = 31,
  kObjectSprite = 32,
  kObjectMusic = 33,
  kObjectNextFrame2 = 34,
  kObjectClipRegion = 35,
  kObjectPointer = 36,
  kObjectAsyncDraw = 37,
  kObjectDoubleBuffer = 38,
  kObjectMemory = 39,
  kObjectEventHandler = 40,
  kObjectInterval = 41,
  kObjectTimeout = 42,
  kObjectFont = 43,
  kObjectFile = 44,
  kObjectDirectory = 45,
  // 46-48 have no names
  kObjectVectorPath = 49,
  kObjectVideo = 50,
  kObjectMoveList = 51,
  kObjectAnimStream = 52,
  kObjectTimer = 53,
  kObjectClient = 54,
  kObjectServer = 55,
  kObjectUdpObject = 56,
};

struct qvObjectDataItem;

// Every object record of every kind begins with this header. `data` holds the named values that
// the script attached to the object (SetObjectData); whoever frees a record frees them first with
// FreeObjectData.
struct qvObjectHeader {
  int32_t type;
  int32_t id;            // the number the script chose, 0 for an automatic id
  void* handle;          // the record's own address for an automatic id, else null
  intptr_t kindWord;     // belongs to the object's kind
  qvObjectHeader* next;  // the next record of its list
  qvObjectDataItem* data;
};

// How scripts address an object: a number they chose (handle null) or an automatic handle
// (number 0).
struct qvObjectId {
  int32_t number;
  void* handle;
};

// Adds a kind's list (the address of its head pointer) to the object registry; 0 or ERR_MEM.
int32_t RegisterObjectList(qvObjectHeader** head);
// The first record of that type whose number and handle both equal the id's, or null.
qvObjectHeader* FindObject(int32_t type, qvObjectId id);
// What a command gives for an id that names no record: ERR_FINDARRAY for a handle, else the
// kind's own code with the number as the error argument.
inline int32_t ObjectNotFound(qvObjectId id, int32_t code) {
  if (id.handle != nullptr) return ERR_FINDARRAY;
  SetErrorNumber(id.number);
  return code;
}
// FindObject for a record that begins with its header: 0 with the record, or ObjectNotFound's
// code with null.
template <typename Record>
int32_t FindObjectAs(int32_t type, qvObjectId id, int32_t notFoundCode, Record** out) {
  qvObjectHeader* header = FindObject(type, id);
  *out = reinterpret_cast<Record*>(header);
  return header != nullptr ? 0 : ObjectNotFound(id, notFoundCode);
}
// Stamps a new record's header with its type and id (an automatic id is the record's own
// address, so the header must come first) and appends it to its list: lists of ids come out in
// the order of creation.
void AddObject(qvObjectHeader** head, qvObjectHeader* header, int32_t type, int32_t number,
               bool automatic);
int32_t CountObjects(int32_t type);
// Into the table on the stack top: key 0, 1, 2, ... = each record's handle (light userdata) or,
// without one, its number, in list order. Returns the count.
int32_t PushObjectIds(qvScriptState* L, int32_t type);
// The type of the record with that handle; -1 for null or none.
int32_t GetObjectTypeByHandle(const void* handle);

// ---- runtime attributes ----

enum : uint32_t {
  kAttrStaleEventAge = 1,     // milliseconds after which queued events are dropped (1500)
  kAttrQuiet = 2,             // no status output
  kAttrMaskMode = 5,          // how drawing without a bitmap changes an output mask (0)
  kAttrLoaderFlag = 6,        // read by the picture loader and the outline-text renderer
  kAttrAlphaIntensity = 7,    // the alpha such drawing gives an output alpha channel (-1 none)
  kAttrCallbackNesting = 11,  // set: true adds 1, false subtracts 1; get: the count
  kAttrExitOnError = 12,      // errors end the script (1)
  kAttrScriptRunning = 23,    // set only; reads go to the get chain
};

// Tag lists end with tag 0.
struct qvAttrSetItem {
  uint32_t tag;
  intptr_t value;
};
struct qvAttrGetItem {
  uint32_t tag;
  intptr_t* out;
};

// Chain handlers return nonzero when they handled the tag; the first that does ends the search.
using qvSetAttrHandler = int (*)(void* context, uint32_t tag, intptr_t value);
using qvGetAttrHandler = int (*)(void* context, uint32_t tag, intptr_t* out);

// Each returns how many tags were handled; `context` reaches the chain handlers unchanged.
int SetRuntimeAttrs(void* context, const qvAttrSetItem* items);
int GetRuntimeAttrs(void* context, const qvAttrGetItem* items);
// Append to a chain; 0 or ERR_MEM.
int32_t AddSetAttrHandler(qvSetAttrHandler handler);
int32_t AddGetAttrHandler(qvGetAttrHandler handler);
// Attribute 23, which only chain handlers answer through GetRuntimeAttrs.
int32_t IsScriptRunning();

// ---- object data items ----

// A named value that a script attached to an object; the name text follows the record.
struct qvObjectDataItem {
  qvObjectDataItem* next;
  const char* name;
  int32_t ref;  // VM registry reference of the value
};

// Replaces the value of the item of that name (names compare without regard to case) or
// appends a new item, referencing the value at `index`; 0 or ERR_MEM.
int32_t SetObjectDataItem(qvScriptState* L, const char* name, int index, qvObjectDataItem** head);
qvObjectDataItem* FindObjectDataItem(qvObjectDataItem* list, const char* name);
// 1 when the item was there (its reference is released), else 0.
int RemoveObjectDataItem(qvScriptState* L, qvObjectDataItem** head, const char* name);
// A new list with new references to the same values, in order; 0, or ERR_MEM with nothing made.
int32_t CopyObjectDataList(qvScriptState* L, const qvObjectDataItem* list, qvObjectDataItem** out);
void FreeRefList(qvScriptState* L, qvObjectDataItem* list);
// Releases a registry reference that a subsystem kept for the script (a callback, a userdata);
// kNoReference or a null machine (already closed) release nothing.
void ReleaseReference(qvScriptState* L, int32_t ref);
// Releases the object's data items (FreeRefList) and empties its list; without a machine (L null,
// the machine already closed) only the nodes are freed.
void FreeObjectData(qvScriptState* L, qvObjectHeader* object);

// ---- calling script functions ----

enum : int32_t {
  kArgInt = 0,     // number: a signed 32-bit integer
  kArgUInt = 1,    // number: an unsigned 32-bit integer
  kArgString = 2,  // pointer: the text
  kArgNil = 3,
  kArgHandle = 4,    // pointer: pushed as light userdata
  kArgObjectId = 5,  // pointer: a qvObjectId, pushed as its handle or else its number
};

struct qvScriptArg {
  int32_t type;
  int64_t number;
  const void* pointer;
};

// Calls the global function of that name (lower-cased) with the arguments, leaving `nresults`
// results; returns the call's word. Without a machine returns 0.
int32_t CallScriptFunction(qvScriptState* L, const char* name, int nresults, int count,
                           const qvScriptArg* args);

// ---- the rest ----

// The "applet" registry record of L, or of the process's machine when L is null.
qvAppletSettings* GetAppletSettings(qvScriptState* L);

// Host interface: records an item only for a null name (then 1); a named one records nothing
// and gives 0.
int AddUserResource(const char* name, intptr_t value, void* data);

// The vocabulary export. Commands: per library in registration order "::name", the number of
// its commands and one command per line, then "::end". Constants: every name of the registry
// table "constants", one per line. Each returns 1 when the file was written and closed cleanly,
// 0 when it could not be opened or a write failed.
int DumpCommandNames(const char* fileName);
int DumpConstantNames(qvScriptState* L, const char* fileName);
// Writes the text without its terminator; returns the bytes written.
size_t WriteStringQ(qvFile* file, const char* text);

// Shutdown: frees the attribute chains, the library list, the object registry's nodes and the
// plugin items.
void FreeRegistries();

}  // namespace qv
