#include "ui/ui_test_support.h"

#include <gtest/gtest.h>

#include "testing/environment_override.h"
#include "testing/test_files.h"

namespace {

constexpr guint kAnswerPollMs = 20;

// GLib reads the home directory once and keeps it; GTK then uses it for its settings, its
// bookmarks and the file chooser's shortcuts. The tests change HOME per test, so GLib is made
// to settle on a home of the test program's own first, one that exists until the program
// ends, and GTK is initialised with it.
class GtkHomeEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    home_.reset(new ScratchDirectory);
    override_.reset(new EnvironmentOverride("HOME", home_->Path().c_str()));
    g_get_home_dir();
    g_get_user_config_dir();
    g_get_user_data_dir();
    g_get_user_cache_dir();
    DisplayAvailable();
  }
  void TearDown() override {
    override_.reset();
    const std::string path = home_->Path();
    home_.reset();
    if (Exists(path)) ADD_FAILURE() << "cannot remove " << path;
  }

 private:
  std::unique_ptr<ScratchDirectory> home_;
  std::unique_ptr<EnvironmentOverride> override_;
};

::testing::Environment* const gtk_home_environment =
    ::testing::AddGlobalTestEnvironment(new GtkHomeEnvironment);

}  // namespace

XdgOpenStandIn::XdgOpenStandIn(const ScratchDirectory& scratch)
    : record_(scratch.Child("xdg-open-argument")), stand_ins_(scratch.Child("bin")) {
  stand_ins_.Add("xdg-open", "printf '%s' \"$1\" > '" + record_ + "'");
}

bool DisplayAvailable() {
  static const bool available = gtk_init_check(nullptr, nullptr) != FALSE;
  return available;
}

void DrainEvents() {
  while (gtk_events_pending()) gtk_main_iteration();
}

MessageBoxAnswerer::MessageBoxAnswerer(std::vector<gint> responses)
    : responses_(std::move(responses)), timer_(g_timeout_add(kAnswerPollMs, Poll, this)) {}

MessageBoxAnswerer::~MessageBoxAnswerer() { g_source_remove(timer_); }

gboolean MessageBoxAnswerer::Poll(gpointer self_pointer) {
  auto* self = static_cast<MessageBoxAnswerer*>(self_pointer);
  GList* windows = gtk_window_list_toplevels();
  for (GList* item = windows; item != nullptr; item = item->next) {
    GtkWidget* window = GTK_WIDGET(item->data);
    if (!GTK_IS_MESSAGE_DIALOG(window) || !gtk_widget_get_visible(window)) continue;
    if (g_object_get_data(G_OBJECT(window), "answered") != nullptr) continue;
    g_object_set_data(G_OBJECT(window), "answered", window);

    SeenMessage seen;
    gchar* text = nullptr;
    GtkMessageType type = GTK_MESSAGE_OTHER;
    g_object_get(window, "text", &text, "message-type", &type, nullptr);
    seen.text = text != nullptr ? text : "";
    g_free(text);
    const gchar* title = gtk_window_get_title(GTK_WINDOW(window));
    seen.title = title != nullptr ? title : "";
    seen.type = type;
    GList* buttons =
        gtk_container_get_children(GTK_CONTAINER(gtk_dialog_get_action_area(GTK_DIALOG(window))));
    for (GList* b = buttons; b != nullptr; b = b->next) {
      seen.buttons.push_back(
          gtk_dialog_get_response_for_widget(GTK_DIALOG(window), GTK_WIDGET(b->data)));
    }
    g_list_free(buttons);
    self->seen_.push_back(seen);

    const std::size_t index = self->seen_.size() - 1;
    gtk_dialog_response(GTK_DIALOG(window), index < self->responses_.size()
                                                ? self->responses_[index]
                                                : GTK_RESPONSE_DELETE_EVENT);
  }
  g_list_free(windows);
  return TRUE;
}

std::string LabelText(GtkWidget* widget) {
  const gchar* text = GTK_IS_BUTTON(widget) ? gtk_button_get_label(GTK_BUTTON(widget))
                                            : gtk_label_get_text(GTK_LABEL(widget));
  return text != nullptr ? text : "";
}

void FixedPosition(GtkWidget* fixed, GtkWidget* child, int* x, int* y) {
  gtk_container_child_get(GTK_CONTAINER(fixed), child, "x", x, "y", y, nullptr);
}

void ExpectAt(GtkWidget* fixed, GtkWidget* child, int x, int y) {
  int at_x = -1;
  int at_y = -1;
  FixedPosition(fixed, child, &at_x, &at_y);
  EXPECT_EQ(at_x, x);
  EXPECT_EQ(at_y, y);
}

void ExpectRequestedSize(GtkWidget* widget, int width, int height) {
  int w = 0;
  int h = 0;
  gtk_widget_get_size_request(widget, &w, &h);
  EXPECT_EQ(w, width);
  EXPECT_EQ(h, height);
}

namespace {

std::string Describe(GtkWidget* widget) {
  std::string text = G_OBJECT_TYPE_NAME(widget);
  if (GTK_IS_LABEL(widget) || GTK_IS_BUTTON(widget)) text += " \"" + LabelText(widget) + "\"";
  return text;
}

// Each shown widget of the tree gets at least its natural size.
void ExpectNaturalSizeGiven(GtkWidget* widget, const std::string& where) {
  if (!gtk_widget_get_visible(widget)) return;
  GtkRequisition natural;
  gtk_widget_get_requisition(widget, &natural);
  GtkAllocation given;
  gtk_widget_get_allocation(widget, &given);
  EXPECT_LE(natural.width, given.width) << where << ": " << Describe(widget) << " is cut";
  EXPECT_LE(natural.height, given.height) << where << ": " << Describe(widget) << " is cut";
  if (!GTK_IS_CONTAINER(widget)) return;
  GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
  for (GList* item = children; item != nullptr; item = item->next) {
    ExpectNaturalSizeGiven(GTK_WIDGET(item->data), where);
  }
  g_list_free(children);
}

// The part of the container the widget takes: a label's text where its alignment puts it,
// any other widget's whole allocation.
GdkRectangle TakenArea(GtkWidget* widget) {
  GtkAllocation area;
  gtk_widget_get_allocation(widget, &area);
  if (!GTK_IS_LABEL(widget)) return area;
  GtkRequisition natural;
  gtk_widget_get_requisition(widget, &natural);
  gfloat x_align = 0;
  gfloat y_align = 0;
  gtk_misc_get_alignment(GTK_MISC(widget), &x_align, &y_align);
  if (natural.width < area.width) {
    area.x += static_cast<int>((area.width - natural.width) * x_align);
    area.width = natural.width;
  }
  if (natural.height < area.height) {
    area.y += static_cast<int>((area.height - natural.height) * y_align);
    area.height = natural.height;
  }
  return area;
}

}  // namespace

void ExpectNothingCutOrCovered(GtkWidget* fixed, const std::string& where) {
  GtkAllocation room;
  gtk_widget_get_allocation(fixed, &room);
  std::vector<GtkWidget*> shown;
  GList* children = gtk_container_get_children(GTK_CONTAINER(fixed));
  for (GList* item = children; item != nullptr; item = item->next) {
    if (gtk_widget_get_visible(GTK_WIDGET(item->data))) shown.push_back(GTK_WIDGET(item->data));
  }
  g_list_free(children);
  EXPECT_FALSE(shown.empty()) << where;

  std::vector<GdkRectangle> taken;
  for (GtkWidget* widget : shown) {
    ExpectNaturalSizeGiven(widget, where);
    const GdkRectangle area = TakenArea(widget);
    EXPECT_TRUE(area.x >= room.x && area.y >= room.y &&
                area.x + area.width <= room.x + room.width &&
                area.y + area.height <= room.y + room.height)
        << where << ": " << Describe(widget) << " leaves the window";
    taken.push_back(area);
  }
  for (std::size_t i = 0; i < shown.size(); ++i) {
    for (std::size_t j = i + 1; j < shown.size(); ++j) {
      EXPECT_FALSE(gdk_rectangle_intersect(&taken[i], &taken[j], nullptr))
          << where << ": " << Describe(shown[i]) << " and " << Describe(shown[j]) << " overlap";
    }
  }
}
