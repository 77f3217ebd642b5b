// The console's own text shaping: widths in terminal columns, tables whose columns fit
// their longest value, wrapped paragraphs, and the line that says how a device's run ended.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "report/device_report.h"

namespace ui {

// Columns in a terminal: East Asian wide characters take two, half-width katakana one.
std::size_t DisplayWidth(const std::string& utf8);
// text padded with spaces to width columns (never cut).
std::string PadTo(const std::string& text, std::size_t width);
// text cut to at most width columns, whole characters only.
std::string CutTo(const std::string& text, std::size_t width);
// A text on one line: its line ends become spaces, leading and trailing ones are dropped.
std::string OneLine(std::string text);

// Rows of cells, the first the header: each column padded to its widest cell, two spaces
// between columns, the last column unpadded. One line per row.
std::string Table(const std::vector<std::vector<std::string>>& rows);

// text wrapped at width columns: lines break at spaces (or between any two characters of a
// word wider than a line), and each continuation line starts with the indentation of the
// line it continues plus hang spaces. Line ends already in text stay.
std::string Wrap(const std::string& text, std::size_t width, std::size_t hang = 0);

// What a device's run came to, without its result: the reason when it failed ("the XPort
// did not answer"), else its versions ("101 -> 102"); then that it shows version 0 or that
// its XPort is still changed, when so.
std::string OutcomeDetail(const report::DeviceReport& report);
// A single run's last line: "Updated 127.0.0.2: 101 -> 102".
std::string ResultLine(const report::DeviceReport& report);
// A batch's line for a finished device: "[127.0.0.2] updated in 6.1 s: 101 -> 102".
std::string DeviceEndLine(const report::DeviceReport& report);

}  // namespace ui
