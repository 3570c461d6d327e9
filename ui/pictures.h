// The window's two pictures as pixels decoded when the program is built (ui/decode_xpm.py
// from ui/window_icon.xpm.h and ui/page_picture.xpm.h), so that showing the window parses
// no XPM. They are exactly what gdk_pixbuf_new_from_xpm_data makes of the same XPM.

#ifndef UI_PICTURES_H_
#define UI_PICTURES_H_

#include <gdk-pixbuf/gdk-pixbuf.h>

// One decoded picture: 8-bit RGB (has_alpha false) or RGBA rows of rowstride bytes each,
// in read-only memory for the whole run.
struct PicturePixels {
  int width;
  int height;
  int rowstride;
  bool has_alpha;
  const unsigned char* pixels;
};

// The window icon (256 x 256, with transparent pixels) and the page picture (158 x 286).
extern const PicturePixels kWindowIconPixels;
extern const PicturePixels kPagePicturePixels;

// A new pixbuf (one reference, the caller's) that shows the picture's pixels in place,
// without copying them. Its pixels must not be written: they are read-only memory, so a
// caller that wants to draw on the picture copies it first (gdk_pixbuf_copy). Returns
// nullptr where GdkPixbuf cannot make the object.
GdkPixbuf* NewPicturePixbuf(const PicturePixels& picture);

#endif  // UI_PICTURES_H_
