// Displays, background pictures (BGPics) and brushes: their records and lists, the display's
// window road (open, close, refresh), start-up's first display, the output device that drawing
// goes to (the display, a brush, a BGPic, a mask or alpha channel, the double buffer) and the
// snapshot pictures. Everything here runs on the script thread unless a comment says otherwise;
// the main thread only walks the display list under the display-list lock.
//
// The umbrella over the headers of each concern; new code includes the one it needs.
#pragma once

#include "display/bgpics.h"
#include "display/brushes.h"
#include "display/clip_regions.h"
#include "display/displays.h"
#include "display/output.h"
#include "display/picture_files.h"
#include "display/records.h"
#include "display/show.h"
