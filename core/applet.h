// The applet container ("QVA\0" tagged records), the compressed container ("QVZ\0") and the link
// descriptor through which the player finds an applet appended to its own executable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/player_state.h"
#include "core/vfile.h"

namespace qv {

// The link descriptor: 45 bytes inside the executable. Bytes 0-31 hold the marker text, 32-35
// the big-endian offset of an appended applet (kNoLinkedApplet when none), 36-43 the marker
// bytes C0 DE CA FE C0 CA C0 1A, 44 a zero. A tool that appends an applet patches bytes 32-35
// in a copy of the player.
constexpr size_t kLinkDescriptorSize = 45;
constexpr size_t kLinkOffsetAt = 32;
constexpr uint32_t kNoLinkedApplet = 0xDEADC0DE;

// The offset of the applet appended to this program, or nothing.
std::optional<uint32_t> LinkedAppletOffset();

// The newest applet version this player reads.
constexpr int kAppletVersionMajor = 5;
constexpr int kAppletVersionMinor = 2;

// What the applet reader needs from the rest of start-up. Empty members are skipped.
struct qvAppletHost {
  std::function<void(const char* name)> opening;  // status "Opening script <name>..."
  std::function<void()> done;                     // status "done"
  std::function<std::string()> tempFileName;      // a temporary file deleted at shutdown
};

// Finds and reads the applet named by the state's script path (at the state's applet offset),
// unpacking a compressed container into a temporary file first. The script path is a name of
// the file layer (core/vfile.h: "\" separators, "PROGDIR:"); it is made absolute (and the
// temporary file after unpacking), and the script's directory becomes the current directory.
// Once read, the temporary file is deleted unless linked files or declarations with linked data
// name it as their container (the script path keeps its name either way).
// A failure that names a file or a version stores it as the error's text argument.
// Returns 0; ERR_ARGS when the absolute path does not fit; ERR_FILEEXIST when the script does
// not open, ERR_READFILE when it does not open again; ERR_NOAPPLET; ReadApplet's codes; or an
// unpacking error (ERR_MEM, ERR_READ, ERR_WRITEFILE, ERR_USERABORT, ERR_ZLIBIO to
// ERR_PAKFORMAT).
int OpenApplet(qvAppletSettings* settings, qvPlayerState* state, const qvAppletHost& host);

// Reads the records of an applet whose magic starts at the file's position; `appletOffset` is that
// position in the container file `containerPath`. Stops after the main chunk. Returns 0, ERR_MEM,
// ERR_UNEXPECTEDEOF (end of file inside a record or where a tag is expected), ERR_APPLETVERSION
// (applet too new) or ERR_UNKNOWNSEC (unknown tag). Each error leaves the settings partly filled.
int ReadApplet(qvFile* file, const char* containerPath, uint64_t appletOffset,
               qvAppletSettings* settings, int callerFlag);

// Puts the display settings into their "unset" state.
void ResetDisplaySettings(qvAppletSettings* settings);

// The script machine's side of the applet's labels and user constants.
class qvAppletNameSink {
 public:
  virtual ~qvAppletNameSink() = default;
  virtual void SetLabel(const qvAppletLabel& label) = 0;             // registry "labels"
  virtual void SetUserConstant(const qvUserConstant& constant) = 0;  // registry "userconstants"
};

// Hands the labels and user constants read from the applet to the script machine, in the order
// they were read, and empties both lists.
void MoveAppletNamesToVm(qvAppletSettings* settings, qvAppletNameSink& vm);

}  // namespace qv
