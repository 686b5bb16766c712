// Applet container, compressed container and link-into writers.
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tools/qvasm/model.h"

namespace qv::qvasm {
namespace {

// The container's numbers are big-endian whatever the chunk's byte order.
class BigEndian {
 public:
  std::vector<uint8_t> out;
  void U8(uint8_t v) { out.push_back(v); }
  void U32(uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
  }
  void Double(double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    U32(static_cast<uint32_t>(bits >> 32));
    U32(static_cast<uint32_t>(bits));
  }
  void Text(std::string_view s) {  // zero-terminated
    out.insert(out.end(), s.begin(), s.end());
    out.push_back(0);
  }
  void Bytes(std::span<const uint8_t> b) { out.insert(out.end(), b.begin(), b.end()); }
};

enum Tag : uint8_t {
  kTagMainChunk = 1,
  kTagLineMaps = 8,
  kTagLabels = 9,
  kTagVersion = 10,
  kTagLinkedFiles = 26,
  kTagLineMapsWithSource = 27,
  kTagUserConstants = 31,
};
constexpr uint8_t kAppletMagic[4] = {'Q', 'V', 'A', 0};
constexpr uint8_t kVersionMajor = 5, kVersionMinor = 2;
constexpr uint8_t kUserConstNumber = 0, kUserConstString = 1;

// Bytes 36-43 of the player's link descriptor; bytes 32-35 hold the applet offset, 0xDEADC0DE
// while none is appended, and byte 44 is zero.
constexpr uint8_t kLinkMarker[8] = {0xC0, 0xDE, 0xCA, 0xFE, 0xC0, 0xCA, 0xC0, 0x1A};
constexpr uint8_t kNoApplet[4] = {0xDE, 0xAD, 0xC0, 0xDE};
constexpr size_t kMarkerAt = 36, kOffsetAt = 32;

bool ReadFile(const std::filesystem::path& path, std::vector<uint8_t>* data) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  data->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace

Result AssembleApplet(std::string_view text, const Options& options) {
  Result result;
  Program prog = AssembleProgram(text, &result);
  std::vector<std::vector<uint8_t>> files(prog.links.size());
  for (size_t i = 0; i < prog.links.size(); ++i) {
    std::filesystem::path path = prog.links[i].path;
    if (path.is_relative() && !options.baseDir.empty()) path = options.baseDir / path;
    if (!ReadFile(path, &files[i]))
      result.diags.push_back({prog.links[i].textLine, "cannot read linked file " + path.string()});
    else if (files[i].size() >= 0xFFFFFFFF)
      result.diags.push_back({prog.links[i].textLine, "linked file too large: " + path.string()});
  }
  if (!result.ok()) {
    result.bytes.clear();
    return result;
  }

  BigEndian w;
  w.Bytes(kAppletMagic);
  w.U8(kTagVersion);
  w.U8(kVersionMajor);
  w.U8(kVersionMinor);
  for (auto& [tag, header] : prog.headers) {
    w.U8(static_cast<uint8_t>(tag));
    w.Text(header);
  }
  // Maps without a source of their own go into one tag-8 record, the others into one tag-27 one.
  for (bool withSource : {false, true}) {
    std::vector<const LineMap*> maps;
    for (const LineMap& m : prog.lineMaps) {
      if (m.source.has_value() == withSource) maps.push_back(&m);
    }
    if (maps.empty()) continue;
    w.U8(withSource ? kTagLineMapsWithSource : kTagLineMaps);
    w.U32(static_cast<uint32_t>(maps.size()));
    for (const LineMap* m : maps) {
      w.U32(static_cast<uint32_t>(m->first));
      w.U32(static_cast<uint32_t>(m->last));
      w.U32(static_cast<uint32_t>(m->base));
      w.Text(m->file);
      if (withSource) w.Text(*m->source);
    }
  }
  if (!result.exports.empty()) {
    w.U8(kTagLabels);
    w.U32(static_cast<uint32_t>(result.exports.size()));
    for (auto& [name, pc] : result.exports) {
      w.U32(static_cast<uint32_t>(pc));
      w.Text(name);
    }
  }
  if (!prog.userConsts.empty()) {
    w.U8(kTagUserConstants);
    for (const UserConst& u : prog.userConsts) {
      w.Text(u.name);
      if (u.isString) {
        w.U8(kUserConstString);
        w.Text(u.text);
      } else {
        w.U8(kUserConstNumber);
        w.Double(u.number);
      }
    }
    w.U8(0);  // an empty name ends the list
  }
  if (!prog.links.empty()) {
    w.U8(kTagLinkedFiles);
    w.U32(static_cast<uint32_t>(prog.links.size()));
    w.U32(0);
    for (size_t i = 0; i < prog.links.size(); ++i) {
      w.Text(prog.links[i].name);
      w.U32(static_cast<uint32_t>(files[i].size()));
      w.Bytes(files[i]);
    }
  }
  // The display and declaration records, in source order. The declarations' inline data (their
  // file names) goes first into a record that readers skip (tag 0), so the tag-2 record can
  // point at it.
  for (const AppletRecord& record : prog.records) {
    if (!record.declarations) {
      w.U8(record.tag);
      w.Bytes(record.bytes);
      continue;
    }
    std::vector<uint32_t> offsets;
    uint32_t dataSize = 0;
    for (const Declaration& d : prog.declarations) dataSize += static_cast<uint32_t>(d.file.size());
    w.U8(0);
    w.U32(dataSize);
    for (const Declaration& d : prog.declarations) {
      offsets.push_back(static_cast<uint32_t>(w.out.size()));
      w.Bytes(
          std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(d.file.data()), d.file.size()));
    }
    w.U8(2);
    w.U32(static_cast<uint32_t>(prog.declarations.size()));
    for (size_t i = 0; i < prog.declarations.size(); ++i) {
      const Declaration& d = prog.declarations[i];
      w.U8(d.kind);
      w.U32(static_cast<uint32_t>(d.id));
      w.U32(d.file.empty() ? 0 : offsets[i]);
      w.U32(static_cast<uint32_t>(d.file.size()));
      w.U32(d.stretchOffset);
      w.U32(d.stretchLength);
      w.U32(static_cast<uint32_t>(d.extra1));
      w.U32(static_cast<uint32_t>(d.extra2));
      w.U32(static_cast<uint32_t>(d.line));
      w.Bytes(d.sub);
    }
  }
  w.U8(kTagMainChunk);
  w.U32(static_cast<uint32_t>(result.bytes.size()));
  w.Bytes(result.bytes);
  result.bytes = std::move(w.out);
  return result;
}

std::vector<uint8_t> CompressApplet(std::span<const uint8_t> applet) {
  uLongf size = compressBound(static_cast<uLong>(applet.size()));
  std::vector<uint8_t> out(8 + size);
  // The magic and four reserved zero bytes.
  std::memcpy(out.data(), "QVZ\0\0\0\0\0", 8);
  int rc = compress2(out.data() + 8, &size, applet.data(), static_cast<uLong>(applet.size()),
                     Z_DEFAULT_COMPRESSION);
  if (rc != Z_OK) return {};
  out.resize(8 + size);
  return out;
}

std::vector<uint8_t> LinkInto(std::span<const uint8_t> player, std::span<const uint8_t> applet,
                              std::string* error) {
  size_t found = 0, count = 0;
  for (size_t p = kMarkerAt; p + sizeof kLinkMarker < player.size(); ++p) {
    if (std::memcmp(&player[p], kLinkMarker, sizeof kLinkMarker) != 0) continue;
    if (player[p + sizeof kLinkMarker] != 0) continue;
    if (std::memcmp(&player[p - kMarkerAt + kOffsetAt], kNoApplet, 4) != 0) continue;
    found = p - kMarkerAt;
    ++count;
  }
  if (count != 1) {
    *error = count == 0 ? "no link descriptor without an applet in the player"
                        : "the player holds more than one link descriptor";
    return {};
  }
  if (player.size() > 0xFFFFFFFF) {
    *error = "the player is too large for a 32-bit applet offset";
    return {};
  }
  std::vector<uint8_t> out(player.begin(), player.end());
  uint32_t offset = static_cast<uint32_t>(player.size());
  for (int i = 0; i < 4; ++i)
    out[found + kOffsetAt + i] = static_cast<uint8_t>(offset >> (24 - 8 * i));
  out.insert(out.end(), applet.begin(), applet.end());
  return out;
}

}  // namespace qv::qvasm
