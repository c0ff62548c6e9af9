#include "sim/script_parser.h"

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <utility>

namespace ponderix::sim {

namespace {

std::string Trim(std::string_view s) {
  const auto begin = s.find_first_not_of(" \t\r");
  if (begin == std::string_view::npos) return {};
  const auto end = s.find_last_not_of(" \t\r");
  return std::string(s.substr(begin, end - begin + 1));
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// Edit distance between a and b.
size_t Distance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

std::string Printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendPrintable(out, text);
  return out;
}

void AppendPrintable(std::string& out, std::string_view text) {
  auto hex = [&out](unsigned char c) {
    char code[5];
    std::snprintf(code, sizeof code, "\\x%02X", c);
    out += code;
  };
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      if (c < 0x20 || c == 0x7F) {
        hex(c);
        ++i;
        continue;
      }
      // Printable ASCII in one run: the summary prints the paths of a large scene.
      size_t end = i + 1;
      while (end < text.size() && static_cast<unsigned char>(text[end]) >= 0x20 &&
             static_cast<unsigned char>(text[end]) < 0x7F)
        ++end;
      out.append(text, i, end - i);
      i = end;
      continue;
    }
    const size_t n = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    bool ok = n > 0 && i + n <= text.size();
    for (size_t k = 1; ok && k < n; ++k) ok = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
    if (ok) {
      // No overlong forms, surrogates or code points past U+10FFFF; and the
      // C1 controls U+0080..U+009F are controls too.
      const auto d = static_cast<unsigned char>(text[i + 1]);
      ok = !((c == 0xE0 && d < 0xA0) || (c == 0xED && d > 0x9F) || (c == 0xF0 && d < 0x90) ||
             (c == 0xF4 && d > 0x8F) || (c == 0xC2 && d < 0xA0));
    }
    if (!ok) {
      hex(c);
      ++i;
      continue;
    }
    out.append(text.substr(i, n));
    i += n;
  }
}

std::string QuoteInput(std::string_view text) {
  constexpr size_t kMaxCharacters = 80;
  size_t characters = 0;
  size_t end = text.size();
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && characters++ == kMaxCharacters) {
      end = i;
      break;
    }
  }
  // Appended piece by piece: GCC 12 at -O2 warns falsely (-Wrestrict) on "x" + std::string.
  std::string quoted(1, '"');
  quoted += Printable(text.substr(0, end));
  if (end < text.size()) quoted += "...";
  quoted += '"';
  return quoted;
}

const std::string* Nearest(std::string_view wanted, const std::vector<std::string>& candidates) {
  const std::string w = Lower(wanted);
  const size_t limit = w.size() <= 2 ? 0 : w.size() <= 4 ? 1 : 2;
  const std::string* best = nullptr;
  size_t bestDistance = limit + 1;
  const std::string* containing = nullptr;
  for (const std::string& candidate : candidates) {
    const std::string c = Lower(candidate);
    if (c == w) return &candidate;
    if (c.size() <= w.size() + limit && w.size() <= c.size() + limit) {
      if (const size_t d = Distance(w, c); d < bestDistance) {
        bestDistance = d;
        best = &candidate;
      }
    }
    if (!containing && w.size() >= 3 && c.find(w) != std::string::npos) containing = &candidate;
  }
  return best ? best : containing;
}

std::string NearMiss(std::string_view wanted, const std::vector<std::string>& candidates) {
  const std::string* best = Nearest(wanted, candidates);
  return best ? "; did you mean " + QuoteInput(*best) + "?" : "";
}

std::optional<Action> ParseAction(const std::string& rawLine, int lineNumber) {
  std::string line = rawLine;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  const std::string trimmed = Trim(line);
  if (trimmed.empty() || trimmed.front() == '#') return std::nullopt;

  const auto space = trimmed.find(' ');
  const std::string verb = trimmed.substr(0, space);
  // Everything after "type " is the text, blanks and "#" included.
  const std::string rest = space == std::string::npos ? "" : trimmed.substr(space + 1);
  Action a;
  a.line = lineNumber;
  if (verb == "type") {
    a.kind = Action::Kind::kType;
    const auto at = line.find("type");
    a.argument = at + 5 <= line.size() ? line.substr(at + 5) : "";
    return a;
  }
  // Elsewhere a blank followed by "#" starts a comment.
  std::string args = rest;
  if (const auto hash = args.find(" #"); hash != std::string::npos) args.erase(hash);
  if (!args.empty() && args.front() == '#') args.clear();
  args = Trim(args);
  const auto argSpace = args.find(' ');
  const std::string first = args.substr(0, argSpace);
  const std::string second = argSpace == std::string::npos ? "" : Trim(args.substr(argSpace + 1));

  auto need = [&](bool ok, const char* usage) {
    if (!ok) throw ScriptError(lineNumber, std::string("expected ") + usage);
  };
  if (verb == "click" || verb == "focus") {
    need(!first.empty() && second.empty(), verb == "click" ? "click CONTROL" : "focus CONTROL");
    a.kind = verb == "click" ? Action::Kind::kClick : Action::Kind::kFocus;
    a.control = first;
  } else if (verb == "tick" || verb == "untick") {
    need(!args.empty(), verb == "tick" ? "tick ROW" : "untick ROW");
    a.kind = verb == "tick" ? Action::Kind::kTick : Action::Kind::kUntick;
    a.argument = args;
  } else if (verb == "pick") {
    need(!first.empty() && !second.empty(), "pick CONTROL INDEX-or-TEXT");
    a.kind = Action::Kind::kPick;
    a.control = first;
    a.argument = second;
  } else if (verb == "key") {
    const std::string key = Lower(args);
    need(key == "tab" || key == "enter" || key == "esc", "key Tab, key Enter or key Esc");
    a.kind = Action::Kind::kKey;
    a.argument = key == "tab" ? "Tab" : key == "enter" ? "Enter" : "Esc";
  } else if (verb == "close" || verb == "snapshot") {
    need(args.empty(), verb == "close" ? "close with nothing after it" : "snapshot with nothing after it");
    a.kind = verb == "close" ? Action::Kind::kClose : Action::Kind::kSnapshot;
  } else {
    const std::string nearMiss =
        NearMiss(verb, {"click", "tick", "untick", "pick", "focus", "type", "key", "close", "snapshot"});
    throw ScriptError(
        lineNumber, "unknown action " + QuoteInput(verb) +
                        (nearMiss.empty() ? " (click, tick, untick, pick, focus, type, key, close, snapshot)"
                                          : nearMiss));
  }
  return a;
}

std::vector<Action> ParseScript(const std::string& text) {
  std::vector<Action> actions;
  // An editor may start the file with a UTF-8 byte-order mark.
  std::istringstream in(text.starts_with("\xEF\xBB\xBF") ? text.substr(3) : text);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (auto action = ParseAction(line, number)) actions.push_back(std::move(*action));
  }
  return actions;
}

}  // namespace ponderix::sim
