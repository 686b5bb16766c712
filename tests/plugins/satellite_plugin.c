/* A plugin that keeps another view of a display, as a plugin with a window of its own would:
 * library commands under the base table "satview" attach one satellite to a display, hand it
 * input, ask it to resize, redraw or detach, and tell what the size callback was told. */
#include "qv_plugin.h"

static const qvPluginApi* api;
static qvPluginSatellite* satellite;
static int32_t toldCalls, toldWidth, toldHeight;

#define SERVICE(SLOT, Name) QV_SERVICE(api, SLOT, qvFn_##Name)

static void TellSize(void* data, int32_t width, int32_t height) {
  ++*(int32_t*)data;
  toldWidth = width;
  toldHeight = height;
}

static void PushInt(qvPluginState* L, int32_t value) {
  SERVICE(VMPUSHNUMBER, VmPushNumber)(L, (double)value);
}

/* satview.attach(display): 1 and the picture's width and height as the host tells them, or 0
 * when the host refuses the display. The satellite held before is kept attached. */
static int32_t Attach(qvPluginState* L) {
  qvPluginObjectId id;
  int32_t width = -1, height = -1;
  qvPluginTag tags[3];
  qvPluginSatellite* made;
  SERVICE(APIGETOBJECTID, ApiGetObjectId)(L, 1, &id);
  tags[0].tag = 1;
  tags[0].value = (intptr_t)&width;
  tags[1].tag = 2;
  tags[1].value = (intptr_t)&height;
  tags[2].tag = 0;
  tags[2].value = 0;
  made = SERVICE(ATTACHSATELLITE, AttachSatellite)(id, TellSize, &toldCalls, tags);
  if (made == NULL) {
    PushInt(L, 0);
    return 1;
  }
  satellite = made;
  PushInt(L, 1);
  PushInt(L, width);
  PushInt(L, height);
  return 3;
}

/* satview.input(kind, x, y, pressed [, code [, qualifiers]]): SatelliteInput's answer. */
static int32_t Input(qvPluginState* L) {
  qvSatelliteEvent event;
  int32_t kind = SERVICE(VMCHECKINT, VmCheckInt)(L, 1);
  event.x = SERVICE(VMCHECKINT, VmCheckInt)(L, 2);
  event.y = SERVICE(VMCHECKINT, VmCheckInt)(L, 3);
  event.pressed = SERVICE(VMCHECKINT, VmCheckInt)(L, 4);
  event.code = SERVICE(VMGETTOP, VmGetTop)(L) >= 5 ? SERVICE(VMCHECKINT, VmCheckInt)(L, 5) : 0;
  event.qualifiers = SERVICE(VMGETTOP, VmGetTop)(L) >= 6
                         ? (uint32_t)SERVICE(VMCHECKNUMBER, VmCheckNumber)(L, 6)
                         : 0u;
  PushInt(L, SERVICE(SATELLITEINPUT, SatelliteInput)(satellite, kind, &event));
  return 1;
}

/* satview.resize(width, height): ResizeSatellite's answer. */
static int32_t Resize(qvPluginState* L) {
  int32_t width = SERVICE(VMCHECKINT, VmCheckInt)(L, 1);
  int32_t height = SERVICE(VMCHECKINT, VmCheckInt)(L, 2);
  PushInt(L, SERVICE(RESIZESATELLITE, ResizeSatellite)(satellite, width, height));
  return 1;
}

/* satview.redraw(): RedrawSatellite's answer. */
static int32_t Redraw(qvPluginState* L) {
  PushInt(L, SERVICE(REDRAWSATELLITE, RedrawSatellite)(satellite));
  return 1;
}

/* satview.told(): how often the size callback ran and the last size it was told. */
static int32_t Told(qvPluginState* L) {
  PushInt(L, toldCalls);
  PushInt(L, toldWidth);
  PushInt(L, toldHeight);
  return 3;
}

/* satview.detach(): detaches the satellite held; the commands then pass no handle. */
static int32_t Detach(qvPluginState* L) {
  (void)L;
  SERVICE(DETACHSATELLITE, DetachSatellite)(satellite);
  satellite = NULL;
  return 0;
}

static const qvPluginCommand commands[] = {{"Attach", Attach}, {"Input", Input}, {"Resize", Resize},
                                           {"Redraw", Redraw}, {"Told", Told},   {"Detach", Detach},
                                           {NULL, NULL}};
static const qvPluginConstant constants[] = {{NULL, NULL, 0}};

QV_PLUGIN_EXPORT int32_t InitPlugin(qvPluginInit* init, const qvPluginApi* host, const char* path) {
  (void)path;
  api = host;
  if (host->version != QV_PLUGIN_VERSION) return 0;
  init->capabilities = QV_CAP_LIBRARY;
  init->version = 1;
  init->revision = 0;
  init->name = "Satellite view";
  init->moduleName = "satview";
  init->author = "Test Author";
  init->description = "Another view of a display for the tests";
  init->copyright = NULL;
  init->url = NULL;
  init->date = "11.12.2026";
  init->settings = "";
  init->helpFile = NULL;
  return 1;
}
QV_PLUGIN_EXPORT void ClosePlugin(void) {}
QV_PLUGIN_EXPORT const char* GetBaseTable(void) { return "satview"; }
QV_PLUGIN_EXPORT const qvPluginCommand* GetCommands(void) { return commands; }
QV_PLUGIN_EXPORT const qvPluginConstant* GetConstants(void) { return constants; }
QV_PLUGIN_EXPORT int32_t InitLibrary(qvPluginState* L) {
  (void)L;
  return 0;
}
QV_PLUGIN_EXPORT void FreeLibrary(qvPluginState* L) { (void)L; }
