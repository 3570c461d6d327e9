// The two pictures compiled into the program: the XPM loads, has the stated sizes and colour
// counts, and the icon is mostly red; the pixels decoded at build time are those that
// gdk-pixbuf makes of the XPM, byte for byte, and the program's pixbuf shows them in place.
// No display is needed for pixbufs.

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>

#include "ui/page_picture.xpm.h"
#include "ui/pictures.h"
#include "ui/window_icon.xpm.h"

namespace {

struct Header {
  int width = 0;
  int height = 0;
  int colours = 0;
  int characters_per_pixel = 0;
};

Header ReadHeader(const char* const* xpm) {
  Header header;
  EXPECT_EQ(std::sscanf(xpm[0], "%d %d %d %d", &header.width, &header.height, &header.colours,
                        &header.characters_per_pixel),
            4);
  return header;
}

// Distinct RGBA values of the picture (transparent pixels counted as one value).
std::set<uint32_t> DistinctPixels(GdkPixbuf* pixbuf) {
  std::set<uint32_t> values;
  const int channels = gdk_pixbuf_get_n_channels(pixbuf);
  const int stride = gdk_pixbuf_get_rowstride(pixbuf);
  const guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
  for (int y = 0; y < gdk_pixbuf_get_height(pixbuf); ++y) {
    for (int x = 0; x < gdk_pixbuf_get_width(pixbuf); ++x) {
      const guchar* p = pixels + y * stride + x * channels;
      const uint32_t alpha = channels == 4 ? p[3] : 255;
      values.insert(alpha == 0 ? 0 : (uint32_t{p[0]} << 24 | p[1] << 16 | p[2] << 8 | alpha));
    }
  }
  return values;
}

// The build's decoding equals gdk-pixbuf's of the XPM: size, channels, row stride and every
// byte of every row (the padding at a row's end is not part of the picture).
void ExpectDecodedAsXpm(const char** xpm, const PicturePixels& decoded) {
  GdkPixbuf* expected = gdk_pixbuf_new_from_xpm_data(xpm);
  ASSERT_NE(expected, nullptr);
  GdkPixbuf* actual = NewPicturePixbuf(decoded);
  ASSERT_NE(actual, nullptr);
  EXPECT_EQ(gdk_pixbuf_read_pixels(actual), decoded.pixels);  // shown in place, not copied
  EXPECT_EQ(gdk_pixbuf_get_width(actual), gdk_pixbuf_get_width(expected));
  EXPECT_EQ(gdk_pixbuf_get_height(actual), gdk_pixbuf_get_height(expected));
  EXPECT_EQ(gdk_pixbuf_get_has_alpha(actual), gdk_pixbuf_get_has_alpha(expected));
  EXPECT_EQ(gdk_pixbuf_get_n_channels(actual), gdk_pixbuf_get_n_channels(expected));
  EXPECT_EQ(gdk_pixbuf_get_bits_per_sample(actual), gdk_pixbuf_get_bits_per_sample(expected));
  EXPECT_EQ(gdk_pixbuf_get_rowstride(actual), gdk_pixbuf_get_rowstride(expected));
  if (!testing::Test::HasFailure()) {
    const size_t row_bytes = static_cast<size_t>(gdk_pixbuf_get_width(expected)) *
                             static_cast<size_t>(gdk_pixbuf_get_n_channels(expected));
    const int stride = gdk_pixbuf_get_rowstride(expected);
    const guint8* want = gdk_pixbuf_read_pixels(expected);
    const guint8* got = gdk_pixbuf_read_pixels(actual);
    for (int y = 0; y < gdk_pixbuf_get_height(expected); ++y) {
      const size_t offset = static_cast<size_t>(y) * static_cast<size_t>(stride);
      ASSERT_EQ(std::memcmp(got + offset, want + offset, row_bytes), 0) << "row " << y;
    }
  }
  g_object_unref(actual);
  g_object_unref(expected);
}

TEST(ImagesTest, DecodedAtBuildTimeAsGdkPixbufDecodesTheXpm) {
  {
    SCOPED_TRACE("window icon");
    ExpectDecodedAsXpm(window_icon_xpm, kWindowIconPixels);
  }
  {
    SCOPED_TRACE("page picture");
    ExpectDecodedAsXpm(page_picture_xpm, kPagePicturePixels);
  }
}

TEST(ImagesTest, WindowIcon) {
  const Header header = ReadHeader(window_icon_xpm);
  EXPECT_EQ(header.width, 256);
  EXPECT_EQ(header.height, 256);
  EXPECT_EQ(header.colours, 211);
  EXPECT_EQ(header.characters_per_pixel, 2);

  GdkPixbuf* icon = gdk_pixbuf_new_from_xpm_data(window_icon_xpm);
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(gdk_pixbuf_get_width(icon), 256);
  EXPECT_EQ(gdk_pixbuf_get_height(icon), 256);
  EXPECT_EQ(DistinctPixels(icon).size(), 211u);

  // Predominantly red: among the visible pixels, red is the strongest channel in most.
  long visible = 0;
  long red_led = 0;
  const int channels = gdk_pixbuf_get_n_channels(icon);
  const guchar* pixels = gdk_pixbuf_get_pixels(icon);
  for (int y = 0; y < 256; ++y) {
    for (int x = 0; x < 256; ++x) {
      const guchar* p = pixels + y * gdk_pixbuf_get_rowstride(icon) + x * channels;
      if (channels == 4 && p[3] == 0) continue;
      ++visible;
      if (p[0] > p[1] + 40 && p[0] > p[2] + 40) ++red_led;
    }
  }
  EXPECT_GT(red_led * 2, visible);
  g_object_unref(icon);
}

TEST(ImagesTest, PagePicture) {
  const Header header = ReadHeader(page_picture_xpm);
  EXPECT_EQ(header.width, 158);
  EXPECT_EQ(header.height, 286);
  EXPECT_EQ(header.colours, 256);
  EXPECT_EQ(header.characters_per_pixel, 2);

  GdkPixbuf* picture = gdk_pixbuf_new_from_xpm_data(page_picture_xpm);
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(gdk_pixbuf_get_width(picture), 158);
  EXPECT_EQ(gdk_pixbuf_get_height(picture), 286);
  EXPECT_EQ(DistinctPixels(picture).size(), 256u);
  g_object_unref(picture);
}

}  // namespace
