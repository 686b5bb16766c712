// The draw library's table: its twelve commands in their order, the colour, fill style and shape
// constants. The form styles and shadow directions belong to the text library's table.
#include "display/draw.h"
#include "display/records.h"
#include "libs/draw/commands.h"
#include "libs/libraries.h"

namespace qv {

namespace {

const qvLibraryRow kCommands[] = {
    {"Box", cmd::Box},
    {"Plot", cmd::Plot},
    {"Ellipse", cmd::Ellipse},
    {"Line", cmd::Line},
    {"Circle", cmd::Circle},
    {"Polygon", cmd::Polygon},
    {"SetFillStyle", cmd::SetFillStyle},
    {"ReadPixel", cmd::ReadPixel},
    {"Cls", cmd::Cls},
    {"Arc", cmd::Arc},
    {"SetFormStyle", cmd::SetFormStyle},
    {"SetLineWidth", cmd::SetLineWidth},
    {nullptr, nullptr},
};

const qvConstantRow kConstants[] = {
    {"BLACK", nullptr, 0x000000},
    {"MAROON", nullptr, 0x800000},
    {"GREEN", nullptr, 0x008000},
    {"OLIVE", nullptr, 0x808000},
    {"NAVY", nullptr, 0x000080},
    {"PURPLE", nullptr, 0x800080},
    {"TEAL", nullptr, 0x008080},
    {"GRAY", nullptr, 0x808080},
    {"SILVER", nullptr, 0xC0C0C0},
    {"RED", nullptr, 0xFF0000},
    {"LIME", nullptr, 0x00FF00},
    {"YELLOW", nullptr, 0xFFFF00},
    {"BLUE", nullptr, 0x0000FF},
    {"FUCHSIA", nullptr, 0xFF00FF},
    {"AQUA", nullptr, 0x00FFFF},
    {"WHITE", nullptr, 0xFFFFFF},
    {"FILLNONE", nullptr, kFillNone},
    {"FILLCOLOR", nullptr, kFillColour},
    {"FILLGRADIENT", nullptr, kFillGradient},
    {"FILLTEXTURE", nullptr, kFillTexture},
    {"BOX", nullptr, kShapeBox},
    {"CIRCLE", nullptr, kShapeCircle},
    {"ELLIPSE", nullptr, kShapeEllipse},
    {"LINE", nullptr, kShapeLine},
    {"PLOT", nullptr, 18},
    {"POLYGON", nullptr, kShapePolygon},
    {"ARC", nullptr, kShapeArc},
    {nullptr, nullptr, 0},
};

int32_t OpenDraw(qvScriptState*) { return OpenDrawStyle(); }

}  // namespace

const qvLibrary kDrawLibrary{"draw", kCommands, kConstants, OpenDraw};

void FreeDrawLibrary() { FreeDrawStyle(); }

}  // namespace qv
