// What the demo applet prints before it waits for the user, shared by the tests that run it.
#pragma once

namespace qvtest {

inline constexpr char kDemoTour[] =
    "Quillvane demo\n"
    "\n"
    "1. The primes below 100\n"
    "   2   3   5   7  11  13  17  19  23  29\n"
    "  31  37  41  43  47  53  59  61  67  71\n"
    "  73  79  83  89  97\n"
    "\n"
    "2. Two counters, each a closure over its own count\n"
    "   counter a: 1\n"
    "   counter a: 2\n"
    "   counter a: 3\n"
    "   counter b: 1\n"
    "   counter a: 4\n"
    "\n"
    "3. An error caught by the script's own handler\n"
    "   caught error 1239 from Error() on line 75: The demo fails here on purpose.\n"
    "   ...and the script goes on.\n"
    "\n"
    "4. A brush drawn pixel by pixel, shown as it is, scaled and rotated\n"
    "   in display 1: 32 x 32 pixels, three times as large, twice as large and turned by 45 "
    "degrees\n"
    "\n"
    "5. Filters and effects on copies of the brush, and a gradient brush\n"
    "   blurred, swirled, pixelated, rippled, and a gradient from orange to blue\n"
    "   a box with a shadow and a circle, drawn\n"
    "   a sprite made from the brush glides along the top, slowing to its end\n"
    "   a line of text with a bold word and an edge, in the player's own 8-pixel font\n"
    "\n"
    "6. A second window with its own handlers\n"
    "   display 2 takes its own keys, the brush fills it again when it is resized,\n"
    "   and closing it leaves the demo going.\n"
    "\n"
    "7. A tone made from a table of a sine: 440 Hz for a quarter of a second\n"
    "\n"
    "8. Press a key in display 1 or close it to end.\n";

}  // namespace qvtest
