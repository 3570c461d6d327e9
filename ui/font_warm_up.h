// FontWarmUp: fontconfig's initialisation (reading its configuration and the font caches,
// FcInit) on a thread of its own, started just before GTK is initialised, so that the
// window's first text layout on the user-interface thread finds it done instead of doing
// it. Where a processor core is free, the window's first picture comes about 5 ms sooner
// (reading fontconfig takes 6 to 8 ms); where none is, about as soon as without it.
//
// The thread calls nothing but FcInit, which may run on several threads at once: a layout
// that comes before the thread has finished initialises fontconfig itself, as it would
// without the warm-up, and never waits for the thread. FcInit reads the environment and the
// locale, so the thread is started only once the user-interface thread has made both what
// they stay (the locale from the environment, LANGUAGE for GTK); GTK sets the same locale
// again, which changes nothing that FcInit reads. Only the owning thread calls Start and
// Finish; the destructor waits for the thread, so it never outlives the object.

#ifndef UI_FONT_WARM_UP_H_
#define UI_FONT_WARM_UP_H_

#include <pthread.h>

class FontWarmUp {
 public:
  FontWarmUp();
  // Finish.
  ~FontWarmUp();
  FontWarmUp(const FontWarmUp&) = delete;
  FontWarmUp& operator=(const FontWarmUp&) = delete;

  // Starts the thread and returns at once. False where no thread could be created, or one
  // was started already: fontconfig is then initialised where it is first used.
  bool Start();

  // Waits for the thread if one runs; true when it initialised fontconfig. Safe to call
  // twice and when none was started (false then).
  bool Finish();

 private:
  static void* Main(void* warm_up);

  pthread_t thread_;
  bool started_;
  bool joinable_;
  bool initialised_;  // written by the thread; read by the owner only after the join
  bool outcome_;      // what Finish returns
};

#endif  // UI_FONT_WARM_UP_H_
