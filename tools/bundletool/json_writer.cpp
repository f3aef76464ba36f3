#include "json_writer.h"

#include <stdexcept>

#include "cp932.h"

namespace bundletool {

namespace {

[[noreturn]] void Misuse(const char* what) { throw std::logic_error(std::string("JSON writer: ") + what); }

}  // namespace

std::string JsonWriter::Quote(const std::string& text) {
  static const char HEX[] = "0123456789abcdef";
  std::string quoted = "\"";
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = text[i];
    uint32_t code;
    const size_t length = Utf8SequenceAt(text, i, code);
    if (length == 0) {
      quoted += "\\ufffd";
      ++i;
      continue;
    }
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += char(c);
    } else if (c < 0x20) {
      quoted += "\\u00";
      quoted += HEX[c >> 4];
      quoted += HEX[c & 15];
    } else {
      quoted.append(text, i, length);
    }
    i += length;
  }
  return quoted + "\"";
}

void JsonWriter::Indent(size_t depth) {
  out << '\n';
  for (size_t i = 0; i < depth; ++i) out << "  ";
}

void JsonWriter::BeforeValue(bool isKey) {
  if (complete) Misuse("a second document");
  if (levels.empty()) {
    if (isKey) Misuse("a member name outside an object");
    return;
  }
  Level& level = levels.back();
  if (level.object && !isKey && !level.keyed) Misuse("an object member without a name");
  if (!level.object && isKey) Misuse("a member name inside an array");
  if (level.keyed) return;  // the value follows its name on the same line
  if (level.members > 0) out << ',';
  if (level.layout == Layout::Lines) {
    Indent(levels.size());
  } else if (level.members > 0) {
    out << ' ';
  }
}

void JsonWriter::AfterValue() {
  if (levels.empty()) {
    complete = true;
    out << '\n';
    return;
  }
  Level& level = levels.back();
  level.keyed = false;
  ++level.members;
}

JsonWriter& JsonWriter::Key(const std::string& name) {
  BeforeValue(true);
  if (levels.back().keyed) Misuse("two member names in a row");
  out << Quote(name) << ": ";
  levels.back().keyed = true;
  return *this;
}

void JsonWriter::Begin(bool object, Layout layout) {
  BeforeValue(false);
  out << (object ? '{' : '[');
  levels.push_back({object, layout});
}

void JsonWriter::End(bool object) {
  if (levels.empty() || levels.back().object != object) Misuse("a container closed that is not open");
  const Level level = levels.back();
  if (level.keyed) Misuse("a member name without its value");
  levels.pop_back();
  if (level.layout == Layout::Lines && level.members > 0) Indent(levels.size());
  out << (object ? '}' : ']');
  AfterValue();
}

void JsonWriter::BeginObject(Layout layout) { Begin(true, layout); }
void JsonWriter::EndObject() { End(true); }
void JsonWriter::BeginArray(Layout layout) { Begin(false, layout); }
void JsonWriter::EndArray() { End(false); }

void JsonWriter::String(const std::string& text) {
  BeforeValue(false);
  out << Quote(text);
  AfterValue();
}

void JsonWriter::Number(uint64_t value) {
  BeforeValue(false);
  out << value;
  AfterValue();
}

void JsonWriter::Bool(bool value) {
  BeforeValue(false);
  out << (value ? "true" : "false");
  AfterValue();
}

void JsonWriter::Null() {
  BeforeValue(false);
  out << "null";
  AfterValue();
}

void JsonWriter::StringOrNull(const char* text) {
  if (text == nullptr) {
    Null();
  } else {
    String(text);
  }
}

}  // namespace bundletool
