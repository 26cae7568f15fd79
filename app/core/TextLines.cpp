#include "app/core/TextLines.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "app/core/CoreErrors.h"

namespace pelvaro {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// The name the user sees in file errors: absolute, as the file was meant.
std::string ShownPath(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  return ec ? path : absolute.string();
}

[[noreturn]] void FileError(const char* what, const std::string& path, int error) {
  throw EFileError(std::string(what) + " \"" + ShownPath(path) + "\". " + std::strerror(error));
}

}  // namespace

TextLines SplitLines(std::string_view text) {
  TextLines lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      lines.emplace_back(text.substr(start));
      break;
    }
    lines.emplace_back(text.substr(start, end - start));
    if (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ++end;
    start = end + 1;
  }
  return lines;
}

std::string JoinLines(const TextLines& lines, std::string_view lineEnd) {
  size_t size = 0;
  for (const std::string& line : lines) size += line.size() + lineEnd.size();
  std::string text;
  text.reserve(size);
  for (const std::string& line : lines) {
    text += line;
    text += lineEnd;
  }
  return text;
}

void SaveLinesToFile(const TextLines& lines, const std::string& path) {
  File file(std::fopen(path.c_str(), "wb"));
  if (!file) FileError("Cannot create file", path, errno);
  const std::string text = JoinLines(lines, "\r\n");
  if (std::fwrite(text.data(), 1, text.size(), file.get()) != text.size()) {
    FileError("Cannot create file", path, errno);
  }
  std::FILE* raw = file.release();
  if (std::fclose(raw) != 0) FileError("Cannot create file", path, errno);
}

TextLines LoadLinesFromFile(const std::string& path) {
  File file(std::fopen(path.c_str(), "rb"));
  if (!file) FileError("Cannot open file", path, errno);
  std::string text;
  char buffer[65536];
  size_t count = 0;
  while ((count = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) text.append(buffer, count);
  if (std::ferror(file.get())) FileError("Cannot open file", path, errno);
  return SplitLines(text);
}

std::string LineFeedsToCrLf(std::string_view text) {
  std::string rows;
  rows.reserve(text.size() + text.size() / 8);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) rows += '\r';
    rows += text[i];
  }
  return rows;
}

}  // namespace pelvaro
