#include "platform/plist_file.h"

#include <plist/plist.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace tavo {
namespace {

// Deeper nesting than this is no preferences file of ours: refusing it keeps
// the recursive conversion from exhausting the stack.
constexpr int kMaxDepth = 256;
// A preferences file larger than this is not read; it is left untouched.
constexpr std::size_t kMaxFileBytes = 64u << 20;

struct PlistFree {
  void operator()(plist_t p) const { plist_free(p); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

std::string takeString(char* s) {
  std::string out = s ? s : "";
  std::free(s);
  return out;
}

bool fromNode(plist_t node, int depth, PlistValue& out);

bool dictFromNode(plist_t node, int depth, PlistDict& out) {
  plist_dict_iter it = nullptr;
  plist_dict_new_iter(node, &it);
  if (!it) return true;
  bool ok = true;
  for (;;) {
    char* key = nullptr;
    plist_t val = nullptr;
    plist_dict_next_item(node, it, &key, &val);
    if (!val) {
      std::free(key);
      break;
    }
    std::string name = takeString(key);
    PlistValue member;
    if (!fromNode(val, depth + 1, member)) {
      ok = false;
      break;
    }
    out.set(name, std::move(member));
  }
  std::free(it);
  return ok;
}

bool fromNode(plist_t node, int depth, PlistValue& out) {
  if (depth > kMaxDepth) return false;
  switch (plist_get_node_type(node)) {
    case PLIST_DICT: {
      PlistDict d;
      if (!dictFromNode(node, depth, d)) return false;
      out = PlistValue(std::move(d));
      return true;
    }
    case PLIST_ARRAY: {
      PlistArray a;
      uint32_t n = plist_array_get_size(node);
      for (uint32_t i = 0; i < n; ++i) {
        PlistValue item;
        if (!fromNode(plist_array_get_item(node, i), depth + 1, item)) return false;
        a.push_back(std::move(item));
      }
      out = PlistValue(std::move(a));
      return true;
    }
    case PLIST_STRING:
    case PLIST_KEY: {
      char* s = nullptr;
      plist_get_string_val(node, &s);
      out = PlistValue(takeString(s));
      return true;
    }
    case PLIST_UINT: {
      uint64_t v = 0;
      plist_get_uint_val(node, &v);
      out = PlistValue(static_cast<std::int64_t>(v));
      return true;
    }
    case PLIST_REAL: {
      double v = 0;
      plist_get_real_val(node, &v);
      out = PlistValue(v);
      return true;
    }
    case PLIST_BOOLEAN: {
      uint8_t v = 0;
      plist_get_bool_val(node, &v);
      out = PlistValue(v != 0);
      return true;
    }
    case PLIST_DATE: {
      int32_t sec = 0, usec = 0;
      plist_get_date_val(node, &sec, &usec);
      out = PlistValue(PlistDate{sec + usec / 1e6});
      return true;
    }
    case PLIST_DATA: {
      char* bytes = nullptr;
      uint64_t len = 0;
      plist_get_data_val(node, &bytes, &len);
      PlistData d(bytes, bytes + (bytes ? len : 0));
      std::free(bytes);
      out = PlistValue(std::move(d));
      return true;
    }
    case PLIST_UID: {
      uint64_t v = 0;
      plist_get_uid_val(node, &v);
      out = PlistValue(PlistUid{v});
      return true;
    }
    default:
      return false;
  }
}

plist_t toNode(const PlistValue& v) {
  switch (v.kind()) {
    case PlistValue::Kind::Dict: {
      plist_t d = plist_new_dict();
      for (const auto& [key, member] : v.dict()->entries()) plist_dict_set_item(d, key.c_str(), toNode(member));
      return d;
    }
    case PlistValue::Kind::Array: {
      plist_t a = plist_new_array();
      for (const auto& item : *v.array()) plist_array_append_item(a, toNode(item));
      return a;
    }
    case PlistValue::Kind::String:
      return plist_new_string(v.string()->c_str());
    case PlistValue::Kind::Integer:
      return plist_new_uint(static_cast<uint64_t>(*v.integer()));
    case PlistValue::Kind::Real:
      return plist_new_real(*v.real());
    case PlistValue::Kind::Boolean:
      return plist_new_bool(*v.boolean() ? 1 : 0);
    case PlistValue::Kind::Date: {
      double t = v.date()->secondsSince2001;
      double sec = std::floor(t);
      auto usec = static_cast<int32_t>(std::lround((t - sec) * 1e6));
      return plist_new_date(static_cast<int32_t>(sec), usec);
    }
    case PlistValue::Kind::Data: {
      const PlistData& d = *v.data();
      return plist_new_data(reinterpret_cast<const char*>(d.data()), d.size());
    }
    case PlistValue::Kind::Uid:
      return plist_new_uid(v.uid()->value);
  }
  return plist_new_string("");
}

// libplist cannot store a string holding a NUL; such a value would be cut.
bool representable(const PlistValue& v) {
  if (const std::string* s = v.string()) return s->find('\0') == std::string::npos;
  if (const PlistDict* d = v.dict()) {
    for (const auto& [key, member] : d->entries())
      if (key.find('\0') != std::string::npos || !representable(member)) return false;
  }
  if (const PlistArray* a = v.array())
    for (const auto& item : *a)
      if (!representable(item)) return false;
  return true;
}

}  // namespace

PlistFile parsePlist(const std::string& bytes) {
  PlistFile file;
  file.state = PlistFile::State::Ok;
  if (bytes.empty()) return file;
  file.state = PlistFile::State::Unreadable;
  if (bytes.size() > kMaxFileBytes) return file;
  auto len = static_cast<uint32_t>(bytes.size());
  file.format = plist_is_binary(bytes.data(), len) ? PlistFormat::Binary : PlistFormat::Xml;
  plist_t root = nullptr;
  plist_from_memory(bytes.data(), len, &root);
  PlistPtr owner(root);
  if (!root || plist_get_node_type(root) != PLIST_DICT) return file;
  if (!dictFromNode(root, 0, file.dict)) {
    file.dict = PlistDict();
    return file;
  }
  file.state = PlistFile::State::Ok;
  return file;
}

PlistFile readPlistFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    PlistFile missing;
    return missing;
  }
  std::ostringstream buf;
  buf << in.rdbuf();
  if (in.bad()) {
    PlistFile bad;
    bad.state = PlistFile::State::Unreadable;
    return bad;
  }
  return parsePlist(buf.str());
}

bool serializePlist(const PlistDict& dict, PlistFormat format, std::string& bytes) {
  PlistValue root{PlistDict(dict)};
  if (!representable(root)) return false;
  PlistPtr node(toNode(root));
  char* out = nullptr;
  uint32_t len = 0;
  if (format == PlistFormat::Binary) {
    plist_to_bin(node.get(), &out, &len);
    if (!out) return false;
    bytes.assign(out, len);
    plist_to_bin_free(out);
  } else {
    plist_to_xml(node.get(), &out, &len);
    if (!out) return false;
    bytes.assign(out, len);
    plist_to_xml_free(out);
  }
  return true;
}

bool writePlistFile(const std::string& path, const PlistDict& dict, PlistFormat format) {
  std::string bytes;
  if (!serializePlist(dict, format, bytes)) return false;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out.flush());
}

}  // namespace tavo
