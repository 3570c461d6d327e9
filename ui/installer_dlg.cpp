// The dialog's construction, its main window and the page frame. The behaviour over a run
// (navigation, installation, finish) is in installer_dlg_run.cpp.

#include "ui/installer_dlg.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "app/phase_trace.h"
#include "app/string_table.h"
#include "text/locale_conversions.h"
#include "text/utf8_text.h"
#include "ui/button_row.h"
#include "ui/gtk_language.h"
#include "ui/gtk_start.h"
#include "ui/pictures.h"
#include "ui/welcome_text.h"

namespace {

constexpr int kFrameMargin = 10;
constexpr int kSeparatorHeight = 5;

NarrowString TextForGtk(const char* identifier) {
  return ToUtf8(LoadText(NarrowString(identifier)));
}

CInstallerDlg* DialogOf(gpointer data) { return static_cast<CInstallerDlg*>(data); }

void OnBackClicked(GtkWidget* /*button*/, gpointer dialog) { DialogOf(dialog)->OnBack(); }

void OnNextClicked(GtkWidget* /*button*/, gpointer dialog) { DialogOf(dialog)->OnNext(); }

void OnCancelClicked(GtkWidget* /*button*/, gpointer dialog) { DialogOf(dialog)->OnCancel(); }

gboolean OnKeyPressEvent(GtkWidget* /*window*/, GdkEventKey* event, gpointer dialog) {
  return DialogOf(dialog)->OnKeyPress(event->keyval) ? TRUE : FALSE;
}

gboolean OnDeleteEvent(GtkWidget* /*window*/, GdkEvent* /*event*/, gpointer dialog) {
  return DialogOf(dialog)->OnDeleteRequest() ? TRUE : FALSE;
}

void OnWindowDestroy(GtkWidget* /*window*/, gpointer dialog) {
  DialogOf(dialog)->OnMainWindowDestroyed();
}

// A button on the container at the left of the row, still at its natural size.
GtkWidget* MakeButton(GtkWidget* fixed, const char* text_identifier) {
  GtkWidget* button = gtk_button_new_with_label(TextForGtk(text_identifier).CStr());
  gtk_fixed_put(GTK_FIXED(fixed), button, 0, 0);
  return button;
}

// The size a widget asks for in the window's style.
GtkRequisition NaturalSize(GtkWidget* widget) {
  GtkRequisition natural;
  gtk_widget_size_request(widget, &natural);
  return natural;
}

// The natural size of a widget made only to be measured on the container, then destroyed.
GtkRequisition MeasureOnce(GtkWidget* fixed, GtkWidget* widget) {
  gtk_fixed_put(GTK_FIXED(fixed), widget, 0, 0);
  const GtkRequisition natural = NaturalSize(widget);
  gtk_widget_destroy(widget);
  return natural;
}

GtkRequisition MeasureLabel(GtkWidget* fixed, const NarrowString& text) {
  return MeasureOnce(fixed, gtk_label_new(text.CStr()));
}

// The height of the text wrapped as the page's text label wraps it, width pixels wide.
int WrappedHeight(GtkWidget* fixed, const WideString& text, int width) {
  GtkWidget* label = gtk_label_new(ToUtf8(text).CStr());
  gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
  gtk_widget_set_size_request(label, width, -1);
  return MeasureOnce(fixed, label).height;
}

// The widest and tallest natural size of the three buttons. Next counts with its later
// label, Finish, too, so that the row does not change on the final pages.
GtkRequisition ButtonNeed(GtkWidget* back, GtkWidget* next, GtkWidget* cancel) {
  GtkRequisition need = {0, 0};
  for (GtkWidget* button : {back, next, cancel}) {
    const GtkRequisition natural = NaturalSize(button);
    need.width = std::max(need.width, natural.width);
    need.height = std::max(need.height, natural.height);
  }
  const NarrowString next_label(gtk_button_get_label(GTK_BUTTON(next)));
  gtk_button_set_label(GTK_BUTTON(next), TextForGtk("IDS_WIZARD_FINISH").CStr());
  const GtkRequisition finish = NaturalSize(next);
  need.width = std::max(need.width, finish.width);
  need.height = std::max(need.height, finish.height);
  gtk_button_set_label(GTK_BUTTON(next), next_label.CStr());
  return need;
}

// Gives the buttons their common size and their places in the row.
void PlaceButtonRow(GtkWidget* fixed, const WizardLayout& layout, GtkWidget* back,
                    GtkWidget* next, GtkWidget* cancel) {
  const ButtonRow& row = layout.buttons;
  for (GtkWidget* button : {back, next, cancel}) {
    gtk_widget_set_size_request(button, row.width, layout.button_height);
  }
  gtk_fixed_move(GTK_FIXED(fixed), back, row.back_left, layout.button_top);
  gtk_fixed_move(GTK_FIXED(fixed), next, row.next_left, layout.button_top);
  gtk_fixed_move(GTK_FIXED(fixed), cancel, row.cancel_left, layout.button_top);
}

}  // namespace

CInstallerDlg::CInstallerDlg(int argument_count, char** argument_vector, bool silent,
                             const NarrowString& caption, const WideString& language_code,
                             bool use_current_directory)
    : flow_(silent) {
  channel_.Init();

  language_code_ = language_code;
  use_current_directory_ = use_current_directory;
  argument_count_ = argument_count;
  argument_vector_ = argument_vector;
  layout_ = DefaultWizardLayout();
  caption_ = caption;

  // Where LANGUAGE cannot be set, GTK's own words follow the environment's languages: a
  // lesser look, not a failure of the run. Set here, before the checks' thread reads the
  // environment.
  static_cast<void>(PrepareGtkLanguage(language_code_));

  channel_.Post(0, LoadText(NarrowString("IDS_PREPARECOPY")), 0);
}

CInstallerDlg::~CInstallerDlg() {
  // The checks' thread fills in the kit and the findings: it ends before they go.
  checks_.Join();
  worker_.RequestStop();
  worker_.Join();
  DestroyMainWindow();
  if (page_picture_ != nullptr) g_object_unref(page_picture_);
  if (window_icon_ != nullptr) g_object_unref(window_icon_);
}

WideString CInstallerDlg::GetTitle() const { return FromLocaleBytes(caption_); }

bool CInstallerDlg::WorkBesideGtkStart() const {
  return WorkBesideGtkStartWanted(std::getenv("DISPLAY"), std::getenv("DESKTOP_STARTUP_ID"),
                                  argument_count_, argument_vector_);
}

void CInstallerDlg::InitGtk() {
  if (gtk_initialised_) return;
  gtk_initialised_ = true;
  // The environment is final here, and the locale was set from it by the text conversions
  // before (GTK sets the same again): fontconfig may be read on another thread. A warm-up
  // that cannot start leaves fontconfig to the first text layout, as without it.
  if (WorkBesideGtkStart()) static_cast<void>(font_warm_up_.Start());
  // GTK sets the process locale as it starts, while the checks' thread may be converting
  // in it: it starts while no conversion runs.
  RunWithLocaleHeld([this] {
    has_display_ = gtk_init_check(&argument_count_, &argument_vector_) != FALSE;
  });
  TracePhase("gtk_init");
  if (has_display_) UseLeftToRightDirection();
}

WizardNeeds CInstallerDlg::MeasureNeeds() {
  WizardNeeds needs;
  const GtkRequisition buttons = ButtonNeed(back_button_, next_button_, cancel_button_);
  needs.button_width = buttons.width;
  needs.button_height = buttons.height;
  const GtkRequisition check_box = MeasureOnce(
      fixed_, gtk_check_button_new_with_label(TextForGtk("IDS_SUCCESS_OPENDESCR").CStr()));
  needs.check_box_width = check_box.width;
  needs.check_box_height = check_box.height;
  const GtkRequisition caption = MeasureLabel(fixed_, TextForGtk("IDS_TEMPLATE_CATALOG"));
  needs.caption_width = caption.width;
  needs.caption_height = caption.height;
  const GtkRequisition entry = MeasureOnce(fixed_, gtk_entry_new());
  needs.entry_width = entry.width;
  needs.entry_height = entry.height;
  const GtkRequisition browse = MeasureOnce(fixed_, gtk_button_new_with_label("..."));
  needs.browse_width = browse.width;
  needs.browse_height = browse.height;
  for (const char* status : {"IDS_PROGRESS_START", "IDS_INSTALL_FINISH"}) {
    const GtkRequisition label = MeasureLabel(fixed_, TextForGtk(status));
    needs.status_width = std::max(needs.status_width, label.width);
    needs.status_height = std::max(needs.status_height, label.height);
  }
  needs.bar_height = MeasureOnce(fixed_, gtk_progress_bar_new()).height;

  const int column = TextColumnWidth(needs);
  needs.prompt_height =
      WrappedHeight(fixed_, LoadText(NarrowString("IDS_DESTINATION_PROMPT")), column);
  needs.success_text_height =
      WrappedHeight(fixed_, LoadText(NarrowString("IDS_SUCCESS_FINISH")), column);
  needs.page_text_height = needs.success_text_height;
  for (const WideString& text :
       {LoadText(NarrowString("IDS_ERROR_FINISH")), LoadText(NarrowString("IDS_CANCEL_FINISH"))}) {
    needs.page_text_height = std::max(needs.page_text_height, WrappedHeight(fixed_, text, column));
  }
  return needs;
}

void CInstallerDlg::CreateMainWindow() {
  InitGtk();
  if (main_window_ == nullptr) BuildMainWindow();
  FinishMainWindow();
}

void CInstallerDlg::BuildMainWindow() {
  main_window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWindow* window = GTK_WINDOW(main_window_);
  fixed_ = gtk_fixed_new();
  gtk_container_add(GTK_CONTAINER(main_window_), fixed_);

  back_button_ = MakeButton(fixed_, "IDS_WIZARD_BACK");
  next_button_ = MakeButton(fixed_, "IDS_WIZARD_NEXT");
  gtk_widget_set_can_default(next_button_, TRUE);
  gtk_widget_grab_default(next_button_);
  cancel_button_ = MakeButton(fixed_, "IDS_WIZARD_CANCEL");
  needs_ = MeasureNeeds();

  gtk_window_set_position(window, GTK_WIN_POS_CENTER);
  gtk_window_set_modal(window, TRUE);
  gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_DIALOG);

  window_icon_ = NewPicturePixbuf(kWindowIconPixels);
  if (window_icon_ != nullptr) gtk_window_set_icon(window, window_icon_);

  g_signal_connect(main_window_, "destroy", G_CALLBACK(OnWindowDestroy), this);
  g_signal_connect(main_window_, "delete_event", G_CALLBACK(OnDeleteEvent), this);
  g_signal_connect(main_window_, "key_press_event", G_CALLBACK(OnKeyPressEvent), this);

  gtk_window_set_title(window, ToUtf8(GetTitle()).CStr());

  separator_ = gtk_hseparator_new();
  gtk_fixed_put(GTK_FIXED(fixed_), separator_, kFrameMargin, 0);

  g_signal_connect(back_button_, "clicked", G_CALLBACK(OnBackClicked), this);
  g_signal_connect(next_button_, "clicked", G_CALLBACK(OnNextClicked), this);
  g_signal_connect(cancel_button_, "clicked", G_CALLBACK(OnCancelClicked), this);

  page_picture_ = NewPicturePixbuf(kPagePicturePixels);
}

void CInstallerDlg::FinishMainWindow() {
  // The welcome text comes from the kit, which is known only now.
  WizardNeeds needs = needs_;
  needs.page_text_height =
      std::max(needs.page_text_height,
               WrappedHeight(fixed_, WelcomeText(kit_, language_code_), TextColumnWidth(needs)));
  layout_ = LayOutWizard(needs);
  PlaceButtonRow(fixed_, layout_, back_button_, next_button_, cancel_button_);

  GdkGeometry geometry = {};
  geometry.min_width = geometry.max_width = geometry.base_width = layout_.window_width;
  geometry.min_height = geometry.max_height = geometry.base_height = layout_.window_height;
  geometry.width_inc = geometry.height_inc = 0;
  geometry.min_aspect = geometry.max_aspect = 0.0;
  geometry.win_gravity = GDK_GRAVITY_NORTH_WEST;
  gtk_window_set_geometry_hints(
      GTK_WINDOW(main_window_), main_window_, &geometry,
      static_cast<GdkWindowHints>(GDK_HINT_MIN_SIZE | GDK_HINT_MAX_SIZE | GDK_HINT_BASE_SIZE));

  gtk_widget_set_size_request(separator_, layout_.separator_width, kSeparatorHeight);
  gtk_fixed_move(GTK_FIXED(fixed_), separator_, kFrameMargin, layout_.separator_top);

  gtk_widget_show_all(fixed_);
  gtk_widget_show(main_window_);
}

void CInstallerDlg::ShowPage(WizardDialogPage* page) {
  if (current_page_ != nullptr) {
    for (GtkWidget* widget : current_page_->widgets()) gtk_widget_hide(widget);
  }
  current_page_ = page;
  if (page == nullptr) return;
  page->Arrange(layout_);
  for (GtkWidget* widget : page->widgets()) gtk_widget_show(widget);
  page->OnActivate();
}

void CInstallerDlg::ApplyButtons(const WizardButtons& buttons) {
  const std::pair<GtkWidget*, ButtonState> row[] = {
      {back_button_, buttons.back}, {next_button_, buttons.next}, {cancel_button_, buttons.cancel}};
  for (const auto& [button, state] : row) {
    gtk_widget_set_sensitive(button, state.sensitive ? TRUE : FALSE);
    if (state.visible) {
      gtk_widget_show(button);
    } else {
      gtk_widget_hide(button);
    }
  }
  // Set only when it changes: a new label replaces the button's child.
  const NarrowString label =
      TextForGtk(buttons.next_finishes ? "IDS_WIZARD_FINISH" : "IDS_WIZARD_NEXT");
  const gchar* shown = gtk_button_get_label(GTK_BUTTON(next_button_));
  if (shown == nullptr || label.Compare(NarrowString(shown)) != 0) {
    gtk_button_set_label(GTK_BUTTON(next_button_), label.CStr());
  }
  if (buttons.next_default) gtk_widget_grab_default(next_button_);
}

void CInstallerDlg::OnMainWindowDestroyed() {
  main_window_ = nullptr;
  fixed_ = nullptr;
  separator_ = nullptr;
  back_button_ = next_button_ = cancel_button_ = nullptr;
  current_page_ = nullptr;
  // The page objects stay (they only refer to widgets that are gone now); they are never
  // shown again.
  if (gtk_main_level() > 0) gtk_main_quit();
}

void CInstallerDlg::DestroyMainWindow() {
  if (main_window_ != nullptr) gtk_widget_destroy(main_window_);
}
