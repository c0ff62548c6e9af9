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

// The document as the JSON library reads it, for the scenes that simdjson
// does not take as they stand (see ParseScene): a flat tree of values, each
// with the line it stands on, whose strings lie in one buffer. A scene of a
// million values so costs a handful of allocations, and no value needs a
// name until it is found at fault.
struct Value {
  enum class Type : uint8_t { kNull, kBoolean, kInteger, kUnsigned, kFloat, kString, kArray, kObject };
  Type type = Type::kNull;
  bool boolean = false;
  int line = 1;
  uint32_t size = 0;  // a string's bytes; the values of an array or an object
  // A number (int64_t, uint64_t or double, by type); where a string starts in
  // the builder's buffer; an array's or object's first member.
  uint64_t bits = 0;
};

// A value inside an array or an object; `keySize` 0 and `key` unused in an array.
struct Member {
  uint64_t key = 0;
  uint32_t keySize = 0;
  uint32_t value = 0;
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

// Builds the document, giving every value the line it stands on.
class LinedBuilder : public nlohmann::json_sax<json> {
 public:
  explicit LinedBuilder(LineCount& count) : count_(count) {}

  bool null() override { return Add(Value{}); }
  bool boolean(bool value) override {
    Value v;
    v.type = Value::Type::kBoolean;
    v.boolean = value;
    return Add(v);
  }
  bool number_integer(number_integer_t value) override { return Add(Number(Value::Type::kInteger, value)); }
  bool number_unsigned(number_unsigned_t value) override {
    return Add(Number(Value::Type::kUnsigned, value));
  }
  bool number_float(number_float_t value, const string_t& /*text*/) override {
    return Add(Number(Value::Type::kFloat, value));
  }
  bool string(string_t& value) override {
    if (TooLong(value)) return false;
    Value v;
    v.type = Value::Type::kString;
    v.bits = Store(value);
    v.size = static_cast<uint32_t>(value.size());
    return Add(v);
  }
  // A scene holds no binary values; JSON text has none.
  bool binary(binary_t& /*value*/) override { return Add(Value{}); }
  bool start_object(std::size_t /*size*/) override { return Open(Value::Type::kObject); }
  bool key(string_t& key) override {
    if (TooLong(key)) return false;
    // A field given twice would silently take one of its values.
    const std::vector<Member>& siblings = open_[depth_ - 1];
    if (std::any_of(siblings.begin(), siblings.end(),
                    [&](const Member& m) { return Text(m.key, m.keySize) == key; })) {
      error_ = "the field " + QuoteInput(key) + " is given twice";
      return false;
    }
    key_ = Store(key);
    keySize_ = static_cast<uint32_t>(key.size());
    return true;
  }
  bool end_object() override { return Close(); }
  bool start_array(std::size_t /*size*/) override { return Open(Value::Type::kArray); }
  bool end_array() override { return Close(); }
  bool parse_error(std::size_t /*position*/, const std::string& /*token*/,
                   const nlohmann::detail::exception& e) override {
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
    error_ = what;
    return false;
  }

  const std::string& error() const { return error_; }
  const Value& root() const { return values_.at(0); }
  const Value& at(uint32_t index) const { return values_[index]; }
  const std::vector<Member>& members() const { return members_; }
  std::string_view Text(uint64_t at, uint32_t size) const {
    return std::string_view(strings_).substr(at, size);
  }
  std::string_view Text(const Value& v) const { return Text(v.bits, v.size); }

 private:
  template <class T>
  static Value Number(Value::Type type, T value) {
    Value v;
    v.type = type;
    v.bits = std::bit_cast<uint64_t>(value);
    return v;
  }

  bool TooLong(const string_t& text) {
    if (text.size() <= UINT32_MAX) return false;
    error_ = "a string of 4 GiB or more";
    return true;
  }

  uint64_t Store(std::string_view value) {
    const size_t first = strings_.size();
    strings_.append(value);
    return first;
  }

  // Places `value` in its parent and gives its index.
  uint32_t Place(Value value) {
    value.line = count_.TokenLine();
    const auto index = static_cast<uint32_t>(values_.size());
    values_.push_back(value);
    if (depth_ > 0) {
      std::vector<Member>& siblings = open_[depth_ - 1];
      if (values_[open_values_[depth_ - 1]].type == Value::Type::kArray) {
        siblings.push_back({0, 0, index});
      } else {
        siblings.push_back({key_, keySize_, index});  // keys are unique: key() refuses a repeat
      }
    }
    return index;
  }
  bool Add(const Value& value) {
    Place(value);
    return true;
  }
  bool Open(Value::Type type) {
    if (depth_ == kMaxDepth) {
      error_ = "values nested more than " + std::to_string(kMaxDepth) + " deep";
      return false;
    }
    Value v;
    v.type = type;
    const uint32_t index = Place(v);
    if (open_.size() == depth_) open_.emplace_back();
    open_[depth_].clear();
    open_values_[depth_] = index;
    ++depth_;
    return true;
  }
  // The members of a closed container lie side by side in `members_`.
  bool Close() {
    --depth_;
    Value& v = values_[open_values_[depth_]];
    const std::vector<Member>& mine = open_[depth_];
    v.bits = members_.size();
    v.size = static_cast<uint32_t>(mine.size());
    members_.insert(members_.end(), mine.begin(), mine.end());
    return true;
  }

  static constexpr size_t kMaxDepth = 100;

  LineCount& count_;
  std::vector<Value> values_;
  std::vector<Member> members_;
  std::string strings_;
  // The members of each open container so far, reused from one container to the next.
  std::vector<std::vector<Member>> open_;
  std::array<uint32_t, kMaxDepth> open_values_{};
  size_t depth_ = 0;
  uint64_t key_ = 0;
  uint32_t keySize_ = 0;
  std::string error_;
};

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

// Reads the scene's values from the lined tree, each error naming the file
// and the value's line.
class SceneReader {
 public:
  using Node = Value;

  SceneReader(const LinedBuilder& doc, std::string fileName) : doc_(doc), fileName_(std::move(fileName)) {}

  [[noreturn]] void Fail(const Value& v, const std::string& message) const {
    throw InputError(fileName_ + ":" + std::to_string(v.line) + ": " + message);
  }

  const Value& Root() const { return doc_.root(); }

  void Keys(const Value& object, const Path& at, std::initializer_list<std::string_view> allowed) const {
    if (object.type != Value::Type::kObject) Fail(object, at.Name() + " must be an object");
    for (const Member& m : Members(object)) {
      const std::string_view key = doc_.Text(m.key, m.keySize);
      if (std::find(allowed.begin(), allowed.end(), key) == allowed.end()) {
        Fail(doc_.at(m.value), "unknown field " + QuoteInput(key) + " in " + at.Name());
      }
    }
  }

  // The same check, giving the value of each allowed field, or null, in the
  // order of `allowed`: one pass instead of a Find for each field.
  template <size_t N>
  std::array<const Value*, N> Fields(const Value& object, const Path& at,
                                     const std::array<std::string_view, N>& allowed) const {
    if (object.type != Value::Type::kObject) Fail(object, at.Name() + " must be an object");
    std::array<const Value*, N> found{};
    for (const Member& m : Members(object)) {
      const std::string_view key = doc_.Text(m.key, m.keySize);
      const auto field = std::find(allowed.begin(), allowed.end(), key);
      if (field == allowed.end())
        Fail(doc_.at(m.value), "unknown field " + QuoteInput(key) + " in " + at.Name());
      found[static_cast<size_t>(field - allowed.begin())] = &doc_.at(m.value);
    }
    return found;
  }

  // The field `key` of an object, or nothing.
  const Value* Find(const Value& object, std::string_view key) const {
    for (const Member& m : Members(object)) {
      if (doc_.Text(m.key, m.keySize) == key) return &doc_.at(m.value);
    }
    return nullptr;
  }

  static bool IsNull(const Value& v) { return v.type == Value::Type::kNull; }
  std::string String(const Value& v, const Path& at) const {
    if (v.type != Value::Type::kString) Fail(v, at.Name() + " must be a string");
    return std::string(doc_.Text(v));
  }
  bool Bool(const Value& v, const Path& at) const {
    if (v.type != Value::Type::kBoolean) Fail(v, at.Name() + " must be true or false");
    return v.boolean;
  }
  int32_t Int(const Value& v, const Path& at) const {
    const auto value = std::bit_cast<int64_t>(v.bits);
    if ((v.type != Value::Type::kInteger && v.type != Value::Type::kUnsigned) ||
        (v.type == Value::Type::kUnsigned && v.bits > INT32_MAX) || value < INT32_MIN || value > INT32_MAX) {
      Fail(v, at.Name() + " must be a whole number");
    }
    return static_cast<int32_t>(value);
  }
  double Number(const Value& v, const Path& at) const {
    switch (v.type) {
      case Value::Type::kInteger:
        return static_cast<double>(std::bit_cast<int64_t>(v.bits));
      case Value::Type::kUnsigned:
        return static_cast<double>(v.bits);
      case Value::Type::kFloat:
        return std::bit_cast<double>(v.bits);
      default:
        Fail(v, at.Name() + " must be a number");
    }
  }
  // The entries of a list.
  std::span<const Member> Array(const Value& v, const Path& at) const {
    if (v.type != Value::Type::kArray) Fail(v, at.Name() + " must be a list");
    return Members(v);
  }
  const Value& Of(const Member& m) const { return doc_.at(m.value); }

 private:
  std::span<const Member> Members(const Value& v) const {
    if (v.type != Value::Type::kArray && v.type != Value::Type::kObject) return {};
    return {doc_.members().data() + v.bits, v.size};
  }

  const LinedBuilder& doc_;
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
    const auto entries = r.Array(*deps, where);
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
    const auto entries = r.Array(*documents, where);
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
  LineCount count(text.data());
  LinedBuilder doc(count);
  const char* begin = text.data();
  if (!json::sax_parse(CountingIterator(begin, &count), CountingIterator(begin + text.size(), &count),
                       &doc)) {
    throw InputError(fileName + ":" + std::to_string(count.LastLine()) + ": not valid JSON: " + doc.error());
  }
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
