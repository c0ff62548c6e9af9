// The result document (sim_json.h), laid out as the JSON library's dump(2) lays it out.
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/sim_json.h"

namespace ponderix::sim {

namespace {

using json = nlohmann::ordered_json;

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
// a step, as a result's paths run long.
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
