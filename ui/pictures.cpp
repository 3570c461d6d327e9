#include "ui/pictures.h"

GdkPixbuf* NewPicturePixbuf(const PicturePixels& picture) {
  // No destroy function: the pixels are the program's own constant data.
  return gdk_pixbuf_new_from_data(picture.pixels, GDK_COLORSPACE_RGB,
                                  picture.has_alpha ? TRUE : FALSE, 8, picture.width,
                                  picture.height, picture.rowstride, nullptr, nullptr);
}
