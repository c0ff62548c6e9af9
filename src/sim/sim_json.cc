#include "sim/sim_json.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <optional>
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
    LineCount count(text.data());
    Builder builder(doc_, lines_, count);
    const char* begin = text.data();
    if (!json::sax_parse(CountingIterator(begin, &count), CountingIterator(begin + text.size(), &count),
                         &builder)) {
      throw InputError(fileName + ":" + std::to_string(count.LastLine()) +
                       ": not valid JSON: " + builder.error());
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
  // The library's own document builder, noting each value's line as it comes.
  class Builder : public nlohmann::json_sax<json> {
   public:
    Builder(json& doc, std::vector<int>& lines, LineCount& count)
        : dom_(doc, false), lines_(lines), count_(count) {}

    bool null() override { return Line() && dom_.null(); }
    bool boolean(bool value) override { return Line() && dom_.boolean(value); }
    bool number_integer(number_integer_t value) override { return Line() && dom_.number_integer(value); }
    bool number_unsigned(number_unsigned_t value) override { return Line() && dom_.number_unsigned(value); }
    bool number_float(number_float_t value, const string_t& text) override {
      return Line() && dom_.number_float(value, text);
    }
    bool string(string_t& value) override { return Line() && dom_.string(value); }
    bool binary(binary_t& value) override { return Line() && dom_.binary(value); }
    bool start_object(std::size_t size) override {
      keys_.emplace_back();
      return Open() && dom_.start_object(size);
    }
    bool key(string_t& key) override {
      // A field given twice would silently take one of its values.
      if (std::find(keys_.back().begin(), keys_.back().end(), key) != keys_.back().end()) {
        error_ = "the field " + QuoteInput(key) + " is given twice";
        return false;
      }
      keys_.back().push_back(key);
      return dom_.key(key);
    }
    bool end_object() override {
      keys_.pop_back();
      --depth_;
      return dom_.end_object();
    }
    bool start_array(std::size_t size) override { return Open() && dom_.start_array(size); }
    bool end_array() override {
      --depth_;
      return dom_.end_array();
    }
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

   private:
    bool Line() {
      lines_.push_back(count_.TokenLine());
      return true;
    }
    bool Open() {
      if (depth_ == kMaxDepth) {
        error_ = "values nested more than " + std::to_string(kMaxDepth) + " deep";
        return false;
      }
      ++depth_;
      return Line();
    }

    static constexpr size_t kMaxDepth = 100;

    nlohmann::detail::json_sax_dom_parser<json> dom_;
    std::vector<int>& lines_;
    LineCount& count_;
    std::vector<std::vector<std::string>> keys_;  // of the open objects
    size_t depth_ = 0;
    std::string error_;
  };

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
// Thrown where a scene read through simdjson is at fault: the JSON library
// then reads it again (LinedJson) and SceneReader words the message.
struct Unplain {};

// Reads the scene's values from simdjson's document as SceneReader reads the
// library's, the same values to the bit, but with no line to give: any fault
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
  // A whole number converted as SceneReader converts it ("-0" is 0.0).
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
// that SceneReader finds the fault that DomReader gave up at.
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

}  // namespace

Scene ParseScene(std::string_view text, const std::string& fileName, bool padded) {
#ifdef PONDERIX_SIMDJSON
  // simdjson reads most scenes several times faster than the JSON library.
  // A scene at fault, or one it reads otherwise (a number beyond 64 bits, a
  // byte order mark), goes on to the library, whose messages name the line.
  static_assert(kScenePadding >= simdjson::SIMDJSON_PADDING);
  {
    simdjson::dom::parser parser;
    // Its tape and strings on huge pages: a large scene's are written once from end to end.
    if (parser.allocate(text.size()) == simdjson::SUCCESS &&
        parser.doc.allocate(text.size()) == simdjson::SUCCESS) {
      AdviseHugePages(parser.doc.tape.get(), (text.size() + 3) * sizeof(uint64_t));
      AdviseHugePages(parser.doc.string_buf.get(), text.size() * 5 / 3);
    }
    simdjson::dom::element root;
    // Text without padding after it is copied by simdjson itself where it must be.
    if (parser.parse(text.data(), text.size(), !padded).get(root) == simdjson::SUCCESS) {
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

}  // namespace ponderix::sim
