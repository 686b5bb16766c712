/* A library plugin written in C: commands under the base table "mylib", constants, a declared
 * error, and a command whose argument check raises through this file's frames. */
#include <string.h>

#include "plugin_log.h"
#include "qv_plugin.h"

static const qvPluginApi* api;
static int32_t declaredError;

#define SERVICE(SLOT, Name) QV_SERVICE(api, SLOT, qvFn_##Name)

/* mylib.add(a, b): a + b; its checks raise for a missing or wrong argument. */
static int32_t Add(qvPluginState* L) {
  double a = SERVICE(VMCHECKNUMBER, VmCheckNumber)(L, 1);
  double b = SERVICE(VMCHECKNUMBER, VmCheckNumber)(L, 2);
  SERVICE(VMPUSHNUMBER, VmPushNumber)(L, a + b);
  return 1;
}

/* mylib.greet(name): "Hello, <name>!" built in the machine's string buffer. */
static int32_t Greet(qvPluginState* L) {
  const char* name = SERVICE(VMCHECKSTRING, VmCheckString)(L, 1, NULL);
  qvStringBuffer b;
  SERVICE(VMBUFFERINIT, VmBufferInit)(L, &b);
  SERVICE(VMBUFFERADDSTRING, VmBufferAddString)(&b, "Hello, ");
  SERVICE(VMBUFFERADDSTRING, VmBufferAddString)(&b, name);
  SERVICE(VMBUFFERADDSTRING, VmBufferAddString)(&b, "!");
  SERVICE(VMBUFFERPUSHRESULT, VmBufferPushResult)(&b);
  return 1;
}

/* mylib.fail(code): returns the code as the command's error. */
static int32_t Fail(qvPluginState* L) { return SERVICE(VMCHECKINT, VmCheckInt)(L, 1); }

/* mylib.refuse(): the error this plugin declared, with a text argument. */
static int32_t Refuse(qvPluginState* L) {
  (void)L;
  SERVICE(SETERRORSTRING, SetErrorString)("by mylib");
  return declaredError;
}

/* mylib.declared(): the code of the error this plugin declared, its text argument set. */
static int32_t Declared(qvPluginState* L) {
  SERVICE(SETERRORSTRING, SetErrorString)("by mylib");
  SERVICE(VMPUSHNUMBER, VmPushNumber)(L, declaredError);
  return 1;
}

/* mylib.raise(code): raises the code through the raising service, which does not return. */
static int32_t Raise(qvPluginState* L) {
  SERVICE(APIRAISEERROR, ApiRaiseError)(L, SERVICE(VMCHECKINT, VmCheckInt)(L, 1));
  PluginLog("mylib", "Raise returned");
  return 0;
}

/* mylib.brushinfo(id): what ApiLockBrush's record and ApiGetBrushARGB tell of a brush: width,
 * height, bytes per pixel, whether a mask and an alpha channel are there, the plain answer of
 * tag 3 and the first ARGB word; nil when the brush cannot be locked. */
static int32_t BrushInfo(qvPluginState* L) {
  qvPluginObjectId id;
  qvBrushLock lock;
  int32_t width = 0, height = 0, plain = -1;
  qvPluginTag tags[4];
  uint32_t* argb;
  SERVICE(APIGETOBJECTID, ApiGetObjectId)(L, 1, &id);
  if (!SERVICE(APILOCKBRUSH, ApiLockBrush)(id, NULL, &lock)) {
    SERVICE(VMPUSHNIL, VmPushNil)(L);
    return 1;
  }
  SERVICE(APIUNLOCKBRUSH, ApiUnLockBrush)(id);
  tags[0].tag = 1;
  tags[0].value = (intptr_t)&width;
  tags[1].tag = 2;
  tags[1].value = (intptr_t)&height;
  tags[2].tag = 3;
  tags[2].value = (intptr_t)&plain;
  tags[3].tag = 0;
  tags[3].value = 0;
  argb = SERVICE(APIGETBRUSHARGB, ApiGetBrushARGB)(id, tags);
  SERVICE(VMPUSHNUMBER, VmPushNumber)(L, (double)lock.width);
  SERVICE(VMPUSHNUMBER, VmPushNumber)(L, (double)lock.height);
  SERVICE(VMPUSHNUMBER, VmPushNumber)(L, (double)lock.bytesPerPixel);
  SERVICE(VMPUSHNUMBER, VmPushNumber)(L, lock.mask != NULL);
  SERVICE(VMPUSHNUMBER, VmPushNumber)(L, lock.alpha != NULL);
  SERVICE(VMPUSHNUMBER, VmPushNumber)(L, width == lock.width && height == lock.height ? plain : -1);
  SERVICE(VMPUSHNUMBER, VmPushNumber)(L, argb != NULL ? (double)argb[0] : -1);
  SERVICE(APIFREEVEC, ApiFreeVec)(argb);
  return 7;
}

/* mylib.sampledata(id): the facts ApiGetSampleData gives of a sample (bytes, frames, channels,
 * bits, frequency, flags); the copy's first byte is raised by one and handed back as the sample's
 * new data. Nil for a missing sample. */
static int32_t SampleData(qvPluginState* L) {
  qvPluginObjectId id;
  qvSampleData data;
  void* handle;
  SERVICE(APIGETOBJECTID, ApiGetObjectId)(L, 1, &id);
  handle = SERVICE(APIGETSAMPLEDATA, ApiGetSampleData)(id, 0, NULL, &data);
  if (handle == NULL) {
    SERVICE(VMPUSHNIL, VmPushNil)(L);
    return 1;
  }
  if (data.bytes > 0) ((unsigned char*)data.data)[0] += 1;
  SERVICE(VMPUSHNUMBER, VmPushNumber)(L, data.bytes);
  SERVICE(VMPUSHNUMBER, VmPushNumber)(L, data.frames);
  SERVICE(VMPUSHNUMBER, VmPushNumber)(L, data.channels);
  SERVICE(VMPUSHNUMBER, VmPushNumber)(L, data.bits);
  SERVICE(VMPUSHNUMBER, VmPushNumber)(L, data.frequency);
  SERVICE(VMPUSHNUMBER, VmPushNumber)(L, data.flags);
  SERVICE(APIFREESAMPLEDATA, ApiFreeSampleData)(handle);
  return 6;
}

/* mylib.ask(kind): the file (kind 0) or directory (kind 1) requester into a buffer of the 1024
 * bytes the interface grants, followed by guard bytes: the answer, the length of the text and
 * whether the guard bytes are untouched. */
static int32_t Ask(qvPluginState* L) {
  char buffer[1024 + 16];
  int32_t answer;
  int intact = 1;
  size_t i;
  memset(buffer, 0x5A, sizeof buffer);
  if (SERVICE(VMCHECKINT, VmCheckInt)(L, 1) == 0) {
    answer = SERVICE(APIFILEREQUEST, ApiFileRequest)("Pick a file", buffer);
  } else {
    answer = SERVICE(APIPATHREQUEST, ApiPathRequest)("Pick a folder", buffer);
  }
  for (i = 1024; i < sizeof buffer; ++i) intact &= buffer[i] == 0x5A;
  SERVICE(VMPUSHNUMBER, VmPushNumber)(L, answer);
  SERVICE(VMPUSHNUMBER, VmPushNumber)(L, answer != 0 ? (double)strlen(buffer) : -1);
  SERVICE(VMPUSHNUMBER, VmPushNumber)(L, intact);
  return 3;
}

static const qvPluginCommand commands[] = {
    {"Add", Add},           {"Greet", Greet}, {"Fail", Fail},           {"Refuse", Refuse},
    {"Declared", Declared}, {"Raise", Raise}, {"BrushInfo", BrushInfo}, {"SampleData", SampleData},
    {"Ask", Ask},           {NULL, NULL}};
static const qvPluginConstant constants[] = {
    {"MYLIB_ANSWER", NULL, 42}, {"MYLIB_NAME", "my library", 0}, {NULL, NULL, 0}};

QV_PLUGIN_EXPORT int32_t InitPlugin(qvPluginInit* init, const qvPluginApi* host, const char* path) {
  (void)path;
  api = host;
  if (host->version != QV_PLUGIN_VERSION) return 0;
  init->capabilities = QV_CAP_LIBRARY;
  init->version = 1;
  init->revision = 4;
  init->name = "My Library";
  init->moduleName = "mylib";
  init->author = "Test Author";
  init->description = "Commands for the tests";
  init->copyright = NULL;
  init->url = "https://example.invalid/mylib";
  init->date = "11.12.2026";
  init->settings = "";
  init->helpFile = NULL;
  PluginLog("mylib", "InitPlugin");
  return 1;
}
QV_PLUGIN_EXPORT void ClosePlugin(void) { PluginLog("mylib", "ClosePlugin"); }
QV_PLUGIN_EXPORT const char* GetBaseTable(void) { return "mylib"; }
QV_PLUGIN_EXPORT const qvPluginCommand* GetCommands(void) { return commands; }
QV_PLUGIN_EXPORT const qvPluginConstant* GetConstants(void) { return constants; }
QV_PLUGIN_EXPORT int32_t InitLibrary(qvPluginState* L) {
  (void)L;
  declaredError = SERVICE(REGISTERERRORNAME, RegisterErrorName)("Mylib refused %s!");
  PluginLog("mylib", "InitLibrary");
  return getenv("QV_MYLIB_INIT_ERROR") != NULL ? atoi(getenv("QV_MYLIB_INIT_ERROR")) : 0;
}
QV_PLUGIN_EXPORT void FreeLibrary(qvPluginState* L) {
  /* The machine is still open: the plugin may still use it. */
  SERVICE(VMGETTOP, VmGetTop)(L);
  PluginLog("mylib", "FreeLibrary");
}
