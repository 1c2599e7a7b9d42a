// Reading a scheme's JSON: every key known, every value of its type.
#include "serial/SerialScheme.h"
#include "image/ImageDigest.h"
#include "platform/Utf8Paths.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace kestrune::serial {
namespace {

using nlohmann::json;

struct Refusal {
  std::string Text;
};

[[noreturn]] void Refuse(const std::string &text) { throw Refusal{text}; }

void OnlyKeys(const json &object, const std::set<std::string> &known, const std::string &where) {
  for (auto it = object.begin(); it != object.end(); ++it)
    if (!known.count(it.key()))
      Refuse(where + ": unknown key \"" + it.key() + "\"");
}

const json &Member(const json &object, const char *key, const std::string &where) {
  auto it = object.find(key);
  if (it == object.end())
    Refuse(where + ": \"" + key + "\" is missing");
  return *it;
}

// A whole number given as a JSON number or as decimal or "0x" hex text.
uint64_t Number(const json &value, const std::string &what) {
  if (value.is_number_unsigned())
    return value.get<uint64_t>();
  if (value.is_string()) {
    std::string text = value.get<std::string>();
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    std::string digits = hex ? text.substr(2) : text;
    const char *allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
    if (!digits.empty() && digits.size() <= (hex ? 16u : 19u) &&
        digits.find_first_not_of(allowed) == std::string::npos)
      return std::stoull(digits, nullptr, hex ? 16 : 10);
  }
  Refuse(what + " is not a whole number (" + value.dump() + ")");
}

std::string Text(const json &value, const std::string &what) {
  if (!value.is_string())
    Refuse(what + " is not a text (" + value.dump() + ")");
  return value.get<std::string>();
}

std::shared_ptr<const ValueSource> Counter(const json &c, const std::string &where) {
  if (!c.is_object())
    Refuse(where + ": \"counter\" is not an object");
  OnlyKeys(c, {"start", "step", "last"}, where + " counter");
  uint64_t start = Number(Member(c, "start", where + " counter"), where + " counter start");
  uint64_t step = c.contains("step") ? Number(c["step"], where + " counter step") : 1;
  uint64_t last = Number(Member(c, "last", where + " counter"), where + " counter last");
  if (step == 0)
    Refuse(where + ": counter step is 0");
  if (last < start)
    Refuse(where + ": counter last " + std::to_string(last) + " is below its start " +
           std::to_string(start));
  return CounterSource(start, step, last);
}

std::shared_ptr<const ValueSource> Imei(const json &c, const std::string &where) {
  if (!c.is_object())
    Refuse(where + ": \"imei\" is not an object");
  OnlyKeys(c, {"tac", "start"}, where + " imei");
  std::string tac = Text(Member(c, "tac", where + " imei"), where + " imei tac");
  if (tac.size() != 8 || tac.find_first_not_of("0123456789") != std::string::npos)
    Refuse(where + ": imei tac \"" + tac + "\" is not 8 decimal digits");
  uint64_t start = c.contains("start") ? Number(c["start"], where + " imei start") : 0;
  if (start > 999999)
    Refuse(where + ": imei start " + std::to_string(start) + " is not 6 digits");
  return ImeiSource(tac, start);
}

std::shared_ptr<const ValueSource> Mac(const json &c, const std::string &where) {
  if (!c.is_object())
    Refuse(where + ": \"mac\" is not an object");
  OnlyKeys(c, {"first", "last"}, where + " mac");
  uint64_t first = 0, last = 0;
  std::string firstText = Text(Member(c, "first", where + " mac"), where + " mac first");
  std::string lastText = Text(Member(c, "last", where + " mac"), where + " mac last");
  if (!ParseMac(firstText, first))
    Refuse(where + ": mac first \"" + firstText + "\" is not a MAC-48 address");
  if (!ParseMac(lastText, last))
    Refuse(where + ": mac last \"" + lastText + "\" is not a MAC-48 address");
  if (last < first)
    Refuse(where + ": mac last " + lastText + " is below its first " + firstText);
  return MacSource(first, last);
}

void List(const json &c, const std::string &baseDir, const std::string &where,
          SchemeField &field) {
  std::string name, pinned;
  if (c.is_object()) {
    OnlyKeys(c, {"path", "sha256"}, where + " list");
    name = Text(Member(c, "path", where + " list"), where + " list path");
    pinned = Text(Member(c, "sha256", where + " list"), where + " list sha256");
    if (pinned.size() != 64 ||
        pinned.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
      Refuse(where + ": list sha256 \"" + pinned + "\" is not 64 hex digits");
    std::transform(pinned.begin(), pinned.end(), pinned.begin(),
                   [](unsigned char ch) { return char(std::tolower(ch)); });
  } else {
    name = Text(c, where + " list");
  }
  std::filesystem::path path = PathFromUtf8(name);
  if (path.is_relative())
    path = PathFromUtf8(baseDir) / path;
  std::vector<std::string> lines;
  std::string error, bytes;
  if (!ReadListFile(path, lines, error, &bytes))
    Refuse(where + ": " + error);
  field.ListFile = Utf8FromPath(path);
  field.ListSha256 = Sha256Hex(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
  field.ListPinned = !pinned.empty();
  if (field.ListPinned && field.ListSha256 != pinned)
    Refuse(where + ": list file " + field.ListFile + " has SHA-256 " + field.ListSha256 +
           ", the scheme pins " + pinned);
  if (lines.empty())
    Refuse(where + ": the list file " + field.ListFile + " holds no values");
  // The pool is named by the file's name as written, pinned or not.
  field.Source = ListSource(name, std::move(lines));
}

SchemeField Field(const json &f, const std::string &baseDir, size_t index) {
  std::string where = "Serial field " + std::to_string(index + 1);
  if (!f.is_object())
    Refuse(where + " is not an object");
  OnlyKeys(f, {"name", "address", "offset", "length", "encoding", "counter", "list", "imei", "mac"},
           where);
  SchemeField field;
  field.Name = Text(Member(f, "name", where), where + " name");
  if (field.Name.empty())
    Refuse(where + ": its name is empty");
  where = "Serial field " + field.Name;
  if (f.contains("address") == f.contains("offset"))
    Refuse(where + ": give either \"address\" or \"offset\"");
  if (f.contains("address"))
    field.Address = Number(f["address"], where + " address");
  else
    field.Offset = Number(f["offset"], where + " offset");
  uint64_t length = Number(Member(f, "length", where), where + " length");
  if (length == 0 || length > 64)
    Refuse(where + ": length " + std::to_string(length) + " is not 1 to 64 bytes");
  field.Length = uint32_t(length);
  std::string encoding = Text(Member(f, "encoding", where), where + " encoding");
  auto parsed = ParseEncoding(encoding);
  if (!parsed)
    Refuse(where + ": unknown encoding \"" + encoding + "\" (ascii, hex, bcd, le or be)");
  field.Encode = *parsed;
  int sources = int(f.contains("counter")) + int(f.contains("list")) + int(f.contains("imei")) +
                int(f.contains("mac"));
  if (sources != 1)
    Refuse(where + ": give exactly one source (counter, list, imei or mac)");
  if (f.contains("counter"))
    field.Source = Counter(f["counter"], where);
  else if (f.contains("imei"))
    field.Source = Imei(f["imei"], where);
  else if (f.contains("mac"))
    field.Source = Mac(f["mac"], where);
  else
    List(f["list"], baseDir, where, field);
  return field;
}

// Every value the field can take fits it: the last of an ordered source,
// every line of a list.
void CheckValuesFit(const SchemeField &field) {
  const ValueSource &source = *field.Source;
  uint64_t count = source.Capacity();
  uint64_t first = source.Ordered() ? count - 1 : 0;
  for (uint64_t i = first; i < count; ++i) {
    std::vector<uint8_t> bytes;
    std::string text, error;
    if (!field.ValueAt(i, bytes, text, error))
      Refuse(source.Ordered() ? error : error + " (list value " + std::to_string(i + 1) + ")");
  }
}

} // namespace

bool SchemeField::ValueAt(uint64_t position, std::vector<uint8_t> &bytes, std::string &text,
                          std::string &error) const {
  SerialValue value = Source->At(position);
  if (!EncodeValue(value, Encode, Length, bytes, error)) {
    error = "Serial field " + Name + ": " + error + " (" + EncodingName(Encode) + ")";
    return false;
  }
  text = FieldText(value, Encode, bytes);
  return true;
}

bool ParseScheme(const std::string &text, const std::string &baseDir, SerialScheme &scheme,
                 std::string &error) {
  json root = json::parse(text, nullptr, false);
  if (root.is_discarded()) {
    error = "Serial scheme " + scheme.Path + " is not valid JSON";
    return false;
  }
  try {
    if (!root.is_object())
      Refuse("Serial scheme is not a JSON object");
    OnlyKeys(root, {"fields"}, "Serial scheme");
    const json &fields = Member(root, "fields", "Serial scheme");
    if (!fields.is_array() || fields.empty())
      Refuse("Serial scheme: \"fields\" is not a list of fields");
    scheme.Fields.clear();
    std::set<std::string> names;
    for (size_t i = 0; i < fields.size(); ++i) {
      SchemeField field = Field(fields[i], baseDir, i);
      if (!names.insert(field.Name).second)
        Refuse("Serial field " + field.Name + " is named twice");
      CheckValuesFit(field);
      scheme.Fields.push_back(std::move(field));
    }
  } catch (const Refusal &refusal) {
    error = refusal.Text;
    return false;
  } catch (const std::exception &e) {
    error = std::string("Serial scheme: ") + e.what();
    return false;
  }
  return true;
}

bool ReadScheme(const std::string &path, SerialScheme &scheme, std::string &error) {
  // Names are UTF-8 everywhere, Windows included.
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  if (!in) {
    int code = errno;
    error = "Cannot read the serial scheme " + path + ": " + std::strerror(code) + " (" +
            std::to_string(code) + ")";
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  scheme.Path = path;
  std::string baseDir = Utf8FromPath(PathFromUtf8(path).parent_path());
  return ParseScheme(text.str(), baseDir.empty() ? "." : baseDir, scheme, error);
}

} // namespace kestrune::serial
