#include "app/progress_line.h"

#include <sys/ioctl.h>
#include <wchar.h>

#include <cstdio>
#include <vector>

#include "text/locale_conversions.h"

namespace {

constexpr int kNarrowestLine = 20;

// The code points of text, a surrogate pair as one, a lone surrogate as itself.
std::vector<uint32_t> CodePoints(const WideString& text) {
  std::vector<uint32_t> points;
  for (std::size_t i = 0; i < text.Length(); ++i) {
    const uint32_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.Length() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      points.push_back(0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00u));
      ++i;
    } else {
      points.push_back(unit);
    }
  }
  return points;
}

int Columns(uint32_t point) {
  const int width = wcwidth(static_cast<wchar_t>(point));
  return width < 0 ? 1 : width;
}

// The code points back to UTF-16.
WideString FromCodePoints(const std::vector<uint32_t>& points, std::size_t from) {
  WideString text;
  for (std::size_t i = from; i < points.size(); ++i) {
    const uint32_t point = points[i];
    if (point >= 0x10000) {
      text.Append(static_cast<char16_t>(0xD800 + ((point - 0x10000) >> 10)));
      text.Append(static_cast<char16_t>(0xDC00 + ((point - 0x10000) & 0x3FF)));
    } else {
      text.Append(static_cast<char16_t>(point));
    }
  }
  return text;
}

}  // namespace

NarrowString ProgressLine(int32_t percent, uint64_t done, uint64_t total, const WideString& path,
                          int columns) {
  if (columns < kNarrowestLine) columns = kNarrowestLine;
  char head[64];
  std::snprintf(head, sizeof head, "%3d%% %llu/%llu ", static_cast<int>(percent),
                static_cast<unsigned long long>(done), static_cast<unsigned long long>(total));
  NarrowString line(head);
  const int room = columns - 1 - static_cast<int>(line.Length());
  if (room <= 0) return line;

  const std::vector<uint32_t> points = CodePoints(path);
  int width = 0;
  for (uint32_t point : points) width += Columns(point);
  if (width <= room) {
    line.Append(ToLocaleBytes(path));
    return line;
  }
  // The end of the path, after "...", in what is left.
  const int tail_room = room - 3;
  std::size_t from = points.size();
  int tail_width = 0;
  while (from > 0 && tail_width + Columns(points[from - 1]) <= tail_room) {
    tail_width += Columns(points[--from]);
  }
  line.Append("...");
  line.Append(ToLocaleBytes(FromCodePoints(points, from)));
  return line;
}

int TerminalColumns(int descriptor) {
  struct winsize size;
  if (ioctl(descriptor, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}
