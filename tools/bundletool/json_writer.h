// One JSON document written to a stream. The writer owns every quote, escape
// and separator: callers name members and give values, and a call that would
// make the document invalid (a value where a member's name belongs, a name
// inside an array, a container closed that is not open, a second document)
// throws std::logic_error before anything of it is written. So no caller can
// emit broken JSON, whatever text it hands over.
//
// Strings are UTF-8. A byte that is no part of well-formed UTF-8 (a host
// path in another encoding) becomes U+FFFD, since JSON holds Unicode text
// only; '"', '\' and every byte below 0x20 are escaped, the last as \u00XX.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace bundletool {

class JsonWriter {
 public:
  // How a container is laid out: one member or element a line, indented by
  // its depth, or all on one line.
  enum class Layout { Lines, Inline };

  explicit JsonWriter(std::ostream& out) : out(out) {}
  JsonWriter(const JsonWriter&) = delete;
  JsonWriter& operator=(const JsonWriter&) = delete;

  void BeginObject(Layout layout = Layout::Lines);
  void EndObject();
  void BeginArray(Layout layout = Layout::Lines);
  void EndArray();
  // The name of the object member whose value comes next.
  JsonWriter& Key(const std::string& name);

  void String(const std::string& text);
  void Number(uint64_t value);  // every number of the reports is a count or a size
  void Bool(bool value);
  void Null();
  // A string, or null when text is null.
  void StringOrNull(const char* text);

  // True once one whole value (the document) has been written; the writer
  // then ends it with a line feed.
  bool Complete() const { return complete; }

  // text as a JSON string, quotes included.
  static std::string Quote(const std::string& text);

 private:
  struct Level {
    bool object;
    Layout layout;
    size_t members = 0;
    bool keyed = false;  // an object's member name is written, its value not yet
  };
  // Before a value (or an object member's name): the separator its place
  // needs; throws when no value may come here.
  void BeforeValue(bool isKey);
  void AfterValue();
  void Begin(bool object, Layout layout);
  void End(bool object);
  void Indent(size_t depth);

  std::ostream& out;
  std::vector<Level> levels;
  bool complete = false;
};

}  // namespace bundletool
