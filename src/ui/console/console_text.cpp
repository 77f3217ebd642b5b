#include "ui/console/console_text.h"

#include <algorithm>
#include <cstdio>

#include "panel/text_catalog.h"

namespace ui {
namespace {

using panel::TextId;

// The code point at *i, which moves past it.
char32_t Decode(const std::string& s, std::size_t* i) {
  const auto c = static_cast<unsigned char>(s[*i]);
  const int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
  char32_t cp = extra == 0 ? c : c & (0x3F >> extra);
  ++*i;
  for (int k = 0; k < extra && *i < s.size(); ++k, ++*i) {
    cp = cp << 6 | (static_cast<unsigned char>(s[*i]) & 0x3F);
  }
  return cp;
}

bool Wide(char32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
         (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
         (c >= 0xFFE0 && c <= 0xFFE6);
}

std::size_t Width(char32_t c) {
  return Wide(c) ? 2 : 1;
}

std::string Version(const std::optional<int>& v) {
  return v ? std::to_string(*v) : "-";
}

// One line of Wrap: words go on while they fit; a word wider than a line is broken.
void WrapLine(const std::string& line, std::size_t width, std::size_t hang, std::string* out) {
  const std::size_t indent = std::min(line.find_first_not_of(' '), line.size());
  const std::string next(indent + hang, ' ');
  std::string current = line.substr(0, indent);
  std::size_t used = indent;
  bool placed = false;  // something stands on the current line after its indentation
  const auto breakLine = [&] {
    *out += current + "\n";
    current = next;
    used = next.size();
    placed = false;
  };
  for (std::size_t i = indent; i < line.size();) {
    const std::size_t end = std::min(line.find(' ', i), line.size());
    const std::string word = line.substr(i, end - i);
    i = end + 1;
    if (word.empty()) continue;
    // A word goes to the next line whole, unless it is wider than a line or is Japanese,
    // which breaks between any two characters.
    const std::size_t w = DisplayWidth(word);
    const bool breaksAnywhere = w > width - next.size() || w != word.size();
    if (placed && used + 1 + (breaksAnywhere ? 2 : w) > width) breakLine();
    if (placed) {
      current += ' ';
      ++used;
    }
    for (std::size_t k = 0; k < word.size();) {
      const std::size_t start = k;
      const std::size_t c = Width(Decode(word, &k));
      if (placed && used + c > width) breakLine();
      current += word.substr(start, k - start);
      used += c;
      placed = true;
    }
  }
  *out += current;
}

}  // namespace

std::size_t DisplayWidth(const std::string& utf8) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < utf8.size();) width += Width(Decode(utf8, &i));
  return width;
}

std::string PadTo(const std::string& text, std::size_t width) {
  const std::size_t w = DisplayWidth(text);
  return w >= width ? text : text + std::string(width - w, ' ');
}

std::string CutTo(const std::string& text, std::size_t width) {
  std::size_t used = 0, i = 0;
  while (i < text.size()) {
    std::size_t next = i;
    const std::size_t w = Width(Decode(text, &next));
    if (used + w > width) break;
    used += w;
    i = next;
  }
  return text.substr(0, i);
}

std::string OneLine(std::string text) {
  std::replace(text.begin(), text.end(), '\n', ' ');
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string Table(const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::size_t> widths;
  for (const auto& row : rows) {
    widths.resize(std::max(widths.size(), row.size()));
    for (std::size_t c = 0; c < row.size(); ++c)
      widths[c] = std::max(widths[c], DisplayWidth(row[c]));
  }
  std::string out;
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c) {
      line += c + 1 < row.size() ? PadTo(row[c], widths[c]) + "  " : row[c];
    }
    out += line.substr(0, line.find_last_not_of(' ') + 1) + "\n";
  }
  return out;
}

std::string Wrap(const std::string& text, std::size_t width, std::size_t hang) {
  std::string out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find('\n', start);
    WrapLine(text.substr(start, end == std::string::npos ? std::string::npos : end - start),
             std::max<std::size_t>(width, 20), hang, &out);
    if (end == std::string::npos) return out;
    out += "\n";
    start = end + 1;
  }
}

std::string OutcomeDetail(const report::DeviceReport& r) {
  std::string detail;
  if (r.failure.kind != update::FailureKind::None) {
    detail = OneLine(r.reason);
  } else if (r.versionBefore) {
    // A dry run's "after" is the version it would write.
    const bool would = r.result == update::Result::WouldUpdate && r.dataFile;
    detail = Version(r.versionBefore) + " -> " +
             (would ? std::to_string(r.dataFile->version) : Version(r.versionAfter));
  }
  // Only a device whose writing began and did not end shows 0 (or one that showed it before).
  if (r.result != update::Result::Updated && r.versionAfter == 0) {
    detail = panel::FormatText(TextId::ResultVersionZero, {detail});
  }
  if (r.XPortLeftChanged()) detail = panel::FormatText(TextId::ResultXPortChanged, {detail});
  return detail;
}

std::string ResultLine(const report::DeviceReport& r) {
  std::string result = panel::Text(update::ResultText(r.result));
  // The result opens the line: "Updated", whichever language has capitals.
  if (!result.empty() && result[0] >= 'a' && result[0] <= 'z')
    result[0] = static_cast<char>(result[0] - 'a' + 'A');
  const std::string detail = OutcomeDetail(r);
  if (detail.empty()) return result + " " + r.address;
  return panel::FormatText(TextId::ResultLine, {result, r.address, detail});
}

std::string DeviceEndLine(const report::DeviceReport& r) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f", r.seconds);
  return "[" + r.address + "] " +
         panel::FormatText(TextId::DeviceEndLine,
                           {panel::Text(update::ResultText(r.result)), seconds, OutcomeDetail(r)});
}

}  // namespace ui
