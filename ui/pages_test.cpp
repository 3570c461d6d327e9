// The pages on a real fixed container: positions, sizes, texts, the widget lists, the check
// box, the directory entry and the progress states. Needs a display; skipped without one.

#include <gtest/gtest.h>

#include <string>

#include "testing/text_helpers.h"
#include "text/locale_conversions.h"
#include "ui/dir_select_page.h"
#include "ui/message_page.h"
#include "ui/pictures.h"
#include "ui/progress_page.h"
#include "ui/success_final_page.h"
#include "ui/ui_test_support.h"
#include "ui/wizard_test_access.h"

namespace {

using Wizard = WizardTestAccess;

class PagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!DisplayAvailable()) GTEST_SKIP() << "no display";
    scratch_.reset(new WizardScratch);
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    fixed_ = gtk_fixed_new();
    gtk_container_add(GTK_CONTAINER(window_), fixed_);
    picture_ = NewPicturePixbuf(kPagePicturePixels);
  }
  void TearDown() override {
    if (window_ != nullptr) gtk_widget_destroy(window_);
    if (picture_ != nullptr) g_object_unref(picture_);
    DrainEvents();
  }

  void ExpectTextLabel(GtkWidget* label) {
    ExpectAt(fixed_, label, 170, 10);
    ExpectRequestedSize(label, 330, 250);
    EXPECT_TRUE(gtk_label_get_line_wrap(GTK_LABEL(label)));
    EXPECT_FALSE(gtk_label_get_use_markup(GTK_LABEL(label)));
    gfloat x_align = 1;
    gfloat y_align = 1;
    gtk_misc_get_alignment(GTK_MISC(label), &x_align, &y_align);
    EXPECT_EQ(x_align, 0.0f);
    EXPECT_EQ(y_align, 0.0f);
  }

  std::unique_ptr<WizardScratch> scratch_;
  GtkWidget* window_ = nullptr;
  GtkWidget* fixed_ = nullptr;
  GdkPixbuf* picture_ = nullptr;
};

TEST_F(PagesTest, MessagePageLayoutAndPlainText) {
  MessagePage page(fixed_, picture_, WideFromUtf8("Welcome to <b>A & B</b>"));
  ASSERT_EQ(page.widgets().size(), 2u);
  GtkWidget* picture = page.widgets()[0];
  ASSERT_TRUE(GTK_IS_IMAGE(picture));
  EXPECT_EQ(gtk_image_get_pixbuf(GTK_IMAGE(picture)), picture_);
  ExpectAt(fixed_, picture, 0, 0);
  EXPECT_EQ(page.widgets()[1], Wizard::TextLabel(page));
  ExpectTextLabel(Wizard::TextLabel(page));
  EXPECT_EQ(LabelText(Wizard::TextLabel(page)), "Welcome to <b>A & B</b>");
  page.SetText(WideFromUtf8("An error occurred"));
  EXPECT_EQ(LabelText(Wizard::TextLabel(page)), "An error occurred");
}

TEST_F(PagesTest, SuccessPageCheckBoxStartsTicked) {
  SuccessFinalPage page(fixed_, picture_, WideFromUtf8("Configuration installed successfully."));
  ASSERT_EQ(page.widgets().size(), 3u);
  EXPECT_EQ(page.widgets()[2], Wizard::CheckBox(page));
  ExpectAt(fixed_, Wizard::CheckBox(page), 170, 170);
  EXPECT_EQ(LabelText(Wizard::CheckBox(page)), "Open description of distribution package");
  EXPECT_TRUE(page.OpenDescriptionWanted());
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(Wizard::CheckBox(page)), FALSE);
  EXPECT_FALSE(page.OpenDescriptionWanted());
}

TEST_F(PagesTest, DirectoryPageLayout) {
  DirSelectPage page(fixed_, picture_);
  ASSERT_EQ(page.widgets().size(), 5u);
  ExpectAt(fixed_, page.widgets()[0], 0, 0);
  ExpectTextLabel(page.widgets()[1]);
  EXPECT_EQ(LabelText(page.widgets()[1]),
            "Specify path to template directory. The installation program will install "
            "templates and configuration files to the specified directory.");
  ExpectAt(fixed_, page.widgets()[2], 170, 255);
  EXPECT_EQ(LabelText(page.widgets()[2]), "Template directory:");
  EXPECT_EQ(page.widgets()[3], Wizard::Entry(page));
  ExpectAt(fixed_, Wizard::Entry(page), 170, 275);
  ExpectRequestedSize(Wizard::Entry(page), 280, 30);
  EXPECT_EQ(page.widgets()[4], Wizard::BrowseButton(page));
  ExpectAt(fixed_, Wizard::BrowseButton(page), 460, 275);
  ExpectRequestedSize(Wizard::BrowseButton(page), 30, 30);
  EXPECT_EQ(LabelText(Wizard::BrowseButton(page)), "...");
}

TEST_F(PagesTest, DirectoryPagePathRoundTrip) {
  DirSelectPage page(fixed_, picture_);
  EXPECT_TRUE(page.GetPath().Empty());
  const WideString path = WideFromUtf8("/home/пользователь/Vorlagen/ä b/");
  page.SetPath(path);
  EXPECT_TRUE(page.GetPath() == path);
  page.SetPath(WideFromUtf8("/short"));
  EXPECT_EQ(AsciiOf(page.GetPath()), "/short");
}

// A path whose bytes are not all text (read from the system under a UTF-8 locale) is shown
// with the byte escaped, and comes back whole as long as the field is not edited; an edit
// that keeps the escape keeps the byte.
TEST_F(PagesTest, DirectoryPageKeepsAPathItCannotShowExactly) {
  DirSelectPage page(fixed_, picture_);
  const WideString path = FromLocaleBytes(NarrowString("/home/h\xe9/tpl"));
  page.SetPath(path);
  GtkEntry* entry = GTK_ENTRY(Wizard::Entry(page));
  EXPECT_EQ(std::string(gtk_entry_get_text(entry)), "/home/h\\xE9/tpl");
  EXPECT_TRUE(page.GetPath() == path);
  gtk_entry_set_text(entry, "/home/h\\xe9/tpl/x\\x41\\x7f");
  NarrowString edited;
  ASSERT_TRUE(ToLocaleBytesExact(page.GetPath(), &edited));
  EXPECT_EQ(StringOf(edited), "/home/h\xe9/tpl/x\\x41\\x7f");
  gtk_entry_set_text(entry, "/home/other");
  EXPECT_EQ(AsciiOf(page.GetPath()), "/home/other");
}

// Responds to the folder chooser that Browse opens. With a folder, it first makes that folder
// current and answers only once the chooser reports it (the chooser loads folders in the
// background). A message window of the chooser's own is a failure and is closed.
struct ChooserAnswer {
  gint response;
  std::string folder;
  bool folder_set = false;
  bool answered = false;
};

gboolean AnswerChooser(gpointer data) {
  auto* answer = static_cast<ChooserAnswer*>(data);
  GList* windows = gtk_window_list_toplevels();
  for (GList* item = windows; item != nullptr; item = item->next) {
    GtkWidget* window = GTK_WIDGET(item->data);
    if (!gtk_widget_get_visible(window)) continue;
    if (GTK_IS_MESSAGE_DIALOG(window)) {
      gchar* text = nullptr;
      g_object_get(window, "text", &text, nullptr);
      ADD_FAILURE() << "unexpected message: " << (text != nullptr ? text : "");
      g_free(text);
      gtk_dialog_response(GTK_DIALOG(window), GTK_RESPONSE_DELETE_EVENT);
      continue;
    }
    if (answer->answered || !GTK_IS_FILE_CHOOSER_DIALOG(window)) continue;
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(window);
    EXPECT_EQ(gtk_file_chooser_get_action(chooser), GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER);
    EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(window)));
    if (!answer->folder.empty()) {
      if (!answer->folder_set) {
        answer->folder_set = true;
        gtk_file_chooser_set_current_folder(chooser, answer->folder.c_str());
        continue;
      }
      gchar* current = gtk_file_chooser_get_filename(chooser);
      const bool ready = current != nullptr && answer->folder == current;
      g_free(current);
      if (!ready) continue;
    }
    answer->answered = true;
    gtk_dialog_response(GTK_DIALOG(window), answer->response);
  }
  g_list_free(windows);
  return TRUE;
}

TEST_F(PagesTest, BrowseCancelledKeepsTheEntry) {
  DirSelectPage page(fixed_, picture_);
  page.SetPath(WideFromUtf8("/typed/path"));
  ChooserAnswer answer{GTK_RESPONSE_CANCEL, ""};
  const guint timer = g_timeout_add(20, AnswerChooser, &answer);
  gtk_button_clicked(GTK_BUTTON(Wizard::BrowseButton(page)));
  g_source_remove(timer);
  EXPECT_TRUE(answer.answered);
  EXPECT_EQ(AsciiOf(page.GetPath()), "/typed/path");
}

TEST_F(PagesTest, BrowseChosenFolderReplacesTheEntry) {
  DirSelectPage page(fixed_, picture_);
  page.SetPath(WideFromUtf8("/typed/path"));
  ChooserAnswer answer{GTK_RESPONSE_ACCEPT, scratch_->Work()};
  const guint timer = g_timeout_add(20, AnswerChooser, &answer);
  page.Browse();
  g_source_remove(timer);
  EXPECT_TRUE(answer.answered);
  EXPECT_EQ(AsciiOf(page.GetPath()), scratch_->Work());
}

TEST_F(PagesTest, ProgressPageStates) {
  ProgressPage page(fixed_, 480);
  ASSERT_EQ(page.widgets().size(), 2u);
  ExpectAt(fixed_, Wizard::StatusLabel(page), 10, 130);
  ExpectAt(fixed_, Wizard::ProgressBar(page), 10, 150);
  ExpectRequestedSize(Wizard::ProgressBar(page), 480, 20);
  GtkProgressBar* bar = GTK_PROGRESS_BAR(Wizard::ProgressBar(page));
  EXPECT_EQ(LabelText(Wizard::StatusLabel(page)), "Files being copied...");
  EXPECT_DOUBLE_EQ(gtk_progress_bar_get_fraction(bar), 0.0);

  page.SetProgress(99);
  EXPECT_EQ(LabelText(Wizard::StatusLabel(page)), "Files being copied...");
  EXPECT_DOUBLE_EQ(gtk_progress_bar_get_fraction(bar), 0.99);
  page.SetProgress(100);
  EXPECT_EQ(LabelText(Wizard::StatusLabel(page)), "Copying complete...");
  EXPECT_DOUBLE_EQ(gtk_progress_bar_get_fraction(bar), 1.0);
  // A new run starts from the beginning again.
  page.SetProgress(0);
  EXPECT_EQ(LabelText(Wizard::StatusLabel(page)), "Files being copied...");
  EXPECT_DOUBLE_EQ(gtk_progress_bar_get_fraction(bar), 0.0);
  page.SetProgress(250);
  EXPECT_DOUBLE_EQ(gtk_progress_bar_get_fraction(bar), 1.0);
  page.SetProgress(-5);
  EXPECT_DOUBLE_EQ(gtk_progress_bar_get_fraction(bar), 0.0);
}

}  // namespace
