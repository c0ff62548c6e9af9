#include "sim/sim_json.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <set>

#include <nlohmann/json.hpp>

namespace ponderix::sim {

namespace {

using json = nlohmann::ordered_json;

// Counts lines while the parser reads, so that every value can be traced back
// to the line it stands on: the line of the last character that is not a
// blank is the line of the token just read.
struct LineCount {
  int line = 1;
  int tokenLine = 1;
  int lastLine = 1;  // the line of the last character read, where a syntax error is found
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
    count_->lastLine = count_->line;
    if (*p_ == '\n') {
      ++count_->line;
    } else if (*p_ != ' ' && *p_ != '\t' && *p_ != '\r') {
      count_->tokenLine = count_->line;
    }
    ++p_;
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

// Builds the document and remembers the line of every value by its JSON pointer.
class LinedBuilder : public nlohmann::json_sax<json> {
 public:
  explicit LinedBuilder(const LineCount& count) : count_(count) {}

  bool null() override { return Add(nullptr); }
  bool boolean(bool value) override { return Add(value); }
  bool number_integer(number_integer_t value) override { return Add(value); }
  bool number_unsigned(number_unsigned_t value) override { return Add(value); }
  bool number_float(number_float_t value, const string_t& /*text*/) override { return Add(value); }
  bool string(string_t& value) override { return Add(value); }
  bool binary(binary_t& value) override { return Add(json::binary(value)); }
  bool start_object(std::size_t /*size*/) override { return Open(json::object()); }
  bool key(string_t& key) override {
    if (stack_.back().first->contains(key)) {
      error_ = "the field " + QuoteInput(key) + " is given twice";
      return false;
    }
    key_ = key;
    return true;
  }
  bool end_object() override { return Close(); }
  bool start_array(std::size_t /*size*/) override { return Open(json::array()); }
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

  json root;
  std::map<std::string, int> lines;
  const std::string& error() const { return error_; }

 private:
  static std::string Escape(const std::string& token) {
    std::string out;
    for (char c : token) {
      if (c == '~') {
        out += "~0";
      } else if (c == '/') {
        out += "~1";
      } else {
        out += c;
      }
    }
    return out;
  }

  // Places `value` in its parent and gives its address.
  json* Place(json value) {
    if (stack_.empty()) {
      root = std::move(value);
      pointer_ = "";
      lines[pointer_] = count_.tokenLine;
      return &root;
    }
    json& parent = *stack_.back().first;
    const std::string& base = stack_.back().second;
    json* placed = nullptr;
    if (parent.is_array()) {
      pointer_ = base + "/" + std::to_string(parent.size());
      parent.push_back(std::move(value));
      placed = &parent.back();
    } else {
      pointer_ = base + "/" + Escape(key_);
      placed = &(parent[key_] = std::move(value));
    }
    lines[pointer_] = count_.tokenLine;
    return placed;
  }
  bool Add(json value) {
    Place(std::move(value));
    return true;
  }
  bool Open(json container) {
    // Every value keeps its pointer, so the cost grows with the square of the depth.
    if (stack_.size() == kMaxDepth) {
      error_ = "values nested more than " + std::to_string(kMaxDepth) + " deep";
      return false;
    }
    json* placed = Place(std::move(container));
    stack_.emplace_back(placed, pointer_);
    return true;
  }
  bool Close() {
    stack_.pop_back();
    return true;
  }

  static constexpr size_t kMaxDepth = 100;

  const LineCount& count_;
  std::vector<std::pair<json*, std::string>> stack_;
  std::string key_;
  std::string pointer_;
  std::string error_;
};

// Reads the scene's values, each error naming the file and the value's line.
class SceneReader {
 public:
  SceneReader(const LinedBuilder& doc, std::string fileName) : doc_(doc), fileName_(std::move(fileName)) {}

  [[noreturn]] void Fail(const std::string& pointer, const std::string& message) const {
    int line = 1;
    // The value itself, or the closest enclosing one that has a line.
    for (std::string p = pointer;; p.erase(p.rfind('/'))) {
      if (const auto it = doc_.lines.find(p); it != doc_.lines.end()) {
        line = it->second;
        break;
      }
      if (p.empty()) break;
    }
    throw InputError(fileName_ + ":" + std::to_string(line) + ": " + message);
  }

  static std::string Name(const std::string& pointer) {
    std::string name = pointer.empty() ? "the scene" : pointer.substr(1);
    std::replace(name.begin(), name.end(), '/', '.');
    return name;
  }

  const json& At(const std::string& pointer) const { return doc_.root.at(json::json_pointer(pointer)); }

  void Keys(const std::string& pointer, std::initializer_list<std::string_view> allowed) const {
    const json& object = At(pointer);
    if (!object.is_object()) Fail(pointer, Name(pointer) + " must be an object");
    for (const auto& [key, value] : object.items()) {
      if (std::find(allowed.begin(), allowed.end(), key) == allowed.end()) {
        Fail((json::json_pointer(pointer) / key).to_string(),
             "unknown field " + QuoteInput(key) + " in " + Name(pointer));
      }
    }
  }

  bool Has(const std::string& pointer, const std::string& key) const { return At(pointer).contains(key); }

  std::string String(const std::string& pointer) const {
    const json& v = At(pointer);
    if (!v.is_string()) Fail(pointer, Name(pointer) + " must be a string");
    return v.get<std::string>();
  }
  bool Bool(const std::string& pointer) const {
    const json& v = At(pointer);
    if (!v.is_boolean()) Fail(pointer, Name(pointer) + " must be true or false");
    return v.get<bool>();
  }
  int32_t Int(const std::string& pointer) const {
    const json& v = At(pointer);
    if (!v.is_number_integer() || (v.is_number_unsigned() && v.get<uint64_t>() > INT32_MAX) ||
        v.get<int64_t>() < INT32_MIN || v.get<int64_t>() > INT32_MAX) {
      Fail(pointer, Name(pointer) + " must be a whole number");
    }
    return static_cast<int32_t>(v.get<int64_t>());
  }
  double Number(const std::string& pointer) const {
    const json& v = At(pointer);
    if (!v.is_number()) Fail(pointer, Name(pointer) + " must be a number");
    return v.get<double>();
  }
  size_t Array(const std::string& pointer) const {
    const json& v = At(pointer);
    if (!v.is_array()) Fail(pointer, Name(pointer) + " must be a list");
    return v.size();
  }

 private:
  const LinedBuilder& doc_;
  std::string fileName_;
};

SimDocument ReadDocument(const SceneReader& r, const std::string& at) {
  r.Keys(at, {"path", "type", "open", "visible", "lengthUnit", "density", "dependencies"});
  SimDocument d;
  if (!r.Has(at, "path")) r.Fail(at, SceneReader::Name(at) + " needs a path");
  d.path = r.String(at + "/path");
  if (d.path.empty()) r.Fail(at + "/path", SceneReader::Name(at) + " has an empty path");
  if (r.Has(at, "type")) {
    d.type = r.Int(at + "/type");
    if (d.type < 1 || d.type > 3) r.Fail(at + "/type", "type must be 1 (part), 2 (assembly) or 3 (drawing)");
  }
  if (r.Has(at, "open")) d.open = r.Bool(at + "/open");
  if (r.Has(at, "visible")) d.visible = r.Bool(at + "/visible");
  if (r.Has(at, "lengthUnit")) d.lengthUnit = r.Int(at + "/lengthUnit");
  if (r.Has(at, "density")) d.density = r.Number(at + "/density");
  if (r.Has(at, "dependencies")) {
    const std::string deps = at + "/dependencies";
    std::vector<std::string> list;
    for (size_t i = 0, n = r.Array(deps); i < n; ++i)
      list.push_back(r.String(deps + "/" + std::to_string(i)));
    d.dependencies = std::move(list);
  }
  return d;
}

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

}  // namespace

Scene ParseScene(const std::string& text, const std::string& fileName) {
  LineCount count;
  LinedBuilder doc(count);
  const char* begin = text.data();
  if (!json::sax_parse(CountingIterator(begin, &count), CountingIterator(begin + text.size(), &count),
                       &doc)) {
    throw InputError(fileName + ":" + std::to_string(count.lastLine) + ": not valid JSON: " + doc.error());
  }
  const SceneReader r(doc, fileName);
  r.Keys("", {"documents", "active", "selection", "menuName", "decimalSeparator", "failures", "menu"});

  Scene scene;
  std::set<std::string> paths;
  if (r.Has("", "documents")) {
    for (size_t i = 0, n = r.Array("/documents"); i < n; ++i) {
      const std::string at = "/documents/" + std::to_string(i);
      SimDocument d = ReadDocument(r, at);
      if (!paths.insert(d.path).second)
        r.Fail(at + "/path", "the document " + QuoteInput(d.path) + " is listed twice");
      scene.documents.push_back(std::move(d));
    }
  }
  if (r.Has("", "active") && !r.At("/active").is_null()) {
    scene.active = r.String("/active");
    if (!paths.contains(*scene.active))
      r.Fail("/active", "active names " + QuoteInput(*scene.active) + ", which is not in documents");
  }
  if (r.Has("", "selection")) {
    for (size_t i = 0, n = r.Array("/selection"); i < n; ++i) {
      const std::string at = "/selection/" + std::to_string(i);
      if (r.At(at).is_null()) {
        scene.selection.emplace_back(std::nullopt);
      } else {
        scene.selection.emplace_back(r.String(at));
      }
    }
  }
  if (r.Has("", "menuName")) scene.menuName = r.String("/menuName");
  if (r.Has("", "decimalSeparator")) {
    scene.decimalSeparator = r.String("/decimalSeparator");
    if (scene.decimalSeparator.empty()) r.Fail("/decimalSeparator", "decimalSeparator must not be empty");
  }
  if (r.Has("", "failures")) {
    for (size_t i = 0, n = r.Array("/failures"); i < n; ++i) {
      const std::string at = "/failures/" + std::to_string(i);
      r.Keys(at, {"call", "path"});
      if (!r.Has(at, "call")) r.Fail(at, SceneReader::Name(at) + " needs a call");
      SimFailure f{r.String(at + "/call"), std::nullopt};
      if (std::find(std::begin(kContractOperations), std::end(kContractOperations), f.call) ==
          std::end(kContractOperations)) {
        r.Fail(at + "/call", "no host operation is called " + QuoteInput(f.call));
      }
      if (r.Has(at, "path")) f.path = r.String(at + "/path");
      scene.failures.push_back(std::move(f));
    }
  }
  if (r.Has("", "menu")) {
    for (size_t i = 0, n = r.Array("/menu"); i < n; ++i) {
      const std::string at = "/menu/" + std::to_string(i);
      r.Keys(at, {"docType", "path"});
      if (!r.Has(at, "docType") || !r.Has(at, "path"))
        r.Fail(at, SceneReader::Name(at) + " needs docType and path");
      scene.menu.push_back(
          {r.Int(at + "/docType"), r.String(at + "/path"), std::nullopt, std::nullopt, std::nullopt});
    }
  }
  return scene;
}

std::string ResultJson(const SessionResult& result) {
  json messages = json::array();
  for (const Message& m : result.messages) {
    messages.push_back({{"kind", m.kind == Message::Kind::kHost ? "host" : "box"}, {"text", m.text}});
  }
  json documents = json::array();
  for (const DocumentState& d : result.documents) {
    documents.push_back({{"path", d.path},
                         {"open", d.open},
                         {"visible", d.visible},
                         {"densityBefore", d.densityBefore},
                         {"density", d.density},
                         {"modified", d.modified}});
  }
  json events = json::array();
  for (const Event& e : result.events) {
    json event = {{"kind", EventKindName(e.kind)}};
    switch (e.kind) {
      case Event::Kind::kMessage:
      case Event::Kind::kBox:
        event["text"] = e.text;
        break;
      case Event::Kind::kOpen:
      case Event::Kind::kActivate:
        event["path"] = e.path;
        break;
      case Event::Kind::kVisible:
        event["path"] = e.path;
        event["visible"] = e.visible;
        break;
      case Event::Kind::kDensity:
        event["path"] = e.path;
        event["density"] = e.density;
        break;
      case Event::Kind::kWebPage:
        event["address"] = e.path;
        break;
    }
    events.push_back(std::move(event));
  }
  json snapshots = json::array();
  for (const FormSnapshot& s : result.snapshots) snapshots.push_back(SnapshotJson(s));
  const json out = {{"outcome", OutcomeName(result.outcome)},
                    {"messages", std::move(messages)},
                    {"documents", std::move(documents)},
                    {"active", result.active ? json(*result.active) : json(nullptr)},
                    {"failure", result.failure ? json(*result.failure) : json(nullptr)},
                    {"heldReferences", result.heldReferences},
                    {"events", std::move(events)},
                    {"snapshots", std::move(snapshots)},
                    {"menu", MenuJson(result.menu)},
                    {"menuAfterDisconnect", MenuJson(result.menuAfterDisconnect)}};
  // What a user typed may be any bytes: replace what is not UTF-8 rather than fail.
  return out.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace ponderix::sim
