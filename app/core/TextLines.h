// Lists of text lines: the weights and matching lists of the pairing window
// and the files wm.in and wm.out they are saved to and loaded from.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pelvaro {

using TextLines = std::vector<std::string>;

// Splits at CR, LF or CR LF. A line end at the very end adds no empty line,
// so "a\r\nb\r\n" and "a\r\nb" both give two lines.
TextLines SplitLines(std::string_view text);

// Programs of a Linux desktop end lines with LF alone, while the pairing
// grid's clipboard text ends rows with CR (CR LF, as clipboard text always
// had). Returns the text with every LF that has no CR before it preceded by
// one, so such text keeps its rows; CR LF and CR-only ends are unchanged.
std::string LineFeedsToCrLf(std::string_view text);

// Every line followed by `lineEnd`, the last one included.
std::string JoinLines(const TextLines& lines, std::string_view lineEnd);

// Writes each line ended by CR LF. Raises EFileError
// ("Cannot create file "<path>". <reason>") when the file cannot be written.
void SaveLinesToFile(const TextLines& lines, const std::string& path);

// Reads a text file as lines (SplitLines). Raises EFileError
// ("Cannot open file "<path>". <reason>") when it cannot be read.
TextLines LoadLinesFromFile(const std::string& path);

}  // namespace pelvaro
