// The error code table, the built-in texts and the message formatter.
#include "core/error_table.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "base/support.h"
#include "core/catalog.h"
#include "core/errors.h"
#include "core/vfile.h"

namespace qv {

namespace {

struct ErrorRow {
  int32_t code;
  const char* name;
  int32_t textId;  // -1: the message is the text argument itself
};

constexpr ErrorRow kErrorRows[] = {
#define QV_ERROR(name, code, textId) {code, #name, textId},
#include "base/errors.def"
#undef QV_ERROR
};

// In id order. "%s" marks where a stored text argument goes, "%ld" a stored number.
// One row per text with its code's name beside it, kept unaligned and unwrapped.
// clang-format off
constexpr qvTextPair kTexts[] = {
    {0, "Out of memory!"},  // ERR_MEM
    {1, "This command is not implemented yet!"},  // ERR_UNIMPLCMD
    {2, "This function does not return a value!"},  // ERR_NORETVAL
    {3, "User abort!"},  // ERR_USERABORT
    {4, "Could not open screen!"},  // ERR_SCREEN
    {5, "Could not write all characters to file!\nCheck if there is enough free space!"},  // ERR_WRITE
    {6, "Unterminated string!"},  // ERR_UNTERMINTDSTR
    {7, "Unknown condition!"},  // ERR_UNKNOWNCOND
    {8, "Missing separator!"},  // ERR_MISSINGSEPARTR
    {9, "Could not read all characters from file!\nCheck if it is read protected!"},  // ERR_READ
    {10, "Could not open window!"},  // ERR_WINDOW
    {11, "Else without If!"},  // ERR_ELSEWOIF
    {12, "EndIf without If!"},  // ERR_ENDIFWOIF
    {13, "If without EndIf!"},  // ERR_IFWOENDIF
    {14, "Not enough arguments!"},  // ERR_MISSINGPARAMTR
    {15, "For without Next!"},  // ERR_FORWONEXT
    {16, "Next without For!"},  // ERR_NEXTWOFOR
    {17, "While without Wend!"},  // ERR_WHILEWOWEND
    {18, "General syntax error!"},  // ERR_SYNTAXERROR
    {19, "Wrong data type specified!"},  // ERR_WRONGDTYPE
    {20, "Syntax error in variable name!"},  // ERR_VARSYNTAX
    {21, "Wend without While!"},  // ERR_WENDWOWHILE
    {22, "Unknown command!"},  // ERR_UNKNOWNCMD
    {23, "Missing bracket!"},  // ERR_MISSINGBRACKET
    {24, "Value expected!"},  // ERR_VALUEEXPECTED
    {25, "Could not open library!"},  // ERR_OPENLIB
    {26, "Variable expected!"},  // ERR_VAREXPECTED
    {27, "Labels are not allowed inside a For loop!"},  // ERR_LABINFOR
    {28, "Labels are not allowed inside an If block!"},  // ERR_LABINIF
    {29, "Labels are not allowed inside a While loop!"},  // ERR_LABINWHILE
    {30, "This operation cannot be used with these data types!"},  // ERR_WRONGOP
    {31, "Could not load icon!"},  // ERR_GETICON
    {32, "Event name expected!"},  // ERR_EVNTEXPCTED
    {33, "Object declaration is empty!"},  // ERR_EMPTYOBJ
    {34, "Script is empty!"},  // ERR_EMPTYSCRIPT
    {35, "Comment is not closed!"},  // ERR_COMMENTSTRUCT
    {36, "This object has already been declared!"},  // ERR_ALRDYDECLRD
    {37, "Invalid floating point number!"},  // ERR_WRONGFLOAT
    {38, "A required field is missing!"},  // ERR_REQUIREFIELD
    {39, "Value is out of range!"},  // ERR_OUTOFRANGE
    {40, "Return without Gosub!"},  // ERR_RETWOGOSUB
    {41, "Requested object not found!"},  // ERR_FINDARRAY
    {42, "Constant not found!"},  // ERR_FINDCST
    {43, "Could not lock file!"},  // ERR_LOCK
    {44, "Cannot load picture %s!"},  // ERR_LOADPICTURE
    {45, "Cannot read file %s !"},  // ERR_READFILE
    {46, "This is not a Protracker module!"},  // ERR_NOTPROTRACKER
    {47, "Unknown control sequence!"},  // ERR_UNKNOWNSEQ
    {48, "Could not lock directory!"},  // ERR_DIRLOCK
    {49, "Keyword expected!"},  // ERR_KEYWORD
    {50, "This feature is not supported by your operating system version!"},  // ERR_OSVERSION
    {51, "Cannot free the BGPic that is currently displayed!"},  // ERR_FREEABGPIC
    {52, "Cannot write to file %s !"},  // ERR_WRITEFILE
    {53, "Wrong version!"},  // ERR_VERSION
    {54, "Function not found!"},  // ERR_NOFUNCTION
    {55, "Wrong usage/parameters for this command!\nRead the documentation!"},  // ERR_WRONGUSAGE
    {56, "This command cannot be used when SelectBGPic() is active!"},  // ERR_SELECTBG
    {57, "Error in array declaration!"},  // ERR_ARRAYDECLA
    {58, "A command cannot be used as a variable!"},  // ERR_CMDASVAR
    {59, "No script filename specified!"},  // ERR_CONFIG
    {60, "Wrong arguments specified!"},  // ERR_ARGS
    {61, "Double declaration!"},  // ERR_DOUBLEDECLA
    {62, "Equal sign expected!"},  // ERR_EQUALEXPECTED
    {63, "Cannot open anim %s!"},  // ERR_OPENANIM
    {65, "Cannot open sound file %s!"},  // ERR_OPENSOUND
    {66, "Internal limit encountered! Contact the author..."},  // ERR_INTERNAL
    {67, "Could not lock shared screen!"},  // ERR_SHAREDSCREEN
    {68, "This brush is linked and cannot be changed!"},  // ERR_BRUSHLINK
    {69, "Wrong object id specified!"},  // ERR_WRONGID
    {70, "Could not open audio driver!"},  // ERR_AUDIODRIVER
    {71, "Variable name is too long!"},  // ERR_VARLENGTH
    {72, "Error in label declaration!"},  // ERR_LABELDECLA
    {73, "Label has already been declared!"},  // ERR_LABELDOUBLE
    {74, "No keywords specified!"},  // ERR_NOKEYWORDS
    {75, "No constants specified!"},  // ERR_NOCONSTANTS
    {76, "Invalid seek position specified!"},  // ERR_SEEK
    {77, "Constant is defined twice!"},  // ERR_CSTDOUBLEDEF
    {78, "This function requires enabled layers!"},  // ERR_NOLAYERS
    {79, "Layers are not supported for this object!"},  // ERR_LAYERSUPPORT
    {80, "Unknown attribute specified!"},  // ERR_UNKNOWNATTR
    {81, "Specified layer is out of range!"},  // ERR_LAYERRANGE
    {82, "This command cannot be used when SelectBrush() is active!"},  // ERR_SELECTBRUSH
    {83, "Unsupported pointer image format!"},  // ERR_POINTERFORMAT
    {84, "Error creating directory %s !"},  // ERR_CREATEDIR
    {85, "Unable to change display size to %s !"},  // ERR_DISPLAYSIZE
    {86, "You cannot specify an initial BGPic together with DISPLAYDESKTOP!"},  // ERR_DISPLAYDESKTOP
    {87, "Could not open graphics library!"},  // ERR_GFXLIBRARY
    {88, "Error during rendering!"},  // ERR_RENDER
    {89, "Division by zero!"},  // ERR_ZERODIVISION
    {90, "A floating point coprocessor is required!"},  // ERR_COPROCESSOR
    {91, "Unknown error code!"},  // ERR_UNKNOWN
    {92, "current line"},
    {93, "Error in string constant!"},  // ERR_STRINGCST
    {94, "OK"},
    {95, "done"},
    {96, "Labels are not allowed inside a function!"},  // ERR_LABINFUNC
    {97, "Opening script %s"},
    {98, "Specified animation frame is out of range!"},  // ERR_ANIMFRAME
    {99, "Preparing display"},
    {100, "Repeat without Until!"},  // ERR_REPEATWOUNTIL
    {101, "Until without Repeat!"},  // ERR_UNTILWOREPEAT
    {102, "Function without EndFunction!"},  // ERR_FUNCWOENDFUNC
    {103, "EndFunction without Function!"},  // ERR_ENDFUNCWOFUNC
    {104, "Unexpected symbol!"},  // ERR_UNEXPECTEDSYM
    {105, "Wrong number of function arguments!"},  // ERR_FUNCARGS
    {106, "Compiling script"},
    {107, "Loading plugin %s"},
    {108, "failed"},
    {109, "No loop to break out of!"},  // ERR_NOLOOP
    {110, "Token expected!"},  // ERR_TOKENEXPECTED
    {111, "Opening bracket expected!"},  // ERR_BRACKETOPEN
    {112, "Closing bracket expected!"},  // ERR_BRACKETCLOSE
    {113, "Opening brace expected!"},  // ERR_BRACEOPEN
    {114, "Closing brace expected!"},  // ERR_BRACECLOSE
    {115, "Opening square bracket expected!"},  // ERR_SQBRACKETOPEN
    {116, "Closing square bracket expected!"},  // ERR_SQBRACKETCLOSE
    {117, "Comma expected!"},  // ERR_NOCOMMA
    {118, "Too many syntax levels!"},  // ERR_SYNTAXLEVELS
    {119, "While condition is too complex!"},  // ERR_COMPLEXWHILE
    {120, "Character expected!"},  // ERR_NOCHAR
    {121, "Character constant is too long!"},  // ERR_CHRCSTLEN
    {122, "Character constant is empty!"},  // ERR_CHRCSTEMPTY
    {123, "Decimal point is not allowed in hexadecimal numbers!"},  // ERR_HEXPOINT
    {124, "Numbers cannot be concatenated!"},  // ERR_NUMCONCAT
    {125, "Too many local variables!"},  // ERR_MAXLOCALS
    {126, "Too many upvalues!"},  // ERR_MAXUPVALS
    {127, "Too many parameters!"},  // ERR_MAXPARAMS
    {128, "Too many items in constructor!"},  // ERR_CONITEMS
    {129, "Too many lines in chunk!"},  // ERR_MAXLINES
    {130, "Expression is too complex!"},  // ERR_COMPLEXEXPR
    {131, "Control structure is too long!"},  // ERR_CTRLSTRUCT
    {132, "Colon expected!"},  // ERR_NOCOLON
    {133, "Case values must be constants!"},  // ERR_CASECST
    {134, "Switch without EndSwitch!"},  // ERR_SWCHWOENDSWCH
    {135, "EndSwitch without Switch!"},  // ERR_ENDSWCHWOSWCH
    {136, "Block without EndBlock!"},  // ERR_BLKWOENDBLK
    {137, "EndBlock without Block!"},  // ERR_ENDBLKWOBLK
    {138, "Numbers and strings cannot be compared!"},  // ERR_NUMSTRCMP
    {139, "These values cannot be concatenated!"},  // ERR_CONCAT
    {140, "Table %s not found!"},  // ERR_TABLEDECLA
    {141, "Function %s not found!"},  // ERR_FUNCDECLA
    {142, "Internal limit reached! Error code %s."},  // ERR_INTERNAL1
    {143, "Stack overflow!"},  // ERR_STACK
    {144, "Not enough memory for the code!"},  // ERR_MEMCODE
    {145, "Not enough memory for the constants!"},  // ERR_MEMCST
    {146, "Number expected in argument %ld!"},  // ERR_NUMEXPECTED
    {147, "String expected in argument %ld!"},  // ERR_STREXPECTED
    {148, "Table expected in argument %ld!"},  // ERR_TABEXPECTED
    {149, "File was opened in read-only mode!"},  // ERR_READONLY
    {150, "File was opened in write-only mode!"},  // ERR_WRITEONLY
    {151, "Could not delete file!"},  // ERR_DELETEFILE
    {152, "Could not examine %s!"},  // ERR_EXAMINE
    {153, "Could not rename file!"},  // ERR_RENAME
    {154, "Specified offset is out of range!"},  // ERR_MEMRANGE
    {155, "This command cannot be used when SelectMask() is active!"},  // ERR_SELECTMASK
    {156, "Attempt to modify the active background!"},  // ERR_MODIFYABG
    {157, "Attempt to modify the active brush!"},  // ERR_MODIFYABR
    {158, "Jumps out of functions are not allowed!"},  // ERR_FUNCJMP
    {159, "Reversed values are not allowed here!"},  // ERR_REVDWORD
    {160, "Could not lock bitmap!"},  // ERR_LOCKBMAP
    {161, "This command does not work on palette screens!"},  // ERR_PALSCREEN
    {162, "Negative coordinates are not allowed here!"},  // ERR_NEGCOORDS
    {163, "Specified layer is not an anim layer!"},  // ERR_NOANMLAYER
    {164, "Brush size does not fit!"},  // ERR_BRUSHSIZE
    {165, "EndWith without With!"},  // ERR_ENDWITHWOWITH
    {166, "With without EndWith!"},  // ERR_WITHWOENDWITH
    {167, "Table field %s was not initialized!"},  // ERR_FIELDINIT
    {168, "Labels are not allowed in the main block!"},  // ERR_LABMAINBLK
    {169, "Layer name was already assigned!"},  // ERR_NAMEUSED
    {170, "This command cannot be used while layers are enabled!"},  // ERR_LAYERSOFF
    {171, "Layers can only be enabled when the display is the output device!"},  // ERR_LAYERSON
    {172, "Continue without a loop!"},  // ERR_NOLOOPCONT
    {173, "Loop level is out of range!"},  // ERR_LOOPRANGE
    {174, "Integer expected!"},  // ERR_INTEXPECTED
    {175, "This command cannot be used when SelectAlphaChannel() is active!"},  // ERR_SELECTALPHACHANNEL
    {176, "Pixel is out of range!"},  // ERR_PIXELRANGE
    {177, "This picture format cannot store an alpha channel!"},  // ERR_DATATYPEALPHA
    {178, "Image \"%s\" does not have an alpha channel!"},  // ERR_NOALPHA
    {179, "Unsupported pixel format!"},  // ERR_PIXELFORMAT
    {180, "This brush does not have a mask!"},  // ERR_NOMASKBRUSH
    {181, "Forever without Repeat!"},  // ERR_FOREVERWOREPEAT
    {182, "Could not find brush %ld!"},  // ERR_FINDBRUSH
    {183, "Could not find text object %ld!"},  // ERR_FINDTEXTOBJECT
    {184, "Could not find anim %ld!"},  // ERR_FINDANIM
    {185, "Could not find BGPic %ld!"},  // ERR_FINDBGPIC
    {186, "Could not find sample %ld!"},  // ERR_FINDSAMPLE
    {187, "Could not find file handle %ld!"},  // ERR_FINDFILE
    {188, "Could not find memory block %ld!"},  // ERR_FINDMEMBLK
    {189, "Could not find timer %ld!"},  // ERR_FINDTIMER
    {190, "Could not find move queue %ld!"},  // ERR_FINDMOVE
    {191, "String or number expected in argument %ld!"},  // ERR_STRORNUM
    {192, "Invalid percent format in argument %ld!"},  // ERR_PERCENTFORMAT
    {193, "Function expected in argument %ld!"},  // ERR_FUNCEXPECTED
    {194, "File"},
    {195, "Unmatched parentheses!"},  // ERR_UNMPARENTHESES
    {196, "This operator cannot be used here!"},  // ERR_WRONGOPCST
    {197, "Could not find button %ld!"},  // ERR_FINDBUTTON
    {198, "Number expected in table argument \"%s\"!"},  // ERR_NUMTABLEARG
    {199, "Callback function must return a number!"},  // ERR_NUMCALLBACK
    {200, "Buttons can only be created on BGPics!"},  // ERR_BGPICBUTTON
    {201, "Invalid hexadecimal number!"},  // ERR_WRONGHEX
    {202, "Too many arguments for this function!"},  // ERR_TOOMANYARGS
    {203, "Could not find interval %ld!"},  // ERR_FINDINTERVAL
    {204, "Could not find timeout %ld!"},  // ERR_FINDTIMEOUT
    {205, "Could not create sound buffer!"},  // ERR_LOADSOUND
    {206, "String expected!"},  // ERR_STRINGEXPECTED
    {207, "Unexpected end of file!"},  // ERR_UNEXPECTEDEOF
    {208, "Bytecode was made for a different virtual machine!"},  // ERR_VMMISMATCH
    {209, "Bad integer in bytecode!"},  // ERR_BADINTEGER
    {210, "Bad upvalue count in bytecode!"},  // ERR_BADUPVALUES
    {211, "Bad constant type in bytecode!"},  // ERR_BADCONSTANT
    {212, "Invalid bytecode!"},  // ERR_BADBYTECODE
    {213, "Bad bytecode signature!"},  // ERR_BADSIGNATURE
    {214, "Unknown number format in bytecode!"},  // ERR_UNKNUMFMT
    {215, "Invalid key for table traversal!"},  // ERR_INVNEXTKEY
    {216, "Table is too big!"},  // ERR_TABLEOVERFLOW
    {217, "Invalid table index!"},  // ERR_TABLEINDEX
    {218, "This applet requires at least Quillvane %s!"},  // ERR_APPLETVERSION
    {219, "Unknown section in applet!"},  // ERR_UNKNOWNSEC
    {220, "%s is no Quillvane applet!"},  // ERR_NOAPPLET
    {221, "Compilation is not possible with QuillvanePlayer!"},  // ERR_PLAYERCOMP
    {222, "File %s does not exist!"},  // ERR_FILEEXIST
    {223, "Wrong magic key!"},  // ERR_MAGICKEY
    {224, "Could not find clip region %ld!"},  // ERR_FINDCLIPREGION
    {225, "This function has been removed!"},  // ERR_FUNCREMOVED
    {226, "Coordinates are out of range!"},  // ERR_COORDSRANGE
    {227, "Width/height values must be greater than 0!"},  // ERR_BADDIMENSIONS
    {228, "Could not find sprite %ld!"},  // ERR_FINDSPRITE
    {229, "Sprite %ld is not on screen!"},  // ERR_SPRITEONSCREEN
    {230, "Unknown preprocessor symbol!"},  // ERR_PREPROCSYM
    {231, "Unknown tag!"},  // ERR_UNKNOWNTAG
    {232, "Mask and alpha channel are mutually exclusive!"},  // ERR_MASKNALPHA
    {233, "This command cannot be used while sprites are on screen!"},  // ERR_NOSPRITES
    {234, "Clip region does not fit into the output device's dimensions!"},  // ERR_WRONGCLIPREG
    {235, "No clip region installed!"},  // ERR_NOCLIPREG
    {236, "Cannot modify a sprite that is on screen!"},  // ERR_MODIFYSPRITE
    {237, "Cannot modify a linked sprite!"},  // ERR_MODIFYSPRITE2
    {238, "Please end double buffering first!"},  // ERR_ENDDOUBLEBUFFER
    {239, "Double buffering is not possible on transparent displays!"},  // ERR_DBTRANSWIN
    {240, "Could not find music %ld!"},  // ERR_FINDMUSIC
    {241, "Music %ld is not currently playing!"},  // ERR_MUSNOTPLYNG
    {242, "Seek position is out of range!"},  // ERR_SEEKRANGE
    {243, "Music and modules cannot be mixed!"},  // ERR_MIXMUSMOD
    {244, "Unknown music format!"},  // ERR_UNKNOWNMUSFMT
    {245, "This music format is not supported!"},  // ERR_MUSFMTSUPPORT
    {246, "Table or Nil expected!"},  // ERR_TABLEORNIL
    {247, "Cannot change a protected metatable!"},  // ERR_PROTMETATABLE
    {248, "Could not create task!"},  // ERR_ADDTASK
    {249, "Error setting up task!"},  // ERR_TASKSETUP
    {250, "Cannot read beyond end of file!"},  // ERR_READRANGE
    {251, "Invalid backfill settings!"},  // ERR_BACKFILL
    {252, "Double buffering mode is not currently active!"},  // ERR_NODOUBLEBUFFER
    {253, "Specified length exceeds string length!"},  // ERR_STRTOOSHORT
    {254, "An error occurred while processing the gfx cache!"},  // ERR_CACHEERROR
    {255, "String expected in table argument \"%s\"!"},  // ERR_STRTABLEARG
    {256, "Error in applet!"},  // ERR_APPLET
    {257, "%s is not a directory!"},  // ERR_NOTADIR
    {258, "Text format tag after square bracket not recognized!"},  // ERR_UNKTEXTFMT
    {259, "Syntax error in text format specification!"},  // ERR_TEXTSYNTAX
    {260, "Not enough arguments to this text format tag!"},  // ERR_TEXTARG
    {261, "Could not open default font!"},  // ERR_DEFFONT
    {262, "This font type does not support anti-aliased output!"},  // ERR_ANTIALIAS
    {263, "Could not create port!"},  // ERR_CREATEPORT
    {264, "No script host available!"},  // ERR_NOSCRIPTHOST
    {265, "Error in script host!"},  // ERR_SCRIPTHOSTERR
    {266, "Callback function must return a string!"},  // ERR_STRCALLBACK
    {267, "Port is not available!"},  // ERR_PORTNOTAVAIL
    {268, "Invalid IFF 8SVX file!"},  // ERR_BAD8SVX
    {269, "This compression type is not supported!"},  // ERR_CMPUNSUPPORTED
    {270, "Invalid RIFF WAVE file!"},  // ERR_BADWAVE
    {271, "Music is not paused!"},  // ERR_MUSNOTPAUSED
    {272, "Unknown executable type specified!"},  // ERR_EXETYPE
    {273, "Could not open audio device!"},  // ERR_OPENAUDIO
    {274, "Error saving file in this format!"},  // ERR_DATATYPESAVE
    {275, "This format cannot be saved!"},  // ERR_DATATYPESAVE2
    {276, "Could not load animation frame!"},  // ERR_LOADFRAME
    {277, "This command cannot be used with enabled layers!"},  // ERR_LAYERSUPPORT2
    {278, "Syntax error in short If statement!"},  // ERR_SHORTIF
    {279, "Your system is too old for this feature!"},  // ERR_SYSTOOOLD
    {280, "In function"},
    {281, "Key not found!"},  // ERR_KEYNOTFOUND
    {282, "Could not find port %s!"},  // ERR_FINDPORT
    {283, "Value is too small!"},  // ERR_TOOSMALL2
    {284, "Error saving PNG picture!"},  // ERR_SAVEPNG
    {285, "This feature requires a newer operating system!"},  // ERR_NOTIGER
    {286, "Opening file %s"},
    {287, "Loading applet %s"},
    {288, "Please select desired display mode!"},
    {289, "This stream cannot be loaded as a sample!"},  // ERR_STREAMASSAMPLE
    {290, "Error setting up audio converter!"},  // ERR_AUDIOCONVERTER
    {291, "Error in render callback!"},  // ERR_RENDERCALLBACK
    {292, "Error setting file attributes!"},  // ERR_SETFILEATTR
    {293, "Error setting file date!"},  // ERR_SETFILEDATE
    {294, "Error setting file comment!"},  // ERR_SETFILECOMMENT
    {295, "Invalid date format specification!"},  // ERR_INVALIDDATE
    {296, "Error locking %s!"},  // ERR_LOCK2
    {297, "Could not create thread!"},  // ERR_THREAD
    {298, "This feature is not supported on this platform!"},  // ERR_UNSUPPORTEDFEAT
    {299, "Could not allocate audio channel for this sound!"},  // ERR_NOCHANNEL
    {300, "Error creating event object!"},  // ERR_CREATEEVENT
    {301, "Error setting up sound notification!"},  // ERR_DSOUNDNOTIFY
    {302, "Error setting sound notification position!"},  // ERR_DSOUNDNOTIPOS
    {303, "Error starting sound playback!"},  // ERR_DSOUNDPLAY
    {304, "Could not read audio file properties!"},  // ERR_AFILEPROP
    {305, "Error setting up DirectShow environment! (#%ld)"},  // ERR_DIRECTSHOW
    {306, "Could not register window class!"},  // ERR_REGCLASS
    {307, "Cancel"},
    {308, "Could not start timer!"},  // ERR_TIMER
    {309, "Error allocating semaphore object!"},  // ERR_SEMAPHORE
    {310, "Quillvane currently only supports 8 or 16 bit sounds!"},  // ERR_8OR16BITONLY
    {311, "This command cannot be used while the display is minimized!"},  // ERR_DISPMINIMIZED
    {312, "Could not install hotkey service!"},  // ERR_HOTKEYSERVICE
    {313, "Could not create message port!"},  // ERR_MSGPORT
    {314, "Error converting text!"},  // ERR_TEXTCONVERT
    {315, "Error in text rendering service!"},  // ERR_ATSUI
    {316, "Syntax error in link file database!"},  // ERR_LFSYNTAX
    {317, "A zlib IO error occurred!"},  // ERR_ZLIBIO
    {318, "A zlib stream error occurred!"},  // ERR_ZLIBSTREAM
    {319, "Invalid zlib version detected!"},  // ERR_ZLIBVERSION
    {320, "Invalid or incomplete deflate data (zlib)!"},  // ERR_ZLIBDATA
    {321, "Unknown compression format!"},  // ERR_PAKFORMAT
    {322, "Specified layer is not a text layer!"},  // ERR_NOTXTLAYER
    {323, "Auto scaling cannot be used together with DISPLAYDESKTOP!"},  // ERR_DDAUTOSCALE
    {324, "Layers cannot be disabled while the layer scaling engine is active!"},  // ERR_NODISLAYERS
    {325, "Cannot modify object while it is locked!"},  // ERR_LOCKEDOBJ
    {326, "Error writing JPEG picture!"},  // ERR_WRITEJPEG
    {327, "Video recording is not possible together with DISPLAYDESKTOP!"},  // ERR_DDRECVIDEO
    {328, "This command cannot be used in video recording mode!"},  // ERR_WRONGCMDRECVIDEO
    {329, "Could not find directory handle %ld!"},  // ERR_FINDDIR
    {330, "This music is not currently playing!"},  // ERR_MUSNOTPLYNG2
    {331, "Could not find pointer image %ld!"},  // ERR_FINDPOINTER
    {332, "Could not create pointer image!"},  // ERR_POINTERIMG
    {333, "Cannot find Quillvane function at this offset!"},  // ERR_READFUNC
    {334, "Invalid Base64 encoding!"},  // ERR_BADBASE64
    {335, "Specified function is not a user function!"},  // ERR_NOQVFUNC
    {336, "Sprite is not on screen!"},  // ERR_SPRITEONSCREEN2
    {337, "Could not find async draw function %ld!"},  // ERR_FINDASYNCDRAW
    {338, "Cannot free the pointer image that is currently in use!"},  // ERR_FREECURPOINTER
    {339, "Cannot find Quillvane table at this offset!"},  // ERR_READTABLE
    {340, "Layers cannot be switched while async drawing is in progress!"},  // ERR_LAYERSWITCH
    {341, "Unknown video strategy!"},  // ERR_VIDEOSTRATEGY
    {342, "This video strategy cannot be used here!"},  // ERR_WRONGVSTRATEGY
    {343, "Could not find font %s!"},  // ERR_FINDFONT
    {344, "Error linking font!"},  // ERR_LINKFONT
    {345, "Could not find font %ld!"},  // ERR_FINDFONT2
    {346, "Font specification must not be a file!"},  // ERR_FONTPATH
    {347, "Unsupported font format!"},  // ERR_FONTFORMAT
    {348, "You cannot use coordinate constants here!"},  // ERR_NOCOORDCST
    {349, "This command cannot be used with disk-based anims!"},  // ERR_ANIMDISK
    {350, "This command cannot be used when SelectAnim() is active!"},  // ERR_SELECTANIM
    {351, "Cannot modify an anim that is used by a transition effect!"},  // ERR_MODIFYAANIM
    {352, "Could not find anim stream %ld!"},  // ERR_FINDANIMSTREAM
    {353, "This feature requires a newer operating system version!"},  // ERR_NEEDOSVERSION2
    {354, "Alpha channels cannot be used in this screen mode!"},  // ERR_SMODEALPHA
    {355, "Could not find display %ld!"},  // ERR_FINDDISPLAY
    {356, "Cannot use the a single BGPic for multiple displays!"},  // ERR_MULTIBGPIC
    {357, "Cannot free the current display!"},  // ERR_FREEADISPLAY
    {358, "Cannot use this function while display is closed!"},  // ERR_CLOSEDDISPDRAW
    {359, "Could not add tray icon!"},  // ERR_ADDAPPICON
    {360, "Invalid screen size!"},  // ERR_SCREENSIZE
    {361, "All displays must use the same color depth!"},  // ERR_DIFFDEPTH
    {362, "Video recording is not possible with multiple displays!"},  // ERR_VIDRECMULTI
    {363, "Cannot use transparent displays while in video recording mode!"},  // ERR_VIDRECTRANS
    {364, "This feature is not available on your operating system version!"},  // ERR_NEEDOSVERSION3
    {365, "Could not get system image!"},  // ERR_SYSIMAGE
    {366, "Could not create system button!"},  // ERR_SYSBUTTON
    {367, "Animation file \"%s\" is in an unknown/unsupported format!"},  // ERR_OPENANIM2
    {368, "Sound file \"%s\" is in an unknown/unsupported format!"},  // ERR_OPENSOUND2
    {369, "Picture file \"%s\" is in an unknown/unsupported format!"},  // ERR_LOADPICTURE2
    {370, "Could not create signal!"},  // ERR_SIGNAL
    {371, "Could not add application window!"},  // ERR_ADDAPPWIN
    {372, "And Action!"},
    {373, "Unknown clipboard format!"},  // ERR_CLIPFORMAT
    {374, "Invalid comparison function for sorting!"},  // ERR_SORTFUNC
    {375, "Syntax error in configuration file!"},  // ERR_INISYNTAX
    {376, "Failed to open clipboard!"},  // ERR_CLIPOPEN
    {377, "Failed to read from clipboard!"},  // ERR_CLIPREAD
    {378, "Cannot change size of a BGPic that is selected into a display!"},  // ERR_SCALEBGPIC
    {379, "This BGPic is already shown by another display!"},  // ERR_SELECTBGPIC
    {380, "Failed to write to clipboard!"},  // ERR_CLIPWRITE
    {381, "Cannot find layer \"%s\" in current BGPic!"},  // ERR_FINDLAYER
    {382, "Invalid insert position specified!"},  // ERR_INVINSERT
    {383, "This layer is already used by an async draw object!"},  // ERR_ALREADYASYNC
    {384, "Cannot remove layer while it is used by an async draw object!"},  // ERR_REMADLAYER
    {385, "Specified name is too long!"},  // ERR_NAMETOOLONG
    {386, "Group name is already in use!"},  // ERR_GROUPNAMEUSED
    {387, "Error reading from registry key %s!"},  // ERR_REGISTRYREAD
    {388, "Error writing to registry key %s!"},  // ERR_REGISTRYWRITE
    {389, "Cannot modify the graphics of a BGPic associated with a display!"},  // ERR_SELECTBGPIC2
    {390, "Attempt to modify the BGPic currently selected as output device!"},  // ERR_MODIFYABGPIC
    {391, "This async draw object belongs to a different display!"},  // ERR_ADFWRONGDISP
    {392, "Cannot free a display that is used by an async draw object!"},  // ERR_ADFFREEDISP
    {393, "Sprites cannot be linked here!"},  // ERR_SPRITELINK
    {394, "All sprite frames must have the same size!"},  // ERR_WRONGSPRITESIZE
    {395, "Cannot trim brush because it is fully transparent!"},  // ERR_TRANSBRUSH
    {396, "Error initializing input devices!"},  // ERR_DINPUT
    {397, "Error accessing joystick!"},  // ERR_JOYSTICK
    {398, "Error initializing freetype2!"},  // ERR_FT2
    {399, "Invalid icon dimensions!"},  // ERR_ICONDIMS
    {400, "This operation is not supported by the specified brush type!"},  // ERR_BRUSHTYPE
    {401, "Cannot insert a transformed vector brush as a layer!\nUse draw tags instead of transforming the brush directly!"},  // ERR_TFVBRUSH
    {402, "This operation is not supported by the specified BGPic type!"},  // ERR_BGPICTYPE
    {403, "Cannot convert a transformed vector brush into a BGPic!"},  // ERR_TFVBRUSHBGPIC
    {404, "Cannot convert a transformed vector BGPic into a brush!"},  // ERR_TFVBGPICBRUSH
    {405, "Could not find path %ld!"},  // ERR_FINDPATH
    {406, "Path is empty!"},  // ERR_EMPTYPATH
    {407, "Only fonts of the inbuilt font engine can be used here!"},  // ERR_VFONTTYPE
    {408, "Could not create vector font!"},  // ERR_VFONT
    {409, "Could not create shortcut!"},  // ERR_CREATESHORTCUT
    {410, "Access denied!"},  // ERR_NOACCESS
    {411, "This function is not available on this platform!"},  // ERR_BADPLATFORM
    {412, "This plugin requires at least Quillvane %s!"},  // ERR_NEWQVPLUGIN
    {413, "Wrong plugin version!"},  // ERR_PLUGINVER
    {414, "This plugin was made for a different architecture!"},  // ERR_PLUGINARCH
    {415, "Error in image data in file %s!"},  // ERR_IMAGEERROR
    {416, "Cannot render layer because it is attached to async draw object!"},  // ERR_RENDERADLAYER
    {417, "No joystick found at this port!"},  // ERR_NOJOYATPORT
    {418, "Could not find connection %ld!"},  // ERR_FINDCLIENT
    {419, "The following network error occurred:\n%s"},  // ERR_SOCKET
    {420, "Could not initialize base socket interface!"},  // ERR_OPENSOCKET
    {421, "Could not find server %ld!"},  // ERR_FINDSERVER
    {422, "Error setting socket option!"},  // ERR_SOCKOPT
    {423, "Could not get peer name!"},  // ERR_PEERNAME
    {424, "Could not get host name!"},  // ERR_HOSTNAME
    {425, "Unknown protocol in URL!"},  // ERR_UNKPROTOCOL
    {426, "Invalid URL specified!"},  // ERR_BADURL
    {427, "HTTP error %ld occurred!"},  // ERR_HTTPERROR
    {428, "Unsupported HTTP transfer mode!"},  // ERR_HTTPTE
    {429, "An error occurred during data send!"},  // ERR_SENDDATA
    {430, "FTP error %ld occurred!"},  // ERR_FTPERROR
    {431, "Receive timeout reached!"},  // ERR_RECVTIMEOUT
    {432, "Remote server has closed the connection!"},  // ERR_RECVCLOSED
    {433, "Unknown error occurred during data receive!"},  // ERR_RECVUNKNOWN
    {434, "File %s not found on this server!"},  // ERR_FILENOTFOUND
    {435, "Access denied for specified user/password!"},  // ERR_FTPAUTH
    {436, "No permission to upload file to %s!"},  // ERR_UPLOADFORBIDDEN
    {437, "Could not get socket name!"},  // ERR_SOCKNAME
    {438, "Could not find UDP object %ld!"},  // ERR_FINDUDPOBJECT
    {439, "Invalid IP specified!"},  // ERR_BADIP
    {440, "Could not open connection to the X display!"},  // ERR_XDISPLAY
    {441, "Could not create graphics context!"},  // ERR_CREATEGC
    {442, "Could not create pipe!"},  // ERR_PIPE
    {443, "Error initializing the GTK toolkit!"},  // ERR_GTK
    {444, "This feature requires a compositing window manager!"},  // ERR_NEEDCOMPOSITE
    {445, "Full screen|Windowed"},
    {446, "No ARGB visual available!"},  // ERR_NOARGBVISUAL
    {447, "The XFixes extension is required for this feature!"},  // ERR_XFIXES
    {448, "Could not create X cursor!"},  // ERR_XCURSOR
    {449, "Error opening ALSA PCM device!"},  // ERR_ALSAPCM
    {450, "Error setting environment variable!"},  // ERR_SETENV
    {451, "Error removing environment variable!"},  // ERR_UNSETENV
    {452, "The XF86VidMode extension is required for this feature!"},  // ERR_XF86VIDMODEEXT
    {453, "No display modes available!"},  // ERR_NODISPMODES
    {454, "Filter \"%s\" not recognized!"},  // ERR_UNKNOWNFILTER
    {455, "Missing filter name in table field %s!"},  // ERR_NOFILTERNAME
    {456, "Subtable expected in table \"%s\"!"},  // ERR_TABEXPECTED2
    {457, "Sample value is out of range!"},  // ERR_SMPRANGE
    {458, "Not enough pixels for this operation!"},  // ERR_NOTENOUGHPIXELS
    {459, "Could not find video %ld!"},  // ERR_FINDVIDEO
    {460, "Cannot load video %s!"},  // ERR_LOADVIDEO
    {461, "Video is not currently playing!"},  // ERR_VIDNOTPLAYING
    {462, "Video is not paused!"},  // ERR_VIDNOTPAUSED
    {463, "Unsupported color space!"},  // ERR_COLORSPACE
    {464, "Error in the video framework!"},  // ERR_QUICKTIME
    {465, "This command cannot be used while a video is attached to the display!"},  // ERR_VIDATTACHED
    {466, "Frames can only be grabbed from stopped videos!"},  // ERR_FGRABVIDSTATE
    {467, "Specified video frame is out of range!"},  // ERR_VIDEOFRAME
    {468, "Videos cannot be played on transparent backgrounds!"},  // ERR_VIDEOTRANS
    {469, "This function requires a vector graphics plugin!"},  // ERR_VECGFXPLUGIN
    {470, "Invalid capture index!"},  // ERR_INVCAPIDX
    {471, "Invalid pattern capture!"},  // ERR_INVPATCAP
    {472, "Malformed pattern (ends with a single escape character)!"},  // ERR_MALFORMPAT1
    {473, "Malformed pattern (missing ']')!"},  // ERR_MALFORMPAT2
    {474, "Unbalanced pattern!"},  // ERR_UNBALANCEDPAT
    {475, "Too many captures!"},  // ERR_TOOMANYCAPTURES
    {476, "Missing '[' after the frontier pattern item!"},  // ERR_MISSINGOPBRACK
    {477, "Unfinished capture!"},  // ERR_UNFINISHEDCAPTURE
    {478, "Error transforming image!"},  // ERR_TFIMAGE
    {479, "Error drawing path!"},  // ERR_DRAWPATH
    {480, "This feature is not available on mobile devices!"},  // ERR_MOBILE
    {481, "DISPLAYDESKTOP is not available on mobile devices!"},  // ERR_DDMOBILE
    {482, "Multiple displays are not available on mobile devices!"},  // ERR_MULDISMOBILE
    {483, "Transparent BGPics are not available on mobile devices!"},  // ERR_TRANSBGMOBILE
    {484, "Cannot modify a sample while it is playing!"},  // ERR_MODIFYPSMP
    {485, "Callback function must return a table!"},  // ERR_TABCALLBACK
    {486, "Callback function returned an invalid value!"},  // ERR_BADCALLBACKRET
    {487, "This command cannot be used inside a callback!"},  // ERR_NOCALLBACK
    {488, "Frequency is too low!"},  // ERR_LOWFREQ
    {489, "Could not find layer data item %s!"},  // ERR_FINDLAYERDATA
    {490, "Filter patterns can only be used on directories!"},  // ERR_NODIRPATTERN
    {491, "Seeking is not supported for this format!"},  // ERR_SEEKFORMAT
    {492, "Plugin type not recognized! (%s)"},  // ERR_PLUGINTYPE
    {493, "This command can only be used inside a music callback!"},  // ERR_NOMUSICCB
    {494, "No FillMusicBuffer event handler installed!"},  // ERR_NOFMBHANDLER
    {495, "Unknown image format specified!"},  // ERR_UNKNOWNIMGOUT
    {496, "Error saving image!"},  // ERR_SAVEIMAGE
    {497, "Unknown anim format specified!"},  // ERR_UNKNOWNANMOUT
    {498, "Error saving anim!"},  // ERR_SAVEANIM
    {499, "Unknown sample format specified!"},  // ERR_UNKNOWNSMPOUT
    {500, "Error saving sample!"},  // ERR_SAVESAMPLE
    {501, "Userdata expected in argument %ld!"},  // ERR_UDEXPECTED
    {502, "Assertion failed!"},  // ERR_ASSERTFAILED
    {503, "This program requires %s!"},  // ERR_REQUIREPLUGIN
    {504, "Absolute path expected!"},  // ERR_NOABSPATH
    {505, "Could not find object data item %s!"},  // ERR_FINDOBJECTDATA
    {506, "Hardware brushes cannot be used here!"},  // ERR_HWBRUSH
    {507, "This function cannot be used with hardware brushes!"},  // ERR_HWBRUSHFUNC
    {508, "This saver does not support alpha channels!"},  // ERR_SAVERALPHA
    {509, "Video is paused!"},  // ERR_VIDPAUSED
    {510, "Video is playing!"},  // ERR_VIDPLAYING
    {511, "Invalid percent format in table argument \"%s\"!"},  // ERR_PERCENTFORMATSTR
    {512, "Unsupported screen pixel format!"},  // ERR_SCRPIXFMT
    {513, "Cannot free a display that has satellites!"},  // ERR_SATFREEDISP
    {514, "Could not create icon!"},  // ERR_CREATEICON
    {515, "Could not resolve shortcut!"},  // ERR_GETSHORTCUT
    {516, "Unknown MIME type!"},  // ERR_UNKNOWNMIMETYPE
    {517, "No viewer available for this MIME type!"},  // ERR_NOMIMEVIEWER
    {518, "Opening font %s"},
    {519, "Loading sample %s"},
    {520, "Loading music %s"},
    {521, "Loading video %s"},
    {524, "Open the display in a window."},  // help of option WINDOW
    {525, "Open the window without a border."},  // help of option BORDERLESS
    {526, "Let the user resize the window."},  // help of option SIZEABLE
    {527, "Keep the window at a fixed position."},  // help of option FIXED
    {528, "Do not allow the window to be hidden."},  // help of option NOHIDE
    {529, "Open the display in full screen mode."},  // help of option FULLSCREEN
    {530, "Cover the desktop with a borderless window instead of changing the screen mode."},  // help of option FAKEFULLSCREEN
    {531, "Open the display on a screen of its own."},  // help of option OWNSCREEN
    {532, "Width of the screen in full screen mode."},  // help of option SCRWIDTH
    {533, "Height of the screen in full screen mode."},  // help of option SCRHEIGHT
    {534, "Color depth of the screen in full screen mode."},  // help of option DEPTH
    {535, "Hide the mouse pointer."},  // help of option HIDEPOINTER
    {536, "Do not allow switching between window and full screen mode."},  // help of option NOMODESWITCH
    {537, "Backfill type of the screen around the display."},  // help of option BACKFILL
    {538, "Start color of a gradient backfill."},  // help of option STARTCOLOR
    {539, "End color of a gradient backfill."},  // help of option ENDCOLOR
    {540, "Picture file used as texture backfill."},  // help of option BRUSHFILE
    {541, "Picture file shown as picture backfill."},  // help of option BRUSH
    {542, "Scale the backfill picture to the screen size."},  // help of option SCALEPICTURE
    {543, "Horizontal position of the backfill picture."},  // help of option PICXPOS
    {544, "Vertical position of the backfill picture."},  // help of option PICYPOS
    {545, "Transparent color of the backfill picture."},  // help of option PICTRANS
    {546, "Hide the title bar of the window."},  // help of option HIDETITLEBAR
    {547, "Compile the script into an applet or executable."},  // help of option COMPILE
    {548, "Platforms to compile executables for."},  // help of option EXETYPE
    {549, "Compress the compiled applet."},  // help of option COMPRESS
    {550, "Overwrite existing files when compiling."},  // help of option OVERWRITE
    {551, "Keep the compiled program from being configured on the command line."},  // help of option LOCKSETTINGS
    {552, "Database of files to link into the compiled program."},  // help of option LINKFILES
    {553, "Database of fonts to link into the compiled program."},  // help of option LINKFONTS
    {554, "Icon of 16x16 pixels for the compiled program."},  // help of option ICON16X16
    {555, "Icon of 24x24 pixels for the compiled program."},  // help of option ICON24X24
    {556, "Icon of 32x32 pixels for the compiled program."},  // help of option ICON32X32
    {557, "Icon of 48x48 pixels for the compiled program."},  // help of option ICON48X48
    {558, "Icon of 128x128 pixels for the compiled program."},  // help of option ICON128X128
    {559, "Icon of 256x256 pixels for the compiled program."},  // help of option ICON256X256
    {560, "Icon of 512x512 pixels for the compiled program."},  // help of option ICON512X512
    {566, "Scale the whole display output to a new size."},  // help of option AUTOSCALE
    {567, "Scale every layer to a new size."},  // help of option LAYERSCALE
    {568, "Width of the scaled display."},  // help of option SCALEWIDTH
    {569, "Height of the scaled display."},  // help of option SCALEHEIGHT
    {570, "Use interpolation when scaling."},  // help of option SMOOTHSCALE
    {571, "Keep the proportions of the display when scaling."},  // help of option KEEPPROPORTIONS
    {572, "Fit the scaled display into the screen."},  // help of option FITSCALE
    {573, "Write the names of all commands to a file."},  // help of option EXPORTCOMMANDS
    {574, "Write the names of all constants to a file."},  // help of option EXPORTCONSTANTS
    {582, "Write the list of loaded plugins to a file."},  // help of option EXPORTPLUGINS
    {584, "Display options"},  // help section
    {585, "Screen options"},  // help section
    {586, "Backfill options"},  // help section
    {587, "Compiler options"},  // help section
    {588, "Icon options"},  // help section
    {589, "Scaling options"},  // help section
    {590, "Export options"},  // help section
    {614, "Cannot load plugin %s!"},  // ERR_LOADPLUGIN
    {616, "(Reason: %s)\n"},
    {648, "Miscellaneous options"},  // help section
    {649, "Do not print status messages."},  // help of option QUIET
    {650, "Switch off sound output."},  // help of option NOSOUND
    {651, "Plugins that are not to be loaded."},  // help of option SKIPPLUGINS
    {668, "Device that receives the debug output."},  // help of option DEBUGDEVICE
};
// clang-format on

constexpr bool RowsSorted() {
  for (size_t i = 1; i < std::size(kErrorRows); ++i) {
    if (kErrorRows[i - 1].code >= kErrorRows[i].code) return false;
  }
  for (size_t i = 1; i < std::size(kTexts); ++i) {
    if (kTexts[i - 1].id >= kTexts[i].id) return false;
  }
  return kTexts[std::size(kTexts) - 1].id <= kLastTextId;
}
static_assert(RowsSorted(), "the tables are searched by halving");
static_assert(std::size(kErrorRows) == 506, "ERR_NONE and the 505 built-in codes");

// File-reading and file-format errors show only the file part of a stored path.
bool ShowsFilePart(int32_t code) {
  switch (code) {
    case ERR_LOADPICTURE:
    case ERR_READFILE:
    case ERR_OPENSOUND:
    case ERR_NOALPHA:
    case ERR_OPENANIM2:
    case ERR_OPENSOUND2:
    case ERR_LOADPICTURE2:
    case ERR_IMAGEERROR:
      return true;
    default:
      return false;
  }
}

std::vector<std::string>& DeclaredErrors() {
  static std::vector<std::string> list;
  return list;
}

// Appends to a bounded buffer, dropping what does not fit.
struct Writer {
  char* out;
  size_t size;
  size_t len = 0;
  void Put(char c) {
    if (len + 1 < size) out[len++] = c;
  }
  void Put(const char* s) {
    while (*s) Put(*s++);
  }
};

enum class Insert { kText, kNumber };

// Formats `text` with one kind of argument. Only "%s" (text) or "%d"/"%ld" (number) and "%%"
// are conversions; any other "%" sequence is copied as it stands, because the text may come from
// a catalog file or a script and must never drive a printf of its own.
void Substitute(Writer& w, const char* text, Insert kind, const char* textArg, int32_t number) {
  char digits[16];
  std::snprintf(digits, sizeof(digits), "%ld", static_cast<long>(number));
  for (const char* p = text; *p;) {
    if (p[0] == '%') {
      if (p[1] == '%') {
        w.Put('%');
        p += 2;
        continue;
      }
      if (kind == Insert::kText && p[1] == 's') {
        w.Put(textArg);
        p += 2;
        continue;
      }
      if (kind == Insert::kNumber && p[1] == 'd') {
        w.Put(digits);
        p += 2;
        continue;
      }
      if (kind == Insert::kNumber && p[1] == 'l' && p[2] == 'd') {
        w.Put(digits);
        p += 3;
        continue;
      }
    }
    w.Put(*p++);
  }
}

}  // namespace

std::span<const qvErrorName> ErrorNames() {
  static const std::vector<qvErrorName> names = [] {
    std::vector<qvErrorName> v;
    for (const ErrorRow& row : kErrorRows) v.push_back({row.code, row.name});
    return v;
  }();
  return names;
}

std::span<const qvTextPair> BuiltinTexts() { return kTexts; }

int32_t ErrorTextId(int32_t code) {
  auto it = std::lower_bound(std::begin(kErrorRows), std::end(kErrorRows), code,
                             [](const ErrorRow& row, int32_t c) { return row.code < c; });
  if (it == std::end(kErrorRows) || it->code != code || code == ERR_NONE) return kTextUnknownError;
  return it->textId;
}

const char* GetBuiltinText(int32_t id) {
  auto it = std::lower_bound(std::begin(kTexts), std::end(kTexts), id,
                             [](const qvTextPair& pair, int32_t i) { return pair.id < i; });
  return it != std::end(kTexts) && it->id == id ? it->text : nullptr;
}

const char* GetErrorText(int32_t id) {
  return LookupCatalogString(GetPlayerCatalog(), id, GetBuiltinText(id));
}

int32_t RegisterErrorName(const char* text) {
  try {
    auto& list = DeclaredErrors();
    list.emplace_back(text ? text : "");
    return kFirstDeclaredError + static_cast<int32_t>(list.size()) - 1;
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
}

const char* GetDeclaredErrorText(int32_t code) {
  const auto& list = DeclaredErrors();
  if (code < kFirstDeclaredError) return nullptr;
  size_t index = static_cast<size_t>(code - kFirstDeclaredError);
  return index < list.size() ? list[index].c_str() : nullptr;
}

void FreeDeclaredErrors() { std::vector<std::string>().swap(DeclaredErrors()); }

size_t FormatErrorTextWith(int32_t code, const char* textArg, int32_t numberArg, char* out,
                           size_t size) {
  if (size == 0) return 0;
  if (!textArg) textArg = "";
  Writer w{out, size};
  const char* text = nullptr;
  if (code > kLastBuiltinError) {
    text = GetDeclaredErrorText(code);
  } else {
    int32_t id = ErrorTextId(code);
    if (id < 0) {
      w.Put(textArg);
      out[w.len] = 0;
      return w.len;
    }
    text = GetErrorText(id);
  }
  if (!text) text = GetErrorText(kTextUnknownError);
  if (!text) text = "";

  if (std::strstr(text, "%s")) {
    const char* arg = textArg;
    if (IsVirtualName(arg) || ShowsFilePart(code)) arg = GetDisplayName(arg);
    Substitute(w, text, Insert::kText, arg, numberArg);
  } else if (std::strstr(text, "%d") || std::strstr(text, "%ld")) {
    Substitute(w, text, Insert::kNumber, textArg, numberArg);
  } else {
    w.Put(text);
  }
  out[w.len] = 0;
  return w.len;
}

void FormatErrorText(int32_t code, char* out, size_t size) {
  FormatErrorTextWith(code, GetErrorString(), GetErrorNumber(), out, size);
}

size_t FormatTextArgument(const char* text, const char* textArg, char* out, size_t size) {
  if (size == 0) return 0;
  Writer w{out, size};
  Substitute(w, text ? text : "", Insert::kText, textArg ? textArg : "", 0);
  out[w.len] = 0;
  return w.len;
}

}  // namespace qv
