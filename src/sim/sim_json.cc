#include "sim/sim_json.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <optional>
#include <ostream>
#include <span>
#include <string_view>
#include <vector>

#ifdef __linux__
#include <sys/mman.h>
#endif

#include <nlohmann/json.hpp>
#ifdef PONDERIX_SIMDJSON
#include <simdjson.h>
#endif

#include "sim/path_index.h"

namespace ponderix::sim {

namespace {

using json = nlohmann::ordered_json;

// Follows the parser through the text, so that every value can be traced back
// to the line it stands on: the line of the last character read that is not a
// blank is the line of the token just read. Lines are counted when asked for,
// from where the last count ended, since the parser reads on only.
struct LineCount {
  explicit LineCount(const char* text) : begin(text), next(text), counted(text) {}

  // The line of the token just read.
  int TokenLine() {
    const char* last = next;
    while (last != begin && (last[-1] == ' ' || last[-1] == '\t' || last[-1] == '\r' || last[-1] == '\n'))
      --last;
    return last == begin ? 1 : LineOf(last - 1);
  }
  // The line of the last character read, where a syntax error is found.
  int LastLine() { return next == begin ? 1 : LineOf(next - 1); }

  const char* begin;
  const char* next;  // the character after the last one read

 private:
  int LineOf(const char* at) {
    if (at < counted) {
      counted = begin;
      countedLine = 1;
    }
    countedLine += static_cast<int>(std::count(counted, at, '\n'));
    counted = at;
    return countedLine;
  }

  const char* counted;  // lines are counted up to here
  int countedLine = 1;  // the line `counted` stands on
};

class CountingIterator {
 public:
  using iterator_category = std::forward_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = const char&;

  CountingIterator() = default;
  CountingIterator(const char* p, LineCount* count) : p_(p), count_(count) {}
  reference operator*() const { return *p_; }
  CountingIterator& operator++() {
    count_->next = ++p_;
    return *this;
  }
  CountingIterator operator++(int) {
    CountingIterator old = *this;
    ++*this;
    return old;
  }
  bool operator==(const CountingIterator& other) const { return p_ == other.p_; }

 private:
  const char* p_ = nullptr;
  LineCount* count_ = nullptr;
};

// The scene as the JSON library reads it, for the scenes that simdjson does
// not take as they stand (see ParseScene), and the line each value stands
// on. A syntax error, a field given twice or values nested too deep throw
// InputError naming the line.
class LinedJson {
 public:
  LinedJson(std::string_view text, const std::string& fileName) {
    constexpr int kMaxDepth = 100;
    LineCount count(text.data());
    const auto error = [&](const std::string& message) {
      return InputError(fileName + ":" + std::to_string(count.LastLine()) + ": not valid JSON: " + message);
    };
    std::vector<std::vector<std::string>> keys;  // of the open objects
    const json::parser_callback_t lined = [&](int depth, json::parse_event_t event, json& parsed) {
      switch (event) {
        case json::parse_event_t::object_start:
        case json::parse_event_t::array_start:
          if (depth == kMaxDepth)
            throw error("values nested more than " + std::to_string(kMaxDepth) + " deep");
          if (event == json::parse_event_t::object_start) keys.emplace_back();
          lines_.push_back(count.TokenLine());
          break;
        case json::parse_event_t::key: {
          // A field given twice would silently take one of its values.
          const auto& key = parsed.get_ref<const std::string&>();
          if (std::find(keys.back().begin(), keys.back().end(), key) != keys.back().end())
            throw error("the field " + QuoteInput(key) + " is given twice");
          keys.back().push_back(key);
          break;
        }
        case json::parse_event_t::object_end:
          keys.pop_back();
          break;
        case json::parse_event_t::array_end:
          break;
        case json::parse_event_t::value:
          lines_.push_back(count.TokenLine());
          break;
      }
      return true;
    };
    try {
      const char* begin = text.data();
      doc_ =
          json::parse(CountingIterator(begin, &count), CountingIterator(begin + text.size(), &count), lined);
    } catch (const json::exception& e) {
      std::string what = e.what();
      // Keep the parser's own words, without its exception tag and its position:
      // the line is ours, and the parser's is one too far when a newline is at fault.
      if (const auto tag = what.find("] "); tag != std::string::npos) what.erase(0, tag + 2);
      if (const auto at = what.find(": "); what.starts_with("parse error") && at != std::string::npos)
        what.erase(0, at + 2);
      // The text read is the user's: quoted short and printable.
      if (const auto last = what.find("; last read: '"); last != std::string::npos && what.ends_with("'")) {
        const size_t from = last + 14;
        what = what.substr(0, last) + "; last read: " + QuoteInput(what.substr(from, what.size() - 1 - from));
      }
      throw error(what);
    }
  }

  const json& doc() const { return doc_; }
  // The line of `value`, one of doc()'s, found by counting the values before
  // it in the text: only a value at fault needs its line.
  int LineOf(const json& value) const {
    size_t index = 0;
    const auto find = [&](const auto& self, const json& v) -> bool {
      if (&v == &value) return true;
      ++index;
      if (v.is_structured()) {
        for (const json& child : v) {
          if (self(self, child)) return true;
        }
      }
      return false;
    };
    return find(find, doc_) ? lines_.at(index) : 1;
  }

 private:
  json doc_;
  std::vector<int> lines_;  // of every value, in the order they stand in the text
};

// Asks the kernel to back the whole 2 MiB pages inside [at, at + bytes) with
// huge pages: a large scene's documents and dependency lists, written once
// from end to end, then cost one page fault in 512 (a fault is several
// microseconds on a virtual machine). A hint only; refused, or on another
// system, nothing changes.
void AdviseHugePages(void* at, size_t bytes) {
#ifdef __linux__
  constexpr size_t kHuge = size_t{2} << 20U;
  const size_t lead = (kHuge - reinterpret_cast<uintptr_t>(at) % kHuge) % kHuge;  // to the first whole page
  if (lead >= bytes) return;
  const size_t length = (bytes - lead) & ~(kHuge - 1);
  if (length > 0) madvise(static_cast<char*>(at) + lead, length, MADV_HUGEPAGE);
#else
  static_cast<void>(at);
  static_cast<void>(bytes);
#endif
}

// Where a value stands, for messages: "documents.0.path", or "the scene".
struct Path {
  const Path* parent = nullptr;
  std::string_view key;  // a field's name; empty for a list's entry
  size_t index = 0;

  Path Field(std::string_view name) const { return {this, name, 0}; }
  Path Entry(size_t i) const { return {this, {}, i}; }
  std::string Name() const {
    if (!parent) return "the scene";
    std::string name = parent->parent ? parent->Name() + "." : "";
    return key.empty() ? name + std::to_string(index) : name + std::string(key);
  }
};

// Reads the scene's values from the JSON library's document, each error
// naming the file and the value's line.
class SceneReader {
 public:
  using Node = json;

  SceneReader(const LinedJson& doc, std::string fileName) : doc_(doc), fileName_(std::move(fileName)) {}

  [[noreturn]] void Fail(const json& v, const std::string& message) const {
    throw InputError(fileName_ + ":" + std::to_string(doc_.LineOf(v)) + ": " + message);
  }

  const json& Root() const { return doc_.doc(); }

  void Keys(const json& object, const Path& at, std::initializer_list<std::string_view> allowed) const {
    Check(object, at, {allowed.begin(), allowed.size()});
  }
  // The same check, giving the value of each allowed field, or null, in the
  // order of `allowed`.
  template <size_t N>
  std::array<const json*, N> Fields(const json& object, const Path& at,
                                    const std::array<std::string_view, N>& allowed) const {
    Check(object, at, allowed);
    std::array<const json*, N> found{};
    for (size_t i = 0; i < N; ++i) found[i] = Find(object, allowed[i]);
    return found;
  }
  // The field `key` of an object, or nothing.
  static const json* Find(const json& object, std::string_view key) {
    if (!object.is_object()) return nullptr;
    const auto field = object.find(std::string(key));
    return field == object.end() ? nullptr : &*field;
  }

  static bool IsNull(const json& v) { return v.is_null(); }
  std::string String(const json& v, const Path& at) const {
    if (!v.is_string()) Fail(v, at.Name() + " must be a string");
    return v.get<std::string>();
  }
  bool Bool(const json& v, const Path& at) const {
    if (!v.is_boolean()) Fail(v, at.Name() + " must be true or false");
    return v.get<bool>();
  }
  int32_t Int(const json& v, const Path& at) const {
    if (!v.is_number_integer() || (v.is_number_unsigned() && v.get<uint64_t>() > INT32_MAX) ||
        v.get<int64_t>() < INT32_MIN || v.get<int64_t>() > INT32_MAX) {
      Fail(v, at.Name() + " must be a whole number");
    }
    return v.get<int32_t>();
  }
  double Number(const json& v, const Path& at) const {
    if (!v.is_number()) Fail(v, at.Name() + " must be a number");
    return v.get<double>();
  }
  // The entries of a list.
  const json::array_t& Array(const json& v, const Path& at) const {
    if (!v.is_array()) Fail(v, at.Name() + " must be a list");
    return v.get_ref<const json::array_t&>();
  }
  static const json& Of(const json& v) { return v; }

 private:
  void Check(const json& object, const Path& at, std::span<const std::string_view> allowed) const {
    if (!object.is_object()) Fail(object, at.Name() + " must be an object");
    for (const auto& [key, value] : object.get_ref<const json::object_t&>()) {
      if (std::find(allowed.begin(), allowed.end(), key) == allowed.end())
        Fail(value, "unknown field " + QuoteInput(key) + " in " + at.Name());
    }
  }

  const LinedJson& doc_;
  std::string fileName_;
};

#ifdef PONDERIX_SIMDJSON
// Thrown where a scene read through simdjson is at fault: the lined reader
// then reads it again and words the message.
struct Unplain {};

// Reads the scene's values from simdjson's document as SceneReader reads the
// lined tree, the same values to the bit, but with no line to give: any fault
// throws Unplain. simdjson takes a field given twice, which the JSON library
// refuses, so Keys and Fields refuse it here.
class DomReader {
 public:
  using Node = simdjson::dom::element;

  explicit DomReader(Node root) : root_(root) {}

  [[noreturn]] static void Fail(const Node& /*v*/, const std::string& /*message*/) { throw Unplain{}; }
  Node Root() const { return root_; }

  void Keys(const Node& object, const Path& /*at*/, std::initializer_list<std::string_view> allowed) const {
    uint32_t seen = 0;
    for (const simdjson::dom::key_value_pair field : Object(object)) {
      const auto index =
          static_cast<size_t>(std::find(allowed.begin(), allowed.end(), field.key) - allowed.begin());
      if (index == allowed.size() || (seen & (1U << index)) != 0) throw Unplain{};
      seen |= 1U << index;
    }
  }
  template <size_t N>
  std::array<std::optional<Node>, N> Fields(const Node& object, const Path& /*at*/,
                                            const std::array<std::string_view, N>& allowed) const {
    std::array<std::optional<Node>, N> found{};
    for (const simdjson::dom::key_value_pair field : Object(object)) {
      const auto index =
          static_cast<size_t>(std::find(allowed.begin(), allowed.end(), field.key) - allowed.begin());
      if (index == N || found[index]) throw Unplain{};
      found[index] = field.value;
    }
    return found;
  }
  static std::optional<Node> Find(const Node& object, std::string_view key) {
    Node value;
    if (object.at_key(key).get(value) != simdjson::SUCCESS) return std::nullopt;
    return value;
  }

  static bool IsNull(const Node& v) { return v.is_null(); }
  static std::string String(const Node& v, const Path& /*at*/) {
    return std::string(Get<std::string_view>(v));
  }
  static bool Bool(const Node& v, const Path& /*at*/) { return Get<bool>(v); }
  static int32_t Int(const Node& v, const Path& /*at*/) {
    const auto value = Get<int64_t>(v);  // a whole number only: 1.0 is not
    if (value < INT32_MIN || value > INT32_MAX) throw Unplain{};
    return static_cast<int32_t>(value);
  }
  // A whole number converted as the lined reader converts it ("-0" is 0.0).
  static double Number(const Node& v, const Path& /*at*/) { return Get<double>(v); }
  static simdjson::dom::array Array(const Node& v, const Path& /*at*/) {
    return Get<simdjson::dom::array>(v);
  }
  static const Node& Of(const Node& v) { return v; }

 private:
  template <class T>
  static T Get(const Node& v) {
    T value{};
    if (v.get<T>().get(value) != simdjson::SUCCESS) throw Unplain{};
    return value;
  }
  static simdjson::dom::object Object(const Node& v) { return Get<simdjson::dom::object>(v); }

  Node root_;
};
#endif

template <class Reader>
SimDocument ReadDocument(const Reader& r, const typename Reader::Node& doc, const Path& at) {
  static constexpr std::array<std::string_view, 7> kFields = {
      "path", "type", "open", "visible", "lengthUnit", "density", "dependencies"};
  const auto [path, type, open, visible, unit, density, deps] = r.Fields(doc, at, kFields);
  SimDocument d;
  if (!path) r.Fail(doc, at.Name() + " needs a path");
  d.path = r.String(*path, at.Field("path"));
  if (d.path.empty()) r.Fail(*path, at.Name() + " has an empty path");
  if (type) {
    d.type = r.Int(*type, at.Field("type"));
    if (d.type < 1 || d.type > 3) r.Fail(*type, "type must be 1 (part), 2 (assembly) or 3 (drawing)");
  }
  if (open) d.open = r.Bool(*open, at.Field("open"));
  if (visible) d.visible = r.Bool(*visible, at.Field("visible"));
  if (unit) d.lengthUnit = r.Int(*unit, at.Field("lengthUnit"));
  if (density) d.density = r.Number(*density, at.Field("density"));
  if (deps) {
    const Path where = at.Field("dependencies");
    const auto& entries = r.Array(*deps, where);
    std::vector<std::string> list;
    list.reserve(entries.size());
    AdviseHugePages(list.data(), list.capacity() * sizeof(std::string));
    for (const auto& entry : entries) list.push_back(r.String(r.Of(entry), where.Entry(list.size())));
    d.dependencies = std::move(list);
  }
  return d;
}

// Reads and checks the scene, in the same order through either reader, so
// that the lined reader finds the fault the other gave up at.
template <class Reader>
Scene ReadScene(const Reader& r) {
  const auto& root = r.Root();
  const Path scenePath;
  r.Keys(root, scenePath,
         {"documents", "active", "selection", "menuName", "decimalSeparator", "failures", "menu"});

  Scene scene;
  PathIndex paths;
  if (const auto documents = r.Find(root, "documents")) {
    const Path where = scenePath.Field("documents");
    const auto& entries = r.Array(*documents, where);
    scene.documents.reserve(entries.size());
    AdviseHugePages(scene.documents.data(), scene.documents.capacity() * sizeof(SimDocument));
    paths.Reset(scene.documents, entries.size());
    for (const auto& entry : entries) {
      const size_t i = scene.documents.size();
      scene.documents.push_back(ReadDocument(r, r.Of(entry), where.Entry(i)));
      if (!paths.Add(i)) {
        r.Fail(*r.Find(r.Of(entry), "path"),
               "the document " + QuoteInput(scene.documents[i].path) + " is listed twice");
      }
    }
  }
  if (const auto active = r.Find(root, "active"); active && !r.IsNull(*active)) {
    scene.active = r.String(*active, scenePath.Field("active"));
    if (!paths.Find(*scene.active))
      r.Fail(*active, "active names " + QuoteInput(*scene.active) + ", which is not in documents");
  }
  if (const auto selection = r.Find(root, "selection")) {
    const Path where = scenePath.Field("selection");
    for (const auto& entry : r.Array(*selection, where)) {
      const auto& v = r.Of(entry);
      if (r.IsNull(v)) {
        scene.selection.emplace_back(std::nullopt);
      } else {
        scene.selection.emplace_back(r.String(v, where.Entry(scene.selection.size())));
      }
    }
  }
  if (const auto menuName = r.Find(root, "menuName"))
    scene.menuName = r.String(*menuName, scenePath.Field("menuName"));
  if (const auto separator = r.Find(root, "decimalSeparator")) {
    scene.decimalSeparator = r.String(*separator, scenePath.Field("decimalSeparator"));
    if (scene.decimalSeparator.empty()) r.Fail(*separator, "decimalSeparator must not be empty");
  }
  if (const auto failures = r.Find(root, "failures")) {
    const Path where = scenePath.Field("failures");
    for (const auto& entry : r.Array(*failures, where)) {
      const Path at = where.Entry(scene.failures.size());
      const auto& failure = r.Of(entry);
      r.Keys(failure, at, {"call", "path"});
      const auto call = r.Find(failure, "call");
      if (!call) r.Fail(failure, at.Name() + " needs a call");
      SimFailure f{r.String(*call, at.Field("call")), std::nullopt};
      if (std::find(std::begin(kContractOperations), std::end(kContractOperations), f.call) ==
          std::end(kContractOperations)) {
        r.Fail(*call, "no host operation is called " + QuoteInput(f.call));
      }
      if (const auto path = r.Find(failure, "path")) f.path = r.String(*path, at.Field("path"));
      scene.failures.push_back(std::move(f));
    }
  }
  if (const auto menu = r.Find(root, "menu")) {
    const Path where = scenePath.Field("menu");
    for (const auto& entry : r.Array(*menu, where)) {
      const Path at = where.Entry(scene.menu.size());
      const auto& item = r.Of(entry);
      r.Keys(item, at, {"docType", "path"});
      const auto docType = r.Find(item, "docType");
      const auto path = r.Find(item, "path");
      if (!docType || !path) r.Fail(item, at.Name() + " needs docType and path");
      scene.menu.push_back({r.Int(*docType, at.Field("docType")), r.String(*path, at.Field("path")),
                            std::nullopt, std::nullopt, std::nullopt});
    }
  }
  return scene;
}

// The bytes of `word` that do not stand for themselves in a JSON string, each
// marked by its high bit: those below 0x20 or above 0x7E, the quote and the
// backslash. Borrows and carries run only towards higher bytes, so the lowest
// mark is always right (the ones above it need not be).
uint64_t Specials(uint64_t word) {
  constexpr uint64_t kOnes = 0x0101010101010101;
  constexpr uint64_t kHigh = 0x8080808080808080;
  const auto zeros = [](uint64_t x) { return (x - kOnes) & ~x; };
  const uint64_t controls = (word - kOnes * 0x20) & ~word;
  const uint64_t high = word | (word + kOnes);  // 0x7F and up
  return (controls | high | zeros(word ^ (kOnes * '"')) | zeros(word ^ (kOnes * '\\'))) & kHigh;
}

// How many bytes at the start of `text` stand for themselves in a JSON
// string: printable ASCII other than the quote and the backslash. Eight bytes
// a step, as a scene's and a result's paths run long.
inline size_t PlainLength(std::string_view text) {
  static_assert(std::endian::native == std::endian::little, "the lowest mark must be the first byte");
  size_t at = 0;
  for (; at + 8 <= text.size(); at += 8) {
    uint64_t word = 0;
    std::memcpy(&word, text.data() + at, 8);
    if (const uint64_t marks = Specials(word)) return at + static_cast<size_t>(std::countr_zero(marks)) / 8;
  }
  for (; at < text.size(); ++at) {
    const auto c = static_cast<unsigned char>(text[at]);
    if (c < 0x20 || c > 0x7E || c == '"' || c == '\\') break;
  }
  return at;
}

// The document as read: a flat tree of values, each with its line, whose
// strings stand in the text itself where they can, else in one buffer. A
// scene of a million values so costs a handful of allocations, and no value
json MenuJson(const std::vector<MenuEntry>& menu) {
  json out = json::array();
  for (const MenuEntry& e : menu) {
    json item = {{"docType", e.docType}, {"path", e.path}};
    if (e.callback) item["callback"] = *e.callback;
    if (e.enable) item["enable"] = *e.enable;
    if (e.hint) item["hint"] = *e.hint;
    out.push_back(std::move(item));
  }
  return out;
}

json SnapshotJson(const FormSnapshot& form) {
  json controls = json::object();
  for (const ControlSnapshot& c : form.controls) {
    json control = {{"visible", c.visible}, {"enabled", c.enabled}, {"backColor", c.backColor}};
    switch (c.kind) {
      case ControlKind::kLabel:
      case ControlKind::kButton:
        control["caption"] = c.caption;
        break;
      case ControlKind::kCheckBox:
        control["caption"] = c.caption;
        control["checked"] = c.checked;
        break;
      case ControlKind::kTextBox:
        control["text"] = c.text;
        break;
      case ControlKind::kDropDown:
        control["index"] = c.index;
        control["text"] = c.index >= 0 ? c.items[static_cast<size_t>(c.index)] : "";
        control["rows"] = c.items;
        break;
      case ControlKind::kCheckList:
        control["rows"] = c.rows;
        control["ticks"] = c.ticks;
        break;
    }
    controls[c.name] = std::move(control);
  }
  return {
      {"form", form.form}, {"title", form.title}, {"focus", form.focus}, {"controls", std::move(controls)}};
}

// Writes JSON laid out as json::dump(2) lays it out, value by value, so that
// a result of millions of values needs no document in memory. Small parts are
// built as documents and dumped in place.
class JsonWriter {
 public:
  explicit JsonWriter(std::ostream* out) : out_(out) {}

  void BeginObject() { Begin('{'); }
  void EndObject() { End('}'); }
  void BeginArray() { Begin('['); }
  void EndArray() { End(']'); }
  // The key of the object's next value, which follows at once: `Key("path").String(path)`.
  // Keys are the result's own field names, which need no escape.
  JsonWriter& Key(std::string_view key) {
    Separate();
    buffer_ += '"';
    buffer_ += key;
    buffer_.append("\": ", 3);
    keyed_ = true;
    return *this;
  }
  void String(std::string_view text) {
    Separate();
    Quoted(text);
  }

  void Bool(bool value) {
    Separate();
    buffer_.append(value ? std::string_view("true") : std::string_view("false"));
  }
  void Int(int64_t value) {
    Separate();
    std::array<char, 24> digits{};
    const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), value).ptr;
    buffer_.append(digits.data(), end);
  }
  // Numbers keep the library's shortest form that reads back the same ("7871.0").
  // A whole number below 10^15 it writes with ".0", which is done here: a
  // large result holds millions of densities.
  void Double(double value) {
    if (std::trunc(value) != value || std::abs(value) >= 1e15 || (value == 0 && std::signbit(value))) {
      Dump(json(value));
      return;
    }
    Separate();
    std::array<char, 24> digits{};
    const auto end =
        std::to_chars(digits.data(), digits.data() + digits.size(), static_cast<int64_t>(value)).ptr;
    buffer_.append(digits.data(), end);
    buffer_.append(".0", 2);
  }
  void Null() {
    Separate();
    buffer_.append("null", 4);
  }
  // A value built as a document, dumped at the current depth.
  void Dump(const json& value) {
    Separate();
    Dumped(value);
  }

  void EndDocument() { buffer_ += '\n'; }

  // Writes out what is buffered; the rest, or all of it without a stream, stays in `text()`.
  void Flush() {
    if (out_) {
      out_->write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
      buffer_.clear();
    }
  }
  std::string& text() { return buffer_; }

 private:
  void Quoted(std::string_view text) {
    if (!IsAscii(text)) {
      // Only the library knows how it replaces bytes that are not UTF-8.
      Dumped(json(std::string(text)));
      return;
    }
    buffer_ += '"';
    for (size_t at = 0;;) {
      // Plain characters go in runs (a path's folder names); the others one by one.
      const size_t run = PlainLength(text.substr(at));
      buffer_.append(text.data() + at, run);
      at += run;
      if (at == text.size()) break;
      const auto c = static_cast<unsigned char>(text[at++]);
      switch (c) {
        case '"':
          buffer_.append("\\\"", 2);
          break;
        case '\\':
          buffer_.append("\\\\", 2);
          break;
        case '\b':
          buffer_.append("\\b", 2);
          break;
        case '\t':
          buffer_.append("\\t", 2);
          break;
        case '\n':
          buffer_.append("\\n", 2);
          break;
        case '\f':
          buffer_.append("\\f", 2);
          break;
        case '\r':
          buffer_.append("\\r", 2);
          break;
        case 0x7F:
          buffer_ += static_cast<char>(c);
          break;
        default:
          buffer_.append("\\u00", 4);
          buffer_ += kHex[c >> 4];
          buffer_ += kHex[c & 15];
      }
    }
    buffer_ += '"';
  }
  static bool IsAscii(std::string_view text) {
    uint64_t bits = 0;
    size_t at = 0;
    for (; at + 8 <= text.size(); at += 8) {
      uint64_t x = 0;
      std::memcpy(&x, text.data() + at, 8);
      bits |= x;
    }
    for (; at < text.size(); ++at) bits |= static_cast<unsigned char>(text[at]);
    return (bits & 0x8080808080808080) == 0;
  }
  void Dumped(const json& value) {
    const std::string text = value.dump(2, ' ', false, json::error_handler_t::replace);
    // Dumped strings hold no line feed, so every one starts a line to indent.
    size_t from = 0;
    for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', from)) {
      buffer_.append(text, from, at + 1 - from);
      Indent();
      from = at + 1;
    }
    buffer_.append(text, from);
  }

  // The current depth's indentation, copied rather than filled in: it starts every line.
  void Indent() {
    static constexpr std::string_view kSpaces = "                                ";
    if (depth_ * 2 <= kSpaces.size()) {
      buffer_.append(kSpaces.data(), depth_ * 2);
    } else {
      buffer_.append(depth_ * 2, ' ');
    }
  }

  // Before a value: the comma and the line of the container it stands in.
  void Separate() {
    if (keyed_) {
      keyed_ = false;
      return;
    }
    if (depth_ == 0) return;
    if (empty_) {
      buffer_ += '\n';
      empty_ = false;
    } else {
      buffer_.append(",\n", 2);
    }
    Indent();
    if (out_ && buffer_.size() >= kFlushSize) Flush();
  }
  void Begin(char open) {
    Separate();
    buffer_ += open;
    ++depth_;
    empty_ = true;
  }
  void End(char close) {
    --depth_;
    if (empty_) {
      buffer_ += close;  // "{}" and "[]" for an empty one
    } else {
      buffer_ += '\n';
      Indent();
      buffer_ += close;
    }
    empty_ = false;
  }

  static constexpr const char* kHex = "0123456789abcdef";
  static constexpr size_t kFlushSize = size_t{1} << 20;

  std::ostream* out_;
  std::string buffer_;
  size_t depth_ = 0;
  bool empty_ = false;  // the innermost container has no value yet
  bool keyed_ = false;  // a key was written; its value follows on the same line
};

void WriteResult(JsonWriter& w, const SessionResult& result) {
  w.BeginObject();
  w.Key("outcome").String(OutcomeName(result.outcome));
  w.Key("messages").BeginArray();
  for (const Message& m : result.messages) {
    w.BeginObject();
    w.Key("kind").String(m.kind == Message::Kind::kHost ? "host" : "box");
    w.Key("text").String(m.text);
    w.EndObject();
  }
  w.EndArray();
  w.Key("documents").BeginArray();
  for (const DocumentState& d : result.documents) {
    w.BeginObject();
    w.Key("path").String(d.path);
    w.Key("open").Bool(d.open);
    w.Key("visible").Bool(d.visible);
    w.Key("densityBefore").Double(d.densityBefore);
    w.Key("density").Double(d.density);
    w.Key("modified").Bool(d.modified);
    w.EndObject();
  }
  w.EndArray();
  if (result.active) {
    w.Key("active").String(*result.active);
  } else {
    w.Key("active").Null();
  }
  if (result.failure) {
    w.Key("failure").String(*result.failure);
  } else {
    w.Key("failure").Null();
  }
  w.Key("heldReferences").Int(result.heldReferences);
  w.Key("events").BeginArray();
  for (const Event& e : result.events) {
    const std::string& subject =
        e.AboutText() ? result.eventTexts.at(e.subject) : result.documents.at(e.subject).path;
    w.BeginObject();
    w.Key("kind").String(EventKindName(e.kind));
    switch (e.kind) {
      case Event::Kind::kMessage:
      case Event::Kind::kBox:
        w.Key("text").String(subject);
        break;
      case Event::Kind::kOpen:
      case Event::Kind::kActivate:
        w.Key("path").String(subject);
        break;
      case Event::Kind::kVisible:
        w.Key("path").String(subject);
        w.Key("visible").Bool(e.visible);
        break;
      case Event::Kind::kDensity:
        w.Key("path").String(subject);
        w.Key("density").Double(e.density);
        break;
      case Event::Kind::kWebPage:
        w.Key("address").String(subject);
        break;
    }
    w.EndObject();
  }
  w.EndArray();
  w.Key("snapshots").BeginArray();
  for (const FormSnapshot& s : result.snapshots) w.Dump(SnapshotJson(s));
  w.EndArray();
  w.Key("menu").Dump(MenuJson(result.menu));
  w.Key("menuAfterDisconnect").Dump(MenuJson(result.menuAfterDisconnect));
  w.EndObject();
  w.EndDocument();
}

}  // namespace

Scene ParseScene(std::string_view text, const std::string& fileName, bool padded) {
#ifdef PONDERIX_SIMDJSON
  // simdjson reads most scenes several times faster than the JSON library.
  // A scene at fault, or one it reads otherwise (a number beyond 64 bits, a
  // byte order mark), goes on to the library, whose messages name the line.
  static_assert(kScenePadding >= simdjson::SIMDJSON_PADDING);
  {
    std::unique_ptr<char[]> copy;
    if (!padded) {
      copy.reset(new char[text.size() + kScenePadding]);
      std::memcpy(copy.get(), text.data(), text.size());
    }
    simdjson::dom::parser parser;
    // Its tape and strings on huge pages: a large scene's are written once from end to end.
    if (parser.allocate(text.size()) == simdjson::SUCCESS &&
        parser.doc.allocate(text.size()) == simdjson::SUCCESS) {
      AdviseHugePages(parser.doc.tape.get(), (text.size() + 3) * sizeof(uint64_t));
      AdviseHugePages(parser.doc.string_buf.get(), text.size() * 5 / 3);
    }
    simdjson::dom::element root;
    if (parser.parse(copy ? copy.get() : text.data(), text.size(), false).get(root) == simdjson::SUCCESS) {
      try {
        return ReadScene(DomReader(root));
      } catch (const Unplain&) {
      }
    }
  }
#else
  static_cast<void>(padded);
#endif
  const LinedJson doc(text, fileName);
  return ReadScene(SceneReader(doc, fileName));
}

std::string ResultJson(const SessionResult& result) {
  JsonWriter w(nullptr);
  WriteResult(w, result);
  return std::move(w.text());
}

void WriteResultJson(std::ostream& out, const SessionResult& result) {
  JsonWriter w(&out);
  WriteResult(w, result);
  w.Flush();
}

}  // namespace ponderix::sim
