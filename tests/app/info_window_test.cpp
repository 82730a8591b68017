#include "app/info_window.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/app_classes.h"
#include "app/main_window.h"
#include "platform/framework/application.h"
#include "platform/messages/messages.h"
#include "platform/shell/shell.h"
#include "tests/support/isolated_store.h"

namespace {

TInfoLinks ExampleLinks() {
  return TInfoLinks{"support@example.org", "https://example.org/tessaline/",
                    "example.org/tessaline", "https://example.org/tessaline/donate"};
}

class InfoWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::EnsureToolkit();
    RegisterAppClasses();
    config_ =
        std::filesystem::temp_directory_path() / ("tessaline-info-" + std::to_string(::getpid()));
    std::filesystem::remove_all(config_);
    ASSERT_TRUE(test_support::IsolateStore(config_));
    platform::SetMessageBoxHook([this](const std::string& text, const std::string&, UINT) {
      messages_.push_back(text);
      return IDOK;
    });
    platform::SetShellHook([this](const platform::ShellRequest& request) {
      requests_.push_back(request);
      return shell_answer_;
    });
  }
  void TearDown() override {
    platform::SetShellHook(nullptr);
    platform::SetMessageBoxHook(nullptr);
    test_support::EndIsolatedStore();
    std::filesystem::remove_all(config_);
  }

  std::filesystem::path config_;
  std::vector<std::string> messages_;
  std::vector<platform::ShellRequest> requests_;
  HINSTANCE shell_answer_ = 42;
};

// What the year reads in local time now, as strftime writes it.
std::string YearNow() {
  const std::time_t now = std::time(nullptr);
  char text[16];
  std::strftime(text, sizeof text, "%Y", std::localtime(&now));
  return text;
}

TEST_F(InfoWindowTest, ShownCentredOnTopWithEveryControlInPlace) {
  TFrmInfo info(nullptr, ExampleLinks());
  // Visible from its layout, before anyone shows it, centred on the primary
  // screen (1600 × 1000): (1600 - 525) / 2, (1000 - 290) / 2.
  EXPECT_TRUE(info.GetVisible());
  EXPECT_EQ(info.GetCaption(), "Programm Info");
  EXPECT_EQ(info.GetBorderStyle(), bsNone);
  EXPECT_EQ(info.GetFormStyle(), fsStayOnTop);
  EXPECT_EQ(info.GetPosition(), poScreenCenter);
  EXPECT_EQ(info.GetClientWidth(), 525);
  EXPECT_EQ(info.GetClientHeight(), 290);
  EXPECT_EQ(info.GetWidth(), 525);
  EXPECT_EQ(info.GetLeft(), 537);
  EXPECT_EQ(info.GetTop(), 355);
  EXPECT_EQ(info.GetColor(), clGray);
  EXPECT_EQ(info.Font(), (TFont{"MS Sans Serif", -11, 0, clWindowText}));

  struct Place {
    TControl* control;
    int left, top, width, height;
  };
  for (const Place& p :
       {Place{info.Bevel4, 10, 12, 509, 269}, Place{info.Image1, 25, 20, 227, 142},
        Place{info.StatusBar3, 272, 21, 225, 36}, Place{info.StatusBar1, 272, 61, 225, 28},
        Place{info.Bevel3, 31, 168, 1, 88}, Place{info.Image2, 48, 224, 147, 47},
        Place{info.Button1, 383, 248, 121, 25}}) {
    SCOPED_TRACE(p.control->GetName());
    EXPECT_EQ(p.control->GetLeft(), p.left);
    EXPECT_EQ(p.control->GetTop(), p.top);
    EXPECT_EQ(p.control->GetWidth(), p.width);
    EXPECT_EQ(p.control->GetHeight(), p.height);
  }
  EXPECT_EQ(info.Bevel4->GetShape(), bsFrame);
  EXPECT_EQ(info.Bevel4->GetStyle(), bsRaised);
  EXPECT_EQ(info.Bevel3->GetShape(), bsLeftLine);
  EXPECT_EQ(info.Image1->PictureWidth(), 227);
  EXPECT_EQ(info.Image1->PictureHeight(), 142);
  EXPECT_EQ(info.Image2->PictureWidth(), 147);
  EXPECT_EQ(info.Image2->PictureHeight(), 47);

  // Texts: where each starts, its font and colour.
  const TColor orange = RGB(255, 128, 0);
  struct Text {
    TLabel* label;
    int left, top;
    std::string caption;
    TFont font;
  };
  const TFont particulars{"Arial", -15, fsBold, clBlack};
  for (const Text& t : {Text{info.Label9, 330, 106, "support@example.org", particulars},
                        Text{info.Label12, 332, 129, "example.org/tessaline", particulars},
                        Text{info.Label1, 48, 164, "This app is a donationware!",
                             TFont{"Arial", -16, fsBold | fsUnderline, orange}},
                        Text{info.Label2, 48, 185, "'Donationware' means that you can fix",
                             TFont{"MS Sans Serif", -13, fsBold, orange}},
                        Text{info.Label5, 48, 200, "the License price according to your means.",
                             TFont{"MS Sans Serif", -13, fsBold, orange}},
                        Text{info.Label4, 413, 173, "Tessaline", particulars},
                        Text{info.Label6, 372, 198, "Quorvane project", particulars},
                        Text{info.Label3, 357, 222, kNoticePrefix + YearNow(), particulars}}) {
    SCOPED_TRACE(t.label->GetName());
    EXPECT_EQ(t.label->GetLeft(), t.left);
    EXPECT_EQ(t.label->GetTop(), t.top);
    EXPECT_EQ(t.label->GetCaption(), t.caption);
    EXPECT_EQ(t.label->Font(), t.font);
    EXPECT_TRUE(t.label->GetVisible());
    // Every text fits inside the frame.
    EXPECT_LE(t.label->GetLeft() + t.label->GetWidth(), 519);
  }
  EXPECT_EQ(info.Label3->GetCaption().size(), std::string(kNoticePrefix).size() + 4);
  for (TControl* link : {static_cast<TControl*>(info.Label9), static_cast<TControl*>(info.Label12),
                         static_cast<TControl*>(info.Image2)})
    EXPECT_EQ(link->GetCursor(), crHandPoint) << link->GetName();

  // The banners: one centred panel each, across the whole bar.
  for (auto [bar, text, height] : {std::tuple{info.StatusBar3, "TESSALINE", -21},
                                   std::tuple{info.StatusBar1, "AUDIO DRIVER", -16}}) {
    SCOPED_TRACE(bar->GetName());
    ASSERT_EQ(bar->PanelCount(), 1);
    EXPECT_EQ(bar->Panels(0)->GetText(), text);
    EXPECT_EQ(bar->Panels(0)->GetAlignment(), taCenter);
    EXPECT_EQ(bar->Panels(0)->GetWidth(), 50);
    EXPECT_EQ(bar->PanelLeft(0), 0);
    EXPECT_EQ(bar->PanelRight(0), 225);
    EXPECT_EQ(bar->Font(), (TFont{"Arial", height, fsBold, clBlack}));
  }
  EXPECT_EQ(info.Button1->GetCaption(), ">> Close <<");
  EXPECT_EQ(info.Button1->GetTag(), 99);

  // Each showing writes the notice line again.
  info.Button1->Click();
  EXPECT_FALSE(info.GetVisible());
  info.Label3->SetCaption("stale");
  info.Show();
  EXPECT_EQ(info.Label3->GetCaption(), kNoticePrefix + YearNow());
  EXPECT_TRUE(messages_.empty());
}

TEST_F(InfoWindowTest, LinksGoToTheShellAndFailuresStaySilent) {
  {
    TFrmInfo info(nullptr, ExampleLinks());
    info.Label9->Click();
    info.Label12->Click();
    info.Image2->Click();
    ASSERT_EQ(requests_.size(), 3u);
    const std::vector<std::string> opened = {"mailto:support@example.org",
                                             "https://example.org/tessaline/",
                                             "https://example.org/tessaline/donate"};
    for (std::size_t i = 0; i < requests_.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(requests_[i].File, opened[i]);
      EXPECT_EQ(requests_[i].Operation, "open");
      EXPECT_EQ(requests_[i].Owner, info.Handle());
      EXPECT_NE(requests_[i].Owner, 0u);
      EXPECT_EQ(requests_[i].Parameters, "");
      EXPECT_EQ(requests_[i].Directory, "");
      EXPECT_EQ(requests_[i].Show, SW_SHOWNORMAL);
    }
    // A link the desktop cannot open shows nothing and changes nothing.
    shell_answer_ = ERROR_FILE_NOT_FOUND;
    info.Label12->Click();
    EXPECT_EQ(requests_.size(), 4u);
    EXPECT_TRUE(info.GetVisible());
    EXPECT_TRUE(messages_.empty());
  }

  // Without a mail address there is no mail link.
  requests_.clear();
  TInfoLinks no_mail = ExampleLinks();
  no_mail.Mail.clear();
  TFrmInfo info(nullptr, no_mail);
  EXPECT_FALSE(info.Label9->GetVisible());
  info.MMLabel7Click(info.Label9);
  EXPECT_TRUE(requests_.empty());
}

TEST_F(InfoWindowTest, BuiltLinksLeadToTheInstalledDocumentation) {
  // This test build configures no addresses: no mail link, and the web link
  // and the donation button lead to the README installed with the program:
  // beside the program's folder (lib/tessaline -> share/doc/tessaline) on
  // Linux, in the program's folder on Windows.
  const std::filesystem::path prefix = config_ / "prefix with space";
#ifdef _WIN32
  const std::filesystem::path program = prefix;
  const std::string readme = "/prefix%20with%20space/README.md";
  // A drive's path is written after a third '/', with '/' between the names.
  const std::string config = "/" + config_.generic_string();
#else
  const std::filesystem::path program = prefix / "lib/tessaline";
  const std::string readme = "/prefix%20with%20space/share/doc/tessaline/README.md";
  const std::string config = config_.string();
#endif
  std::filesystem::create_directories(program);
  std::filesystem::create_directories(prefix / "share/doc/tessaline");
  std::ofstream(prefix / "share/doc/tessaline/README.md") << "# Tessaline\n";
  std::ofstream(prefix / "README.md") << "# Tessaline\n";
  TInfoLinks links = BuiltInfoLinks((program / "").string());
  EXPECT_EQ(links.Mail, "");
  EXPECT_EQ(links.WebText, "Documentation");
  EXPECT_EQ(links.Web, "file://" + config + readme);
  EXPECT_EQ(links.Donation, links.Web);

  // A program that was not installed leads to the README of its sources.
  links = BuiltInfoLinks((config_ / "elsewhere/").string());
  ASSERT_EQ(links.Web.rfind("file:///", 0), 0u) << links.Web;
  EXPECT_EQ(links.Web.find('\\'), std::string::npos) << links.Web;
#ifdef _WIN32
  const std::string source_readme = links.Web.substr(8);  // "C:/..."
#else
  const std::string source_readme = links.Web.substr(7);
#endif
  EXPECT_TRUE(std::filesystem::is_regular_file(source_readme)) << links.Web;
  EXPECT_EQ(std::filesystem::path(links.Web).filename(), "README.md");

  EXPECT_EQ(FileAddress("/tmp/a b/\xc3\xbc#?%.md"), "file:///tmp/a%20b/%C3%BC%23%3F%25.md");
  EXPECT_EQ(FileAddress("C:/Program Files/t/README.md"), "file:///C:/Program%20Files/t/README.md");
}

TEST_F(InfoWindowTest, ClosingItLeavesTheMainWindowAndTheMainWindowEndsBoth) {
  auto* main = Application->CreateForm<TForm1>();
  auto* info = Application->CreateForm<TFrmInfo>();
  ASSERT_EQ(Application->MainForm(), main);
  main->Show();
  EXPECT_TRUE(info->GetVisible());

  // From the keyboard: it opened with the keyboard at its first link; Tab
  // goes through the links, the donation button and the close button, and
  // Escape closes it as its close button does.
  // (The mail link shows only in builds that have a mail address.)
  std::vector<TControl*> order{info->Label9, info->Label12, info->Image2, info->Button1};
  if (!info->Label9->GetVisible()) order.erase(order.begin());
  EXPECT_EQ(info->FocusOrder(), order);
  EXPECT_EQ(info->FocusedControl(), order.front());
  EXPECT_EQ(info->Image2->AccessibleName(), "Donate");
  EXPECT_EQ(info->Button1->AccessibleName(), "Close");
  EXPECT_EQ(info->Label12->AccessibleRole(), arLink);
  EXPECT_TRUE(info->KeyDown(fkEscape, false));
  EXPECT_FALSE(info->GetVisible());
  EXPECT_TRUE(main->GetVisible());
  EXPECT_FALSE(Application->Terminated());

  // Shown again and left open, it goes when the main window's close ends the
  // application's message loop.
  info->Show();
  const HWND closer = AllocateHWnd([main](TMessage&) { main->btn_close->Click(); });
  PostMessage(closer, WM_USER, 0, 0);
  Application->Run();
  DeallocateHWnd(closer);
  EXPECT_TRUE(Application->Terminated());
  EXPECT_FALSE(main->GetVisible());
  Application->DestroyForms();
  EXPECT_EQ(Application->ComponentCount(), 0);
  EXPECT_EQ(Application->MainForm(), nullptr);
  EXPECT_TRUE(messages_.empty());
}

}  // namespace
