#include "ui/stop_signal_watches.h"

#include <glib-unix.h>
#include <signal.h>

#include <cstddef>

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

}  // namespace

void StopSignalWatches::Install(Handler handler, void* data) {
  handler_ = handler;
  data_ = data;
  static_assert(sizeof kStopSignals / sizeof kStopSignals[0] ==
                    sizeof(watches_) / sizeof(watches_[0]),
                "one watch per stop signal");
  for (std::size_t i = 0; i < sizeof kStopSignals / sizeof kStopSignals[0]; ++i) {
    watches_[i] = Watch{this, kStopSignals[i], 0};
    struct sigaction before;
    if (sigaction(kStopSignals[i], nullptr, &before) == 0 && before.sa_handler == SIG_IGN) {
      continue;
    }
    watches_[i].source = g_unix_signal_add(kStopSignals[i], OnSignal, &watches_[i]);
  }
}

void StopSignalWatches::Remove(bool after_stop) {
  for (Watch& watch : watches_) {
    if (watch.source == 0) continue;
    g_source_remove(watch.source);
    watch.source = 0;
    signal(watch.number, after_stop ? SIG_IGN : SIG_DFL);
  }
}

gboolean StopSignalWatches::OnSignal(gpointer data) {
  const auto* watch = static_cast<const Watch*>(data);
  watch->owner->handler_(watch->owner->data_, watch->number);
  return G_SOURCE_CONTINUE;
}

const char* StopSignalWatches::Name(int signal_number) {
  switch (signal_number) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "signal";
  }
}
