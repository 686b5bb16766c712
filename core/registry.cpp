#include "core/registry.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/support.h"
#include "core/attribute_table.h"
#include "core/error_table.h"
#include "core/errors.h"
#include "core/eventqueue.h"
#include "core/vfile.h"

namespace qv {

namespace {

// A singly linked list appended at its tail.
template <typename Node>
struct TailList {
  Node* head = nullptr;
  Node* tail = nullptr;

  void Append(Node* node) {
    node->next = nullptr;
    if (tail != nullptr)
      tail->next = node;
    else
      head = node;
    tail = node;
  }
  void Free() {
    while (head != nullptr) {
      Node* next = head->next;
      delete head;
      head = next;
    }
    tail = nullptr;
  }
};

struct LibraryNode {
  LibraryNode* next;
  const qvLibrary* library;
};
struct ObjectListNode {
  ObjectListNode* next;
  qvObjectHeader** head;
};
struct SetHandlerNode {
  SetHandlerNode* next;
  qvSetAttrHandler handler;
};
struct GetHandlerNode {
  GetHandlerNode* next;
  qvGetAttrHandler handler;
};
struct UserResourceNode {
  UserResourceNode* next;
  const char* name;
  void* data;
  intptr_t value;
};

qvScriptState* gProcessVm;
const qvPlayerState* gProcessPlayerState;
TailList<LibraryNode> gLibraries;
TailList<ObjectListNode> gObjectLists;
TailList<SetHandlerNode> gSetHandlers;
TailList<GetHandlerNode> gGetHandlers;
TailList<UserResourceNode> gUserResources;

int32_t gStaleEventAge = kDefaultStaleLimitMs;
int32_t gQuiet;
int32_t gLoaderFlag;
int32_t gScriptRunning;

void CopyName(char* dest, size_t size, const char* src) {
  size_t n = std::strlen(src);
  if (n >= size) n = size - 1;
  std::memcpy(dest, src, n);
  dest[n] = '\0';
}

// Calls fn on every object header of every registered list, in order, until it returns true;
// returns that header or null.
template <typename Fn>
qvObjectHeader* ForEachObject(Fn fn) {
  for (ObjectListNode* list = gObjectLists.head; list != nullptr; list = list->next)
    for (qvObjectHeader* h = *list->head; h != nullptr; h = h->next)
      if (fn(h)) return h;
  return nullptr;
}

// The callback nesting counter is the machine's handler-suppression word, so that a failing
// command inside a callback is seen as nested by the error path.
int32_t GetNesting() { return gProcessVm != nullptr ? VmGetHandlerSuppression(gProcessVm) : 0; }

void StepNesting(bool up) {
  if (gProcessVm == nullptr) return;
  int32_t n = VmGetHandlerSuppression(gProcessVm);
  // An unbalanced "leave" must not drive the count negative: the script's error handler would
  // stay switched off for good.
  VmSetHandlerSuppression(gProcessVm, up ? n + 1 : (n > 0 ? n - 1 : 0));
}

bool SetCoreAttr(uint32_t tag, intptr_t value) {
  int32_t v = static_cast<int32_t>(value);
  switch (tag) {
    case kAttrStaleEventAge:
      gStaleEventAge = v;
      if (qvEventQueue* q = RuntimeEventQueue()) q->SetStaleLimit(v);
      return true;
    case kAttrQuiet:
      gQuiet = v;
      return true;
    case kAttrLoaderFlag:
      gLoaderFlag = v;
      return true;
    case kAttrCallbackNesting:
      StepNesting(value != 0);
      return true;
    case kAttrExitOnError:
      SetExitOnError(v);
      return true;
    case kAttrScriptRunning:
      gScriptRunning = v;
      return true;
    default:
      return false;
  }
}

bool GetCoreAttr(uint32_t tag, intptr_t* out) {
  switch (tag) {
    case kAttrStaleEventAge:
      *out = gStaleEventAge;
      return true;
    case kAttrQuiet:
      *out = gQuiet;
      return true;
    case kAttrLoaderFlag:
      *out = gLoaderFlag;
      return true;
    case kAttrCallbackNesting:
      *out = GetNesting();
      return true;
    case kAttrExitOnError:
      *out = GetExitOnError();
      return true;
    default:
      return false;
  }
}

qvObjectDataItem* NewDataItem(const char* name) {
  size_t len = std::strlen(name);
  auto* item = static_cast<qvObjectDataItem*>(std::malloc(sizeof(qvObjectDataItem) + len + 1));
  if (item == nullptr) return nullptr;
  char* text = reinterpret_cast<char*>(item + 1);
  std::memcpy(text, name, len + 1);
  item->next = nullptr;
  item->name = text;
  item->ref = kNoReference;
  return item;
}

// Pushes the value an item refers to.
void PushItemValue(qvScriptState* L, const qvObjectDataItem* item) {
  if (item->ref == kNoReference)
    VmPushNil(L);
  else
    VmRawGetI(L, kRegistryIndex, item->ref);
}

}  // namespace

void SetProcessVm(qvScriptState* L) { gProcessVm = L; }
qvScriptState* GetProcessVm() { return gProcessVm; }
void SetProcessPlayerState(const qvPlayerState* state) { gProcessPlayerState = state; }
const qvPlayerState* GetProcessPlayerState() { return gProcessPlayerState; }

// ---- libraries ----

int32_t OpenLibrary(qvScriptState* L, const qvLibrary& library) {
  if (library.commands != nullptr) {
    VmPushValue(L, kGlobalsIndex);
    VmRegisterLibrary(L, nullptr, library.commands, 0);
    VmSetTop(L, -2);
  }
  if (library.constants != nullptr) VmRegisterConstants(L, library.constants, 0);
  int32_t code = AppendLibrary(library);
  if (code != 0) return code;
  return library.open != nullptr ? library.open(L) : 0;
}

int32_t AppendLibrary(const qvLibrary& library) {
  auto* node = new (std::nothrow) LibraryNode{nullptr, &library};
  if (node == nullptr) return ERR_MEM;
  gLibraries.Append(node);
  return 0;
}

const char* FindCommand(const char* name) {
  if (name == nullptr) return nullptr;
  for (const LibraryNode* node = gLibraries.head; node != nullptr; node = node->next) {
    const qvLibraryRow* row = node->library->commands;
    for (; row != nullptr && row->name != nullptr; ++row)
      if (StrCaseCmp(row->name, name) == 0) return row->name;
  }
  return nullptr;
}

// ---- objects ----

int32_t RegisterObjectList(qvObjectHeader** head) {
  auto* node = new (std::nothrow) ObjectListNode{nullptr, head};
  if (node == nullptr) return ERR_MEM;
  gObjectLists.Append(node);
  return 0;
}

qvObjectHeader* FindObject(int32_t type, qvObjectId id) {
  return ForEachObject([&](const qvObjectHeader* h) {
    return h->type == type && h->id == id.number && h->handle == id.handle;
  });
}

void AddObject(qvObjectHeader** head, qvObjectHeader* header, int32_t type, int32_t number,
               bool automatic) {
  header->type = type;
  header->id = automatic ? 0 : number;
  header->handle = automatic ? header : nullptr;
  header->next = nullptr;
  while (*head != nullptr) head = &(*head)->next;
  *head = header;
}

int32_t CountObjects(int32_t type) {
  int32_t n = 0;
  ForEachObject([&](const qvObjectHeader* h) {
    if (h->type == type) ++n;
    return false;
  });
  return n;
}

int32_t PushObjectIds(qvScriptState* L, int32_t type) {
  int32_t n = 0;
  ForEachObject([&](const qvObjectHeader* h) {
    if (h->type != type) return false;
    if (h->handle != nullptr)
      VmPushLightUserdata(L, h->handle);
    else
      VmPushNumber(L, h->id);
    VmRawSetI(L, -2, n++);
    return false;
  });
  return n;
}

int32_t GetObjectTypeByHandle(const void* handle) {
  if (handle == nullptr) return -1;
  qvObjectHeader* h = ForEachObject([&](const qvObjectHeader* o) { return o->handle == handle; });
  return h != nullptr ? h->type : -1;
}

// ---- runtime attributes ----

int SetRuntimeAttrs(void* context, const qvAttrSetItem* items) {
  int handled = 0;
  for (const qvAttrSetItem* it = items; it->tag != 0; ++it) {
    bool done = SetCoreAttr(it->tag, it->value);
    for (SetHandlerNode* h = gSetHandlers.head; !done && h != nullptr; h = h->next)
      done = h->handler(context, it->tag, it->value) != 0;
    if (done) ++handled;
  }
  return handled;
}

int GetRuntimeAttrs(void* context, const qvAttrGetItem* items) {
  int handled = 0;
  for (const qvAttrGetItem* it = items; it->tag != 0; ++it) {
    bool done = GetCoreAttr(it->tag, it->out);
    for (GetHandlerNode* h = gGetHandlers.head; !done && h != nullptr; h = h->next)
      done = h->handler(context, it->tag, it->out) != 0;
    if (done) ++handled;
  }
  return handled;
}

int32_t AddSetAttrHandler(qvSetAttrHandler handler) {
  auto* node = new (std::nothrow) SetHandlerNode{nullptr, handler};
  if (node == nullptr) return ERR_MEM;
  gSetHandlers.Append(node);
  return 0;
}

int32_t AddGetAttrHandler(qvGetAttrHandler handler) {
  auto* node = new (std::nothrow) GetHandlerNode{nullptr, handler};
  if (node == nullptr) return ERR_MEM;
  gGetHandlers.Append(node);
  return 0;
}

int32_t IsScriptRunning() { return gScriptRunning; }

// ---- object data items ----

int32_t SetObjectDataItem(qvScriptState* L, const char* name, int index, qvObjectDataItem** head) {
  qvObjectDataItem* item = FindObjectDataItem(*head, name);
  if (item == nullptr) {
    item = NewDataItem(name);
    if (item == nullptr) return ERR_MEM;
    qvObjectDataItem** link = head;
    while (*link != nullptr) link = &(*link)->next;
    *link = item;
  }
  VmPushValue(L, index);
  int32_t ref = VmRef(L, kRegistryIndex);
  VmUnref(L, kRegistryIndex, item->ref);
  item->ref = ref;
  return 0;
}

qvObjectDataItem* FindObjectDataItem(qvObjectDataItem* list, const char* name) {
  for (; list != nullptr; list = list->next)
    if (StrCaseCmp(list->name, name) == 0) return list;
  return nullptr;
}

int RemoveObjectDataItem(qvScriptState* L, qvObjectDataItem** head, const char* name) {
  for (qvObjectDataItem** link = head; *link != nullptr; link = &(*link)->next) {
    qvObjectDataItem* item = *link;
    if (StrCaseCmp(item->name, name) != 0) continue;
    VmUnref(L, kRegistryIndex, item->ref);
    *link = item->next;
    std::free(item);
    return 1;
  }
  return 0;
}

int32_t CopyObjectDataList(qvScriptState* L, const qvObjectDataItem* list, qvObjectDataItem** out) {
  qvObjectDataItem* copy = nullptr;
  qvObjectDataItem** link = &copy;
  for (; list != nullptr; list = list->next) {
    qvObjectDataItem* item = NewDataItem(list->name);
    if (item == nullptr) {
      FreeRefList(L, copy);
      *out = nullptr;
      return ERR_MEM;
    }
    PushItemValue(L, list);
    item->ref = VmRef(L, kRegistryIndex);
    *link = item;
    link = &item->next;
  }
  *out = copy;
  return 0;
}

void FreeRefList(qvScriptState* L, qvObjectDataItem* list) {
  while (list != nullptr) {
    qvObjectDataItem* next = list->next;
    VmUnref(L, kRegistryIndex, list->ref);
    std::free(list);
    list = next;
  }
}

void ReleaseReference(qvScriptState* L, int32_t ref) {
  if (L != nullptr && ref != kNoReference) VmUnref(L, kRegistryIndex, ref);
}

void FreeObjectData(qvScriptState* L, qvObjectHeader* object) {
  qvObjectDataItem* list = object->data;
  object->data = nullptr;
  if (L != nullptr) {
    FreeRefList(L, list);
    return;
  }
  while (list != nullptr) {
    qvObjectDataItem* next = list->next;
    std::free(list);
    list = next;
  }
}

// ---- calling script functions ----

int32_t CallScriptFunction(qvScriptState* L, const char* name, int nresults, int count,
                           const qvScriptArg* args) {
  if (L == nullptr) return 0;
  char key[kNameBufferSize];
  CopyName(key, sizeof key, name);
  LowerCaseString(key);
  VmPushString(L, key);
  VmGetTable(L, kGlobalsIndex);
  for (int i = 0; i < count; ++i) {
    const qvScriptArg& a = args[i];
    switch (a.type) {
      case kArgInt:
        VmPushNumber(L, static_cast<int32_t>(a.number));
        break;
      case kArgUInt:
        VmPushNumber(L, static_cast<uint32_t>(a.number));
        break;
      case kArgString:
        VmPushString(L, static_cast<const char*>(a.pointer));
        break;
      case kArgHandle:
        VmPushLightUserdata(L, const_cast<void*>(a.pointer));
        break;
      case kArgObjectId: {
        const auto* id = static_cast<const qvObjectId*>(a.pointer);
        if (id->handle != nullptr)
          VmPushLightUserdata(L, id->handle);
        else
          VmPushNumber(L, id->number);
        break;
      }
      default:  // kArgNil; no other codes exist
        VmPushNil(L);
        break;
    }
  }
  return VmCall(L, count, nresults);
}

// ---- the rest ----

qvAppletSettings* GetAppletSettings(qvScriptState* L) {
  if (L == nullptr) L = gProcessVm;
  if (L == nullptr) return nullptr;
  return static_cast<qvAppletSettings*>(VmRegistryGetUserdata(L, "applet"));
}

int AddUserResource(const char* name, intptr_t value, void* data) {
  if (name != nullptr) return 0;
  auto* node = new (std::nothrow) UserResourceNode{nullptr, name, data, value};
  if (node == nullptr) return 0;
  gUserResources.Append(node);
  return 1;
}

size_t WriteStringQ(qvFile* file, const char* text) {
  return WriteFileQ(file, text, std::strlen(text));
}

namespace {
// Writes a line, remembering a short write.
void WriteLine(qvFile* file, const char* text, bool* ok) {
  size_t n = std::strlen(text);
  if (WriteStringQ(file, text) != n || WriteByteQ(file, '\n') != '\n') *ok = false;
}
}  // namespace

int DumpCommandNames(const char* fileName) {
  qvFile* file = OpenFileQ(fileName, kFileWrite);
  if (file == nullptr) return 0;
  bool ok = true;
  for (const LibraryNode* node = gLibraries.head; node != nullptr; node = node->next) {
    const qvLibrary& lib = *node->library;
    if (WriteStringQ(file, "::") != 2) ok = false;
    WriteLine(file, lib.name, &ok);
    size_t count = 0;
    while (lib.commands != nullptr && lib.commands[count].name != nullptr) ++count;
    char number[24];
    std::snprintf(number, sizeof number, "%zu", count);
    WriteLine(file, number, &ok);
    for (size_t i = 0; i < count; ++i) WriteLine(file, lib.commands[i].name, &ok);
  }
  WriteLine(file, "::end", &ok);
  return CloseFileQ(file) && ok ? 1 : 0;
}

int DumpConstantNames(qvScriptState* L, const char* fileName) {
  qvFile* file = OpenFileQ(fileName, kFileWrite);
  if (file == nullptr) return 0;
  bool ok = true;
  VmPushString(L, "constants");
  VmRawGet(L, kRegistryIndex);
  if (VmType(L, -1) == kTypeTable) {
    VmPushNil(L);
    while (VmNext(L, -2)) {
      // Only string keys are names; converting another key would upset the traversal.
      if (VmType(L, -2) == kTypeString) WriteLine(file, VmToString(L, -2), &ok);
      VmSetTop(L, -2);
    }
  }
  VmSetTop(L, -2);
  return CloseFileQ(file) && ok ? 1 : 0;
}

void FreeRegistries() {
  gSetHandlers.Free();
  gGetHandlers.Free();
  gLibraries.Free();
  gObjectLists.Free();
  gUserResources.Free();
  ForgetAttributeKinds();
}

}  // namespace qv
