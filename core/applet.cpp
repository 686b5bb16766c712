#include "core/applet.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "core/compress.h"
#include "core/error_table.h"
#include "core/errors.h"
#include "core/vfile.h"
#include "platform/files.h"

namespace qv {

// One contiguous initialised object that stays in the executable's data, so that a tool can
// find it by its marker bytes and patch the offset in place. Being volatile, every read goes to
// memory: the compiler can never fold the offset into the code.
extern const volatile unsigned char qvLinkDescriptor[kLinkDescriptorSize];
__attribute__((used)) const volatile unsigned char qvLinkDescriptor[kLinkDescriptorSize] =
    "Brellcombe Interactive Studios\0\0\xDE\xAD\xC0\xDE\xC0\xDE\xCA\xFE\xC0\xCA\xC0\x1A";

std::optional<uint32_t> LinkedAppletOffset() {
  unsigned char copy[kLinkDescriptorSize];
  for (size_t i = 0; i < kLinkDescriptorSize; ++i) copy[i] = qvLinkDescriptor[i];
  const unsigned char* p = copy + kLinkOffsetAt;
  uint32_t offset = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
  if (offset == kNoLinkedApplet) return std::nullopt;
  return offset;
}

namespace {

constexpr char kAppletMagic[4] = {'Q', 'V', 'A', '\0'};
constexpr size_t kNameLimit = kPathSize - 1;
constexpr size_t kUnbounded = static_cast<size_t>(-1);

// Raised inside the reader with the code that ReadApplet returns.
struct AppletError {
  int code;
};

[[noreturn]] void Fail(int code) { throw AppletError{code}; }

// Reads the container through the file layer, knowing how many bytes remain, so that no field,
// string or count can reach past the end of the file.
class AppletStream {
 public:
  explicit AppletStream(qvFile* file) : file_(file) {
    int64_t here = SeekFileQ(file, 0, kSeekCurrent);
    SeekFileQ(file, 0, kSeekEnd);
    int64_t end = SeekFileQ(file, here, kSeekStart);
    if (here < 0 || end < here) Fail(ERR_UNEXPECTEDEOF);
    pos_ = static_cast<uint64_t>(here);
    size_ = static_cast<uint64_t>(end);
  }

  uint64_t Position() const { return pos_; }
  uint64_t Size() const { return size_; }
  uint64_t Remaining() const { return size_ - pos_; }

  void Bytes(void* out, uint64_t n) {
    if (n > Remaining() || ReadFileQ(file_, out, n) != n) Fail(ERR_UNEXPECTEDEOF);
    pos_ += n;
  }
  uint32_t U8() {
    unsigned char b;
    Bytes(&b, 1);
    return b;
  }
  uint32_t U16() {
    unsigned char b[2];
    Bytes(b, 2);
    return (uint32_t{b[0]} << 8) | b[1];
  }
  int32_t S16() { return static_cast<int16_t>(U16()); }
  uint32_t U32() {
    unsigned char b[4];
    Bytes(b, 4);
    return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
  }
  int32_t S32() { return static_cast<int32_t>(U32()); }
  double F64() {
    uint64_t bits = (uint64_t{U32()} << 32) | U32();
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
  }

  void Skip(uint64_t n) {
    if (n > Remaining()) Fail(ERR_UNEXPECTEDEOF);
    Seek(pos_ + n);
  }
  void Seek(uint64_t to) {
    if (to > size_) Fail(ERR_UNEXPECTEDEOF);
    SeekFileQ(file_, static_cast<int64_t>(to), kSeekStart);
    pos_ = to;
  }

  // A zero-terminated string, of which at most `limit` characters are kept.
  std::string StringZ(size_t limit) {
    std::string s;
    for (;;) {
      if (Remaining() == 0) Fail(ERR_UNEXPECTEDEOF);
      int c = ReadByteQ(file_);
      if (c < 0) Fail(ERR_UNEXPECTEDEOF);
      ++pos_;
      if (c == 0) return s;
      if (s.size() < limit) s.push_back(static_cast<char>(c));
    }
  }

  // A string of a given length, kept up to its first zero byte.
  std::string Text(uint64_t length) {
    if (length > Remaining()) Fail(ERR_UNEXPECTEDEOF);
    std::string s(length, '\0');
    Bytes(s.data(), length);
    s.resize(std::strlen(s.c_str()));
    return s;
  }

  // `count` records of at least `recordSize` bytes each must fit into what remains.
  void CheckCount(uint64_t count, uint64_t recordSize) const {
    if (count > Remaining() / recordSize) Fail(ERR_UNEXPECTEDEOF);
  }

 private:
  qvFile* file_;
  uint64_t pos_ = 0;
  uint64_t size_ = 0;
};

struct Version {
  int major = 0;
  int minor = 0;
  bool AtLeast(int ma, int mi) const { return major > ma || (major == ma && minor >= mi); }
};

// Bounds a string to a fixed text field.
template <size_t N>
void StoreText(char (&field)[N], const std::string& s) {
  size_t n = s.size() < N - 1 ? s.size() : N - 1;
  std::memcpy(field, s.data(), n);
  field[n] = '\0';
}

// Smallest sizes in the file of the counted records.
constexpr uint64_t kDeclarationMinSize = 33;  // kind byte + eight 32-bit words
constexpr uint64_t kLineMapMinSize = 13;      // three 32-bit words + an empty name
constexpr uint64_t kLabelMinSize = 5;
constexpr uint64_t kLinkedFileMinSize = 5;
constexpr uint64_t kRegionSize = 20;
constexpr uint64_t kGradientColorSize = 8;

class AppletReader {
 public:
  AppletReader(qvFile* file, const char* containerPath, uint64_t appletOffset,
               qvAppletSettings* settings, int callerFlag)
      : in_(file),
        container_(containerPath),
        appletOffset_(appletOffset),
        settings_(settings),
        callerFlag_(callerFlag) {}

  void Read() {
    in_.Skip(4);
    for (;;) {
      if (in_.Remaining() == 0) Fail(ERR_UNEXPECTEDEOF);
      if (Record(in_.U8())) return;
    }
  }

 private:
  // Reads one record; true after the main chunk, which ends the container.
  bool Record(uint32_t tag) {
    switch (tag) {
      case 0:
        in_.Skip(in_.U32());
        return false;
      case 1: {
        uint32_t length = in_.U32();
        if (length > in_.Remaining()) Fail(ERR_UNEXPECTEDEOF);
        std::vector<uint8_t> chunk(length);
        in_.Bytes(chunk.data(), length);
        settings_->mainChunk = std::move(chunk);
        return true;
      }
      case 2:
        Declarations();
        return false;
      case 3: {
        qvDisplayRecord& d = HeaderDisplay();
        d.width = in_.S16();
        d.height = in_.S16();
        return false;
      }
      case 4:
        pendingDisplayName_ = in_.Text(in_.U16());
        return false;
      case 5:
        HeaderDisplay().color = in_.U32();
        return false;
      case 6: {
        qvDisplayRecord& d = HeaderDisplay();
        d.x = in_.S32();
        d.y = in_.S32();
        return false;
      }
      case 7:
        settings_->desktopDisplay = 1;
        return false;
      case 8:
      case 27:
        LineMaps(tag == 27);
        return false;
      case 9:
        Labels();
        return false;
      case 10:
        AppletVersion();
        return false;
      case 11:
      case 12:
      case 13:
      case 14:
      case 15:
        StoreText(settings_->headerTexts[tag - 11], in_.StringZ(kHeaderTextSize - 1));
        return false;
      case 16:
        settings_->displayMode = static_cast<int32_t>(in_.U8());
        return false;
      case 17:
        Backfill();
        return false;
      case 18:
        DisplayFlag(kDisplayBorderless);
        return false;
      case 19:
        DisplayFlag(kDisplayFixed);
        return false;
      case 20:
        DisplayFlag(kDisplaySizeable);
        return false;
      case 21:
        settings_->hideTitleBar = static_cast<int32_t>(in_.U8());
        return false;
      case 22:
        settings_->screenWidth = in_.S16();
        settings_->screenHeight = in_.S16();
        return false;
      case 23:
        settings_->depth = static_cast<int32_t>(in_.U8());
        return false;
      case 24:
        DisplayFlag(kDisplayHidePointer);
        return false;
      case 25:
        DisplayFlag(kDisplayNoModeSwitch);
        return false;
      case 26:
        LinkedFiles();
        return false;
      case 28:
        DisplayScaling();
        return false;
      case 29:
        ResetDisplaySettings(settings_);
        settings_->settingsLocked = 1;
        return false;
      case 30:
        DisplayFlag(kDisplayNoHide);
        return false;
      case 31:
        UserConstants();
        return false;
      default:
        Fail(ERR_UNKNOWNSEC);
    }
  }

  void AppletVersion() {
    version_.major = static_cast<int>(in_.U8());
    version_.minor = static_cast<int>(in_.U8());
    if (version_.AtLeast(kAppletVersionMajor, kAppletVersionMinor + 1)) {
      std::string text = std::to_string(version_.major) + "." + std::to_string(version_.minor);
      SetErrorString(text.c_str());
      Fail(ERR_APPLETVERSION);
    }
  }

  // The display that the header's display tags describe: the first of them appends display 1,
  // the later ones write into the last display of the declaration list.
  qvDisplayRecord& HeaderDisplay() {
    if (!headerDisplayMade_) {
      qvObjectDeclaration decl = NewDeclaration();
      decl.kind = kDeclDisplay;
      decl.id = 1;
      qvDisplayRecord display;
      display.valueFlags |= kDisplayActive;
      if (pendingDisplayName_) display.title = std::move(*pendingDisplayName_);
      pendingDisplayName_.reset();
      decl.sub = std::move(display);
      settings_->declarations.push_back(std::move(decl));
      headerDisplayMade_ = true;
    }
    // Declarations are only ever appended, so display 1 made above is still in the list.
    qvDisplayRecord* last = nullptr;
    for (auto it = settings_->declarations.rbegin(); last == nullptr; ++it) {
      last = std::get_if<qvDisplayRecord>(&it->sub);
    }
    return *last;
  }

  // A flag tag: a true byte sets the bit in the value and the mask word, a false one only in
  // the mask word, so that the options know the applet chose it either way.
  void DisplayFlag(uint32_t bit) {
    qvDisplayRecord& d = HeaderDisplay();
    if (in_.U8() != 0) d.valueFlags |= bit;
    d.maskFlags |= bit;
  }

  void DisplayScaling() {
    qvDisplayRecord& d = HeaderDisplay();
    d.valueFlags |= in_.U8() != 0 ? kDisplayLayerScale : kDisplayAutoScale;
    d.maskFlags |= kDisplayLayerScale | kDisplayAutoScale;
    d.scaleWidth = in_.S32();
    d.scaleHeight = in_.S32();
    if (in_.U8() != 0) d.valueFlags |= kDisplaySmoothScale;
  }

  void Backfill() {
    qvBackfill& b = settings_->backfill;
    b.type = static_cast<int32_t>(in_.U8());
    switch (b.type) {
      case kBackfillColor:
        b.startColor = in_.S32();
        break;
      case kBackfillGradient:
        b.startColor = in_.S32();
        b.endColor = in_.S32();
        break;
      case kBackfillTexture:
        b.brushId = in_.S32();
        break;
      case kBackfillPicture:
        b.brushId = in_.S32();
        b.pictureX = in_.S32();
        b.pictureY = in_.S32();
        b.startColor = in_.S32();
        b.endColor = in_.S32();
        if (version_.AtLeast(3, 2)) b.scalePicture = static_cast<int32_t>(in_.U8());
        break;
      default:
        break;
    }
    b.file[0] = '\0';
  }

  void LineMaps(bool ownSource) {
    uint32_t count = in_.U32();
    in_.CheckCount(count, kLineMapMinSize + (ownSource ? 1 : 0));
    for (uint32_t i = 0; i < count; ++i) {
      qvLineMap map;
      map.firstLine = in_.S32();
      map.lastLine = in_.S32();
      map.baseLine = in_.S32();
      map.fileName = in_.StringZ(kNameLimit);
      map.sourceName = ownSource ? in_.StringZ(kNameLimit) : container_.substr(0, kNameLimit);
      settings_->lineMaps.push_back(std::move(map));
    }
  }

  void Labels() {
    uint32_t count = in_.U32();
    in_.CheckCount(count, kLabelMinSize);
    for (uint32_t i = 0; i < count; ++i) {
      qvAppletLabel label;
      label.value = in_.U32();
      label.name = in_.StringZ(kNameLimit);
      settings_->labels.push_back(std::move(label));
    }
  }

  void LinkedFiles() {
    uint32_t count = in_.U32();
    in_.U32();
    in_.CheckCount(count, kLinkedFileMinSize);
    for (uint32_t i = 0; i < count; ++i) {
      qvLinkedFile file;
      file.name = in_.StringZ(kNameLimit);
      file.containerPath = container_.substr(0, kNameLimit);
      uint32_t length = in_.U32();
      if (length == 0xFFFFFFFFu) {
        file.length = in_.U32();
        file.offset = in_.U32();
      } else {
        file.length = length;
        file.offset = in_.Position() - appletOffset_;
        in_.Skip(length);
      }
      settings_->linkedFiles.push_back(std::move(file));
    }
  }

  void UserConstants() {
    for (;;) {
      qvUserConstant c;
      c.name = in_.StringZ(kNameLimit);
      if (c.name.empty()) return;
      if (in_.U8() == 0) {
        c.number = in_.F64();
      } else {
        c.isString = true;
        c.text = in_.StringZ(kUnbounded);
      }
      settings_->userConstants.push_back(std::move(c));
    }
  }

  qvObjectDeclaration NewDeclaration() const {
    qvObjectDeclaration decl;
    decl.containerPath = container_.substr(0, kNameLimit);
    decl.callerFlag = callerFlag_;
    return decl;
  }

  void Declarations() {
    uint32_t count = in_.U32();
    in_.CheckCount(count, kDeclarationMinSize);
    for (uint32_t i = 0; i < count; ++i) {
      qvObjectDeclaration decl = NewDeclaration();
      decl.kind = static_cast<int32_t>(in_.U8());
      decl.id = in_.S32();
      decl.inlineOffset = in_.U32();
      decl.inlineLength = in_.U32();
      decl.linkedOffset = in_.U32();
      decl.linkedLength = in_.U32();
      decl.extra1 = in_.S32();
      decl.extra2 = in_.S32();
      decl.sourceLine = in_.S32();
      decl.declared = 1;
      SubRecord(&decl);
      if (decl.inlineLength != 0) decl.fileName = InlineText(decl.inlineOffset, decl.inlineLength);
      settings_->declarations.push_back(std::move(decl));
    }
  }

  // The declared file name, stored elsewhere in the container.
  std::string InlineText(uint32_t offset, uint32_t length) {
    uint64_t back = in_.Position();
    uint64_t at = appletOffset_ + offset;
    if (at > in_.Size() || length > in_.Size() - at) Fail(ERR_UNEXPECTEDEOF);
    in_.Seek(at);
    std::string text = in_.Text(length < kNameLimit ? length : kNameLimit);
    in_.Seek(back);
    return text;
  }

  void SubRecord(qvObjectDeclaration* decl) {
    switch (decl->kind) {
      case kDeclBGPic: {
        qvBGPicDecl b;
        if (version_.AtLeast(4, 7)) {
          b.fillStyle = static_cast<int32_t>(in_.U8());
          b.fillColor = in_.U32();
          b.gradient.startColor = b.fillColor;
          b.gradient.endColor = in_.U32();
          b.gradient.angle = in_.S16();
          b.textureBrush = in_.S32();
          b.textureX = in_.S32();
          b.textureY = in_.S32();
        }
        if (version_.AtLeast(5, 0)) Gradient(&b.gradient);
        decl->sub = std::move(b);
        break;
      }
      case kDeclBrush: {
        qvBrushDecl b;
        b.width = in_.S16();
        b.height = in_.S16();
        b.x = in_.S16();
        b.y = in_.S16();
        b.globalAlpha = in_.S16();
        if (version_.AtLeast(5, 0)) b.hardware = static_cast<int32_t>(in_.U8());
        decl->sub = b;
        break;
      }
      case kDeclAnim: {
        qvAnimDecl a;
        if (version_.AtLeast(3, 0)) a.fromDisk = static_cast<int32_t>(in_.U8());
        if (version_.AtLeast(4, 1)) {
          a.width = in_.S16();
          a.height = in_.S16();
          a.frames = in_.S16();
          a.framesPerRow = in_.S16();
          a.x = in_.S16();
          a.y = in_.S16();
        }
        decl->sub = a;
        break;
      }
      case kDeclButton: {
        qvButtonDecl b;
        for (auto& v : b.values) v = in_.S16();
        decl->sub = b;
        break;
      }
      case kDeclSprite: {
        qvSpriteDecl s;
        s.width = in_.S16();
        s.height = in_.S16();
        s.frames = in_.S16();
        s.framesPerRow = in_.S16();
        s.x = in_.S16();
        s.y = in_.S16();
        decl->sub = s;
        break;
      }
      case kDeclDisplay:
        decl->sub = DisplayRecord();
        break;
      default:
        break;
    }
  }

  qvDisplayRecord DisplayRecord() {
    qvDisplayRecord d;
    d.bgpicId = in_.S32();
    d.x = in_.S32();
    d.y = in_.S32();
    d.width = in_.S32();
    d.height = in_.S32();
    d.color = in_.U32();
    d.gradient.startColor = d.color;
    d.valueFlags = in_.U32();
    d.maskFlags = in_.U32();
    d.scaleWidth = in_.S32();
    d.scaleHeight = in_.S32();
    d.dragRegions = Regions();
    d.sizeRegions = Regions();
    d.title = in_.Text(in_.U16());
    if (version_.AtLeast(4, 7)) {
      d.fillStyle = static_cast<int32_t>(in_.U8());
      d.gradient.endColor = in_.U32();
      d.gradient.angle = in_.S16();
      d.textureBrush = in_.S32();
      d.textureX = in_.S32();
      d.textureY = in_.S32();
    }
    if (version_.AtLeast(5, 0)) Gradient(&d.gradient);
    if (version_.AtLeast(5, 2)) d.pubScreen = in_.Text(in_.U16());
    return d;
  }

  std::vector<qvRegion> Regions() {
    uint32_t count = in_.U32();
    in_.CheckCount(count, kRegionSize);
    std::vector<qvRegion> regions(count);
    for (auto& r : regions) {
      r.type = in_.S32();
      r.x = in_.S32();
      r.y = in_.S32();
      r.width = in_.S32();
      r.height = in_.S32();
    }
    return regions;
  }

  void Gradient(qvGradientDecl* g) {
    g->style = static_cast<int32_t>(in_.U8());
    g->centerX = in_.U32() / 1000000.0;
    g->centerY = in_.U32() / 1000000.0;
    g->balance = in_.U32() / 1000000.0;
    g->border = in_.U32() / 1000000.0;
    uint32_t count = in_.U8();
    in_.CheckCount(count, kGradientColorSize);
    g->colors.resize(count);
    for (auto& c : g->colors) {
      c.color = in_.U32();
      c.position = in_.U32() / 1000000.0;
    }
  }

  AppletStream in_;
  std::string container_;
  uint64_t appletOffset_;
  qvAppletSettings* settings_;
  int callerFlag_;
  Version version_;
  bool headerDisplayMade_ = false;
  std::optional<std::string> pendingDisplayName_;
};

template <size_t N>
bool CopyPath(char (&field)[N], const std::string& s) {
  if (s.size() >= N) return false;
  std::memcpy(field, s.c_str(), s.size() + 1);
  return true;
}

struct FileCloser {
  void operator()(qvFile* f) const { CloseFileQ(f); }
};
using FilePtr = std::unique_ptr<qvFile, FileCloser>;

// The directory part of an absolute path ("/" for a file in the root).
std::string DirectoryOf(const char* path) {
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr) return ".";
  return slash == path ? std::string("/") : std::string(path, size_t(slash - path));
}

// Linked files and declarations with linked data are read from the container by its name later.
bool NamesTheContainer(const qvAppletSettings& settings) {
  if (!settings.linkedFiles.empty()) return true;
  for (const qvObjectDeclaration& decl : settings.declarations) {
    if (decl.linkedLength != 0) return true;
  }
  return false;
}

}  // namespace

int ReadApplet(qvFile* file, const char* containerPath, uint64_t appletOffset,
               qvAppletSettings* settings, int callerFlag) {
  try {
    AppletReader reader(file, containerPath, appletOffset, settings, callerFlag);
    reader.Read();
    return 0;
  } catch (const AppletError& e) {
    return e.code;
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
}

int OpenApplet(qvAppletSettings* settings, qvPlayerState* state, const qvAppletHost& host) {
  // The script path goes through the file layer like every other name ("\" separators,
  // "PROGDIR:"). Its absolute form must fit the field, as the name given on the command line
  // must: else the run would go on with a relative name that no longer fits the directory.
  char native[kPathSize];
  char full[kPathSize];
  if (!MakeNativePath(state->scriptPath, native, sizeof native) ||
      !GetFullPath(native, full, sizeof full)) {
    return ERR_ARGS;
  }
  std::memcpy(state->scriptPath, full, sizeof full);

  FilePtr file(OpenFileQ(state->scriptPath, kFileRead));
  if (!file) {
    SetErrorString(state->scriptPath);
    return ERR_FILEEXIST;
  }
  file.reset();
  // Names that the script gives start in the script's own directory.
  std::free(ChangeCurrentDir(DirectoryOf(state->scriptPath).c_str()));

  if (!state->quiet && host.opening) {
    host.opening(state->scriptAlias[0] != '\0' ? state->scriptAlias : state->scriptPath);
  }

  file.reset(OpenFileQ(state->scriptPath, kFileRead));
  if (!file) {
    SetErrorString(state->scriptPath);
    return ERR_READFILE;
  }
  uint64_t offset = state->appletOffset;
  // A refusal names the file the user gave, also when the script path became the unpacked copy.
  const std::string givenName = GetDisplayName(state->scriptPath);
  char magic[4];
  auto readMagic = [&](qvFile* f) {
    SeekFileQ(f, 0, kSeekEnd);
    int64_t length = SeekFileQ(f, static_cast<int64_t>(offset), kSeekStart);
    return length >= 0 && static_cast<uint64_t>(length) > offset + 4 && ReadFileQ(f, magic, 4) == 4;
  };
  state->appletFlag = 0;
  bool unpacked = false;
  if (readMagic(file.get())) {
    if (std::memcmp(magic, kAppletPackMagic, 4) == 0) {
      unpacked = true;
      std::string temp = host.tempFileName ? host.tempFileName() : std::string();
      if (temp.empty()) return ERR_MEM;
      file.reset();
      int e = UnpackFile(kAppletPackMagic, state->scriptPath, temp.c_str(), offset, nullptr);
      if (e != 0) return e;
      if (!CopyPath(state->scriptPath, temp)) {
        SetErrorString(temp.c_str());
        return ERR_READFILE;
      }
      file.reset(OpenFileQ(state->scriptPath, kFileRead));
      if (!file) {
        SetErrorString(state->scriptPath);
        return ERR_READFILE;
      }
      offset = 0;
      state->appletOffset = 0;
      if (!readMagic(file.get())) std::memset(magic, 0, sizeof magic);
    }
    if (std::memcmp(magic, kAppletMagic, 4) == 0) state->appletFlag = 1;
  }
  if (!state->appletFlag) {
    SetErrorString(givenName.c_str());
    return ERR_NOAPPLET;
  }
  SeekFileQ(file.get(), static_cast<int64_t>(offset), kSeekStart);
  int e = ReadApplet(file.get(), state->scriptPath, offset, settings, state->quiet);
  // The unpacked copy goes as soon as nothing needs its name: a player killed outright then
  // leaves no applet behind.
  if (e == 0 && unpacked && !NamesTheContainer(*settings)) DeleteFileOrDir(state->scriptPath);
  if (e == 0 && !state->quiet && host.done) host.done();
  return e;
}

void ResetDisplaySettings(qvAppletSettings* settings) {
  settings->screenWidth = -1;
  settings->screenHeight = -1;
  settings->depth = -1;
  settings->hideTitleBar = -1;
  settings->displayFlags = 0;
  settings->scaleWidth = 0;
  settings->scaleHeight = 0;
  settings->displayMode = 0;
  settings->backfill = qvBackfill{};
  settings->backfill.startColor = -1;
  settings->backfill.endColor = -1;
  settings->backfill.transparentColor = -1;
  settings->backfill.pictureX = kPositionUnset;
  settings->backfill.pictureY = kPositionUnset;
}

void MoveAppletNamesToVm(qvAppletSettings* settings, qvAppletNameSink& vm) {
  for (const auto& label : settings->labels) vm.SetLabel(label);
  for (const auto& constant : settings->userConstants) vm.SetUserConstant(constant);
  settings->labels.clear();
  settings->userConstants.clear();
}

}  // namespace qv
