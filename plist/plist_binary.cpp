#include "plist/plist_binary.h"

#include <algorithm>
#include <bit>
#include <map>
#include <vector>

#include "plist/plist_limits.h"
#include "plist/plist_text.h"

namespace tavo::plist {
namespace {

constexpr std::string_view kMagic = "bplist00";
constexpr std::size_t kTrailerSize = 32;

// Object markers: the high nibble is the type, the low one a size or count.
enum Type : std::uint8_t {
  kSimple = 0x0,  // 0x08 false, 0x09 true
  kInteger = 0x1,
  kReal = 0x2,
  kDate = 0x3,
  kData = 0x4,
  kAscii = 0x5,
  kUtf16 = 0x6,
  kUid = 0x8,
  kArray = 0xA,
  kDict = 0xD,
};
constexpr std::uint8_t kFalse = 0x08, kTrue = 0x09, kDateMarker = 0x33;
constexpr std::uint8_t kLongCount = 0xF;  // the count follows as an integer object

std::uint64_t readBigEndian(std::string_view b, std::size_t at, std::size_t width) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < width; ++i) v = (v << 8) | static_cast<std::uint8_t>(b[at + i]);
  return v;
}

void appendBigEndian(std::uint64_t v, std::size_t width, std::string& out) {
  for (std::size_t i = width; i-- > 0;) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// The smallest of 1, 2, 4 and 8 bytes that holds `v`.
std::size_t widthFor(std::uint64_t v) {
  if (v < (1u << 8)) return 1;
  if (v < (1u << 16)) return 2;
  if (v < (std::uint64_t{1} << 32)) return 4;
  return 8;
}

class BinaryReader {
 public:
  explicit BinaryReader(std::string_view bytes) : b_(bytes) {}

  bool read(PlistValue& top, std::string& problem) {
    bool ok = readTrailer() && readObject(topObject_, 0, top) && checkNoOverlap();
    if (!ok) problem = problem_;
    return ok;
  }

 private:
  struct Extent {
    std::size_t begin, end;
  };
  enum : std::uint8_t { kSeen = 1, kOnPath = 2 };

  bool fail(const char* why) {
    problem_ = why;
    return false;
  }
  std::uint8_t byte(std::size_t at) const { return static_cast<std::uint8_t>(b_[at]); }

  bool readTrailer() {
    if (b_.substr(0, kMagic.size()) != kMagic)
      return fail("a binary property list of an unknown version");
    if (b_.size() < kMagic.size() + kTrailerSize + 2) return fail("too short for a binary property list");
    const std::size_t trailer = b_.size() - kTrailerSize;
    offsetWidth_ = byte(trailer + 6);
    refWidth_ = byte(trailer + 7);
    const std::uint64_t count = readBigEndian(b_, trailer + 8, 8);
    const std::uint64_t top = readBigEndian(b_, trailer + 16, 8);
    const std::uint64_t table = readBigEndian(b_, trailer + 24, 8);
    if (offsetWidth_ < 1 || offsetWidth_ > 8 || refWidth_ < 1 || refWidth_ > 8)
      return fail("a trailer with impossible integer widths");
    if (count == 0 || top >= count) return fail("a top object outside the object table");
    if (table <= kMagic.size() || table > trailer || count > (trailer - table) / offsetWidth_)
      return fail("an offset table outside the file");
    count_ = count;
    topObject_ = top;
    objectsEnd_ = table;
    state_.assign(count, 0);
    return true;
  }

  // Sets `end` past `n` bytes at `at`; false when they run past the objects.
  bool take(std::size_t at, std::uint64_t n, std::size_t& end) {
    if (at > objectsEnd_ || n > objectsEnd_ - at) return fail("an object that runs past the objects");
    end = at + n;
    return true;
  }

  bool objectAt(std::uint64_t index, std::size_t& offset) {
    std::uint64_t at = readBigEndian(b_, objectsEnd_ + index * offsetWidth_, offsetWidth_);
    if (at < kMagic.size() || at >= objectsEnd_) return fail("an object offset outside the objects");
    offset = at;
    return true;
  }

  // Reads the count of a data, string or container object whose marker's
  // low nibble is `nibble`, moving `at` past it.
  bool readCount(std::uint8_t nibble, std::size_t& at, std::uint64_t& count) {
    if (nibble != kLongCount) {
      count = nibble;
      return true;
    }
    std::size_t end = 0;
    if (!take(at, 1, end)) return false;
    std::uint8_t marker = byte(at);
    if ((marker >> 4) != kInteger || (marker & 0xF) > 3) return fail("an object count that is not an integer");
    std::size_t width = std::size_t{1} << (marker & 0xF);
    if (!take(end, width, end)) return false;
    count = readBigEndian(b_, at + 1, width);
    at = end;
    return true;
  }

  bool readReference(std::size_t at, std::uint64_t& index) {
    index = readBigEndian(b_, at, refWidth_);
    if (index >= count_) return fail("an object reference outside the object table");
    if (state_[index] & kOnPath) return fail("a container that contains itself");
    return true;
  }

  bool readObject(std::uint64_t index, int depth, PlistValue& out) {
    std::size_t at = 0;
    if (!objectAt(index, at)) return false;
    const std::uint8_t marker = byte(at);
    const std::uint8_t type = marker >> 4;
    std::size_t body = at + 1, end = body;
    if (type == kArray || type == kDict) {
      std::uint64_t count = 0;
      return readCount(marker & 0xF, body, count) &&
             readContainer(type, count, index, depth, body, end, out) && noteExtent(index, at, end);
    }
    return readScalar(marker, body, end, out) && noteExtent(index, at, end) && charge(out);
  }

  // Sets `end` past the object's bytes.
  bool readScalar(std::uint8_t marker, std::size_t body, std::size_t& end, PlistValue& out) {
    const std::uint8_t nibble = marker & 0xF;
    switch (marker >> 4) {
      case kSimple:
        return readBoolean(marker, out);
      case kInteger:
        return readInteger(nibble, body, end, out);
      case kReal:
        return readReal(nibble, body, end, out);
      case kDate:
        if (marker != kDateMarker) return fail("a date that is not 8 bytes");
        if (!take(body, 8, end)) return false;
        out = PlistDate{std::bit_cast<double>(readBigEndian(b_, body, 8))};
        return true;
      case kData:
      case kAscii:
      case kUtf16: {
        std::uint64_t count = 0;
        return readCount(nibble, body, count) && readBytes(marker >> 4, count, body, end, out);
      }
      case kUid:
        if (nibble >= 8) return fail("a UID wider than 8 bytes");
        if (!take(body, nibble + 1u, end)) return false;
        out = PlistUid{readBigEndian(b_, body, nibble + 1u)};
        return true;
      default:
        return fail("an object of a type preferences never hold");
    }
  }

  bool readBoolean(std::uint8_t marker, PlistValue& out) {
    if (marker != kFalse && marker != kTrue) return fail("a null or fill object");
    out = PlistValue(marker == kTrue);
    return true;
  }

  bool readInteger(std::uint8_t nibble, std::size_t body, std::size_t& end, PlistValue& out) {
    if (nibble > 4) return fail("an integer wider than 16 bytes");
    std::size_t width = std::size_t{1} << nibble;
    if (!take(body, width, end)) return false;
    if (width < 8) {  // 1, 2 and 4 bytes are unsigned
      out = PlistInteger::fromUnsigned(readBigEndian(b_, body, width));
      return true;
    }
    if (width == 8) {
      out = PlistInteger(static_cast<std::int64_t>(readBigEndian(b_, body, 8)));
      return true;
    }
    // 16 bytes, signed: values from 2^63 up have a zero high half; negative
    // values a high half of ones. Anything else is past what we can hold.
    std::uint64_t high = readBigEndian(b_, body, 8), low = readBigEndian(b_, body + 8, 8);
    if (high == 0) {
      out = PlistInteger::fromUnsigned(low);
      return true;
    }
    if (high == ~std::uint64_t{0} && (low >> 63) != 0) {
      out = PlistInteger(static_cast<std::int64_t>(low));
      return true;
    }
    return fail("an integer outside [-2^63, 2^64-1]");
  }

  bool readReal(std::uint8_t nibble, std::size_t body, std::size_t& end, PlistValue& out) {
    if (nibble != 2 && nibble != 3) return fail("a real that is neither 4 nor 8 bytes");
    const std::size_t width = nibble == 2 ? 4 : 8;
    if (!take(body, width, end)) return false;
    const std::uint64_t bits = readBigEndian(b_, body, width);
    out = width == 4 ? static_cast<double>(std::bit_cast<float>(static_cast<std::uint32_t>(bits)))
                     : std::bit_cast<double>(bits);
    return true;
  }

  bool readBytes(std::uint8_t type, std::uint64_t count, std::size_t body, std::size_t& end,
                 PlistValue& out) {
    if (type == kUtf16 && count > objectsEnd_) return fail("an object that runs past the objects");
    if (!take(body, type == kUtf16 ? count * 2 : count, end)) return false;
    std::string_view bytes = b_.substr(body, end - body);
    if (type == kData) {
      out = PlistData(bytes.begin(), bytes.end());
    } else if (type == kAscii) {
      out = PlistValue::rawAscii(std::string(bytes));
    } else {
      std::string text;
      if (!utf16beToUtf8(bytes, text)) return fail("a UTF-16 string with an unpaired surrogate");
      out = PlistValue(std::move(text));
    }
    return true;
  }

  bool readContainer(std::uint8_t type, std::uint64_t count, std::uint64_t index, int depth,
                     std::size_t refs, std::size_t& end, PlistValue& out) {
    if (depth >= kMaxDepth) return fail("containers nested deeper than 512 levels");
    const std::uint64_t perMember = type == kDict ? 2 * refWidth_ : refWidth_;
    if (count > (objectsEnd_ - refs) / perMember)
      return fail("an object that runs past the objects");
    end = refs + count * perMember;
    if (!budget_.charge(0)) return fail("more values than a file of its size may expand to");
    state_[index] |= kOnPath;
    bool ok = type == kDict ? readMembers(count, depth, refs, out) : readItems(count, depth, refs, out);
    state_[index] &= ~kOnPath;
    return ok;
  }

  bool readItems(std::uint64_t count, int depth, std::size_t refs, PlistValue& out) {
    PlistArray items;
    for (std::uint64_t i = 0; i < count; ++i) {
      std::uint64_t child = 0;
      PlistValue item;
      if (!readReference(refs + i * refWidth_, child) || !readObject(child, depth + 1, item)) return false;
      items.push_back(std::move(item));
    }
    out = PlistValue(std::move(items));
    return true;
  }

  bool readMembers(std::uint64_t count, int depth, std::size_t refs, PlistValue& out) {
    PlistDict members;
    const std::size_t values = refs + count * refWidth_;
    for (std::uint64_t i = 0; i < count; ++i) {
      std::uint64_t keyIndex = 0, valueIndex = 0;
      PlistValue key, value;
      if (!readReference(refs + i * refWidth_, keyIndex) || !readObject(keyIndex, depth + 1, key))
        return false;
      if (!key.isString()) return fail("a dictionary key that is not a string");
      if (!readReference(values + i * refWidth_, valueIndex) ||
          !readObject(valueIndex, depth + 1, value))
        return false;
      if (key.isRawAscii())
        members.setWithRawAsciiKey(*key.string(), std::move(value));
      else
        members.set(*key.string(), std::move(value));
    }
    out = PlistValue(std::move(members));
    return true;
  }

  bool charge(const PlistValue& v) {
    std::size_t payload = v.string() ? v.string()->size() : v.data() ? v.data()->size() : 0;
    return budget_.charge(payload) || fail("more values than a file of its size may expand to");
  }

  // Remembers where an object lies the first time it is read, so that
  // objects sharing bytes can be told apart at the end.
  bool noteExtent(std::uint64_t index, std::size_t begin, std::size_t end) {
    if (state_[index] & kSeen) return true;
    state_[index] |= kSeen;
    extents_.push_back({begin, end});
    return true;
  }

  bool checkNoOverlap() {
    std::sort(extents_.begin(), extents_.end(),
              [](const Extent& a, const Extent& b) { return a.begin < b.begin; });
    for (std::size_t i = 1; i < extents_.size(); ++i)
      if (extents_[i].begin < extents_[i - 1].end) return fail("objects that overlap");
    return true;
  }

  std::string_view b_;
  std::size_t offsetWidth_ = 0, refWidth_ = 0;
  std::uint64_t count_ = 0, topObject_ = 0;
  std::size_t objectsEnd_ = 0;  // where the offset table starts
  std::vector<std::uint8_t> state_;  // kSeen and kOnPath, by object
  std::vector<Extent> extents_;
  ReadBudget budget_{b_.size()};
  std::string problem_;
};

class BinaryWriter {
 public:
  bool write(const PlistValue& top, std::string& bytes, std::string& problem) {
    std::uint64_t index = 0;
    if (!flatten(top, 0, index)) {
      problem = problem_;
      return false;
    }
    emit(bytes);
    return true;
  }

 private:
  // One object of the file. Scalars are encoded when first met; containers
  // keep their members' indices until the reference width is known.
  struct Object {
    std::string encoded;              // a scalar, or a container's marker and count
    std::vector<std::uint64_t> refs;  // a dictionary's keys, then its values
  };

  bool fail(const char* why) {
    problem_ = why;
    return false;
  }

  static void appendMarker(std::uint8_t type, std::uint64_t count, std::string& out) {
    if (count < kLongCount) {
      out.push_back(static_cast<char>(type << 4 | count));
      return;
    }
    out.push_back(static_cast<char>(type << 4 | kLongCount));
    appendUnsigned(count, out);
  }

  static void appendUnsigned(std::uint64_t v, std::string& out) {
    std::size_t width = widthFor(v);
    out.push_back(static_cast<char>(kInteger << 4 | std::countr_zero(width)));
    appendBigEndian(v, width, out);
  }

  // Negative values take 8 bytes, values from 2^63 up 16 (signed), others
  // the fewest of 1, 2, 4 and 8.
  static std::string encodeInteger(const PlistInteger& i) {
    std::string out;
    if (i.isNegative()) {
      out.push_back(static_cast<char>(kInteger << 4 | 3));
      appendBigEndian(i.bits(), 8, out);
    } else if (!i.asInt64()) {
      out.push_back(static_cast<char>(kInteger << 4 | 4));
      appendBigEndian(0, 8, out);
      appendBigEndian(i.bits(), 8, out);
    } else {
      appendUnsigned(i.bits(), out);
    }
    return out;
  }

  static std::string encodeDouble(std::uint8_t marker, double v) {
    std::string out(1, static_cast<char>(marker));
    appendBigEndian(std::bit_cast<std::uint64_t>(v), 8, out);
    return out;
  }

  bool encodeString(const std::string& s, bool rawAscii, std::string& out) {
    if (rawAscii || isAscii(s)) {
      appendMarker(kAscii, s.size(), out);
      out += s;
      return true;
    }
    std::string units;
    std::size_t count = 0;
    if (!utf8ToUtf16be(s, units, count)) return fail("a binary property list cannot hold a string that is not UTF-8 text");
    appendMarker(kUtf16, count, out);
    out += units;
    return true;
  }

  bool encodeScalar(const PlistValue& v, std::string& out) {
    switch (v.kind()) {
      case PlistValue::Kind::String:
        return encodeString(*v.string(), v.isRawAscii(), out);
      case PlistValue::Kind::Integer:
        out = encodeInteger(*v.integer());
        return true;
      case PlistValue::Kind::Real:
        out = encodeDouble(kReal << 4 | 3, *v.real());
        return true;
      case PlistValue::Kind::Boolean:
        out.push_back(static_cast<char>(*v.boolean() ? kTrue : kFalse));
        return true;
      case PlistValue::Kind::Date:
        out = encodeDouble(kDateMarker, v.date()->secondsSince2001);
        return true;
      case PlistValue::Kind::Data:
        appendMarker(kData, v.data()->size(), out);
        out.append(v.data()->begin(), v.data()->end());
        return true;
      case PlistValue::Kind::Uid: {
        std::size_t width = widthFor(v.uid()->value);
        out.push_back(static_cast<char>(kUid << 4 | (width - 1)));
        appendBigEndian(v.uid()->value, width, out);
        return true;
      }
      default:
        return fail("a container where a scalar was expected");
    }
  }

  // Equal scalars are stored once, as the platform's writer does.
  std::uint64_t addScalar(std::string encoded) {
    auto [it, added] = scalars_.try_emplace(std::move(encoded), objects_.size());
    if (added) objects_.push_back(Object{it->first, {}});
    return it->second;
  }

  bool flatten(const PlistValue& v, int depth, std::uint64_t& index) {
    if (!v.dict() && !v.array()) {
      std::string encoded;
      if (!encodeScalar(v, encoded)) return false;
      index = addScalar(std::move(encoded));
      return true;
    }
    if (depth >= kMaxDepth) return fail("containers nested deeper than 512 levels");
    index = objects_.size();
    objects_.emplace_back();
    std::vector<std::uint64_t> refs;
    if (const PlistDict* d = v.dict()) {
      for (const auto& [key, member] : d->entries()) {
        std::string encoded;
        if (!encodeString(key, d->isRawAsciiKey(key), encoded)) return false;
        refs.push_back(addScalar(std::move(encoded)));
      }
      for (const auto& [key, member] : d->entries())
        if (!flattenInto(member, depth, refs)) return false;
      appendMarker(kDict, d->size(), objects_[index].encoded);
    } else {
      for (const PlistValue& item : *v.array())
        if (!flattenInto(item, depth, refs)) return false;
      appendMarker(kArray, v.array()->size(), objects_[index].encoded);
    }
    objects_[index].refs = std::move(refs);
    return true;
  }

  bool flattenInto(const PlistValue& member, int depth, std::vector<std::uint64_t>& refs) {
    std::uint64_t child = 0;
    if (!flatten(member, depth + 1, child)) return false;
    refs.push_back(child);
    return true;
  }

  void emit(std::string& out) const {
    const std::size_t refWidth = widthFor(objects_.size());
    out.assign(kMagic);
    std::vector<std::uint64_t> offsets;
    offsets.reserve(objects_.size());
    for (const Object& o : objects_) {
      offsets.push_back(out.size());
      out += o.encoded;
      for (std::uint64_t ref : o.refs) appendBigEndian(ref, refWidth, out);
    }
    const std::uint64_t table = out.size();
    const std::size_t offsetWidth = widthFor(table);
    for (std::uint64_t offset : offsets) appendBigEndian(offset, offsetWidth, out);
    out.append(6, '\0');  // unused, and the sort version
    out.push_back(static_cast<char>(offsetWidth));
    out.push_back(static_cast<char>(refWidth));
    appendBigEndian(objects_.size(), 8, out);
    appendBigEndian(0, 8, out);  // the top object comes first
    appendBigEndian(table, 8, out);
  }

  std::vector<Object> objects_;
  std::map<std::string, std::uint64_t> scalars_;  // encoded bytes -> object index
  std::string problem_;
};

}  // namespace

bool looksBinary(std::string_view bytes) { return bytes.substr(0, 6) == "bplist"; }

bool parseBinary(std::string_view bytes, PlistValue& top, std::string& problem) {
  return BinaryReader(bytes).read(top, problem);
}

bool serializeBinary(const PlistValue& top, std::string& bytes, std::string& problem) {
  return BinaryWriter().write(top, bytes, problem);
}

}  // namespace tavo::plist
