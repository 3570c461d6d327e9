// What may run on other threads while GTK starts.
//
// GTK's start reads the environment and the arguments; GDK also removes the
// startup-notification identifier (DESKTOP_STARTUP_ID) from the environment while it opens
// the display, and a reader of the environment on another thread at that moment can miss a
// variable. The checks and the fontconfig warm-up read the environment, so they run beside
// GTK's start only where it leaves the environment alone, and only where a window may come
// of it at all.

#ifndef UI_GTK_START_H_
#define UI_GTK_START_H_

// Whether a run given these values may do work beside GTK's start: it may open a display
// (DISPLAY is set and not empty, or the arguments name one with --display, as GTK reads
// them), and it has no startup-notification identifier (DESKTOP_STARTUP_ID not empty).
// Either value may be null (unset).
bool WorkBesideGtkStartWanted(const char* display_variable, const char* startup_id,
                              int argument_count, char** argument_vector);

#endif  // UI_GTK_START_H_
