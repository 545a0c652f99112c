// The parameters dialog driven as a user drives it: typing, clicking, Enter.
#include "dialog/mainform.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QTest>
#include <memory>
#include <stdexcept>

#include "tests/support/ui.h"

namespace {

constexpr char kPosition[] = "Position value must be a valid number between 0.0 and 100.0";

class DialogTest : public testing::Test {
 protected:
  void SetUp() override {
    form = std::make_unique<TRovandelParamsForm>(nullptr);
    form->show();
  }
  std::unique_ptr<TRovandelParamsForm> form;
  MessageBoxAnswerer messages;
};

TEST_F(DialogTest, ComesUpWithTheResourceValues) {
  EXPECT_EQ(form->objectName(), "RovandelParamsForm");
  EXPECT_EQ(form->windowTitle(), "Rovandel Plugin");
  EXPECT_EQ(form->size(), QSize(401, 185));
  EXPECT_TRUE(form->FlattenRadio->Checked());
  EXPECT_EQ(form->PageControl->ActivePage(), form->Flatten);
  EXPECT_EQ(form->NoiseTypeCombo->GetItemIndex(), -1);
  EXPECT_EQ(form->NoiseTypeCombo->count(), 2);
  EXPECT_EQ(form->AmpSpin->GetValue(), 50);
  EXPECT_EQ(form->CoverSpin->GetValue(), 50);
  EXPECT_EQ(form->SeedEdit->GetText(), "12345");
  for (auto* spin : {form->FlattenSpin, form->GlaciateSpin, form->CanyonizeSpin})
    EXPECT_EQ(spin->GetValue(), 0);
  EXPECT_FALSE(form->WaterCheck->Checked());
  for (auto* edit :
       {form->XGeoEdit, form->YGeoEdit, form->HeightEdit, form->WidthEdit, form->FlattenHeightEdit})
    EXPECT_TRUE(edit->GetText().isEmpty());
  EXPECT_FALSE(form->PreviewShown);
  EXPECT_FALSE(form->PushingPreview);
  for (const char* name : {"OKButton", "CancelButton", "PreviewButton", "SeedEdit", "XGeoEdit",
                           "CanyonizeSpin", "WaterCheck", "HillRadio", "Hills", "Label11"})
    EXPECT_NE(form->findChild<QWidget*>(name), nullptr) << name;
  EXPECT_TRUE(messages.texts.isEmpty());
}

struct Entry {
  const char* field;
  const char* text;
  bool typed;  // typed key by key, or pasted whole
  const char* message;
  const char* finalText;
  friend void PrintTo(const Entry& e, std::ostream* os) {
    *os << e.field << (e.typed ? " typed " : " set to ") << '"' << e.text << '"';
  }
};

class FieldCheck : public DialogTest, public testing::WithParamInterface<Entry> {};

TEST_P(FieldCheck, AnswersAsTheUserExpects) {
  const Entry& e = GetParam();
  auto* edit = form->findChild<TEdit*>(e.field);
  ASSERT_NE(edit, nullptr);
  edit->clear();
  messages.texts.clear();
  if (e.typed) {
    QTest::keyClicks(edit, e.text);
  } else {
    edit->SetText(e.text);
  }
  QStringList expected;
  if (*e.message) expected << e.message;
  EXPECT_EQ(messages.texts, expected);
  EXPECT_EQ(edit->GetText(), e.finalText);
  // A hill placed on the map writes more digits than the field shows: its first ones.
  if (!e.typed) {
    EXPECT_EQ(edit->cursorPosition(), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Entries, FieldCheck,
    testing::Values(
        Entry{"XGeoEdit", "0", true, "", "0"}, Entry{"XGeoEdit", "100", true, "", "100"},
        Entry{"YGeoEdit", "100.0", false, "", "100.0"},
        Entry{"XGeoEdit", "54.7563", false, "", "54.7563"},
        Entry{"XGeoEdit", "100.5", false, kPosition, "100.5"},
        Entry{"YGeoEdit", "-1", false, kPosition, "-1"},
        Entry{"XGeoEdit", "x", true, kPosition, "50"},
        Entry{"SeedEdit", "12a45", false, "Seed value must be a valid integer", "12345"},
        Entry{"SeedEdit", "-77", false, "", "-77"}, Entry{"SeedEdit", "0", true, "", "0"},
        Entry{"HeightEdit", "-", true, "Height value must be a valid number", "50"},
        Entry{"HeightEdit", "-25", false, "", "-25"},
        Entry{"FlattenHeightEdit", "-", true, "Height value must be a valid number", "0"},
        Entry{"WidthEdit", "w", true, "Width value must be a valid number", "50"}),
    [](const auto& info) { return info.param.field + std::to_string(info.index); });

TEST_F(DialogTest, ClearingAFieldSaysNothing) {
  form->HeightEdit->SetText("12");
  QTest::keyClick(form->HeightEdit, Qt::Key_End);  // the text set shows from its start
  QTest::keyClick(form->HeightEdit, Qt::Key_Backspace);
  QTest::keyClick(form->HeightEdit, Qt::Key_Backspace);
  EXPECT_TRUE(form->HeightEdit->GetText().isEmpty());
  EXPECT_TRUE(messages.texts.isEmpty());
}

TEST_F(DialogTest, SeedTypingStopsAtFiveCharactersButCodeMaySetMore) {
  form->SeedEdit->clear();
  QTest::keyClicks(form->SeedEdit, "1234567");
  EXPECT_EQ(form->SeedEdit->GetText(), "12345");
  form->SeedEdit->SetText("987654");
  EXPECT_EQ(form->SeedEdit->GetText(), "987654");
  // A longer text from code (a stored or clock seed) stays, but typing cannot lengthen it.
  form->SeedEdit->setFocus();
  form->SeedEdit->end(false);
  QTest::keyClicks(form->SeedEdit, "123");
  EXPECT_EQ(form->SeedEdit->GetText(), "987654");
  form->SeedEdit->selectAll();
  QApplication::clipboard()->setText("9876543");
  QTest::keyClick(form->SeedEdit, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(form->SeedEdit->GetText(), "987654");
  // Deleting works, and then the field is held to what it has become.
  QTest::keyClick(form->SeedEdit, Qt::Key_End);
  QTest::keyClick(form->SeedEdit, Qt::Key_Backspace);
  QTest::keyClicks(form->SeedEdit, "12");
  EXPECT_EQ(form->SeedEdit->GetText(), "98765");
  // A selection replaced by text no longer than the limit.
  form->SeedEdit->setSelection(1, 3);
  QTest::keyClicks(form->SeedEdit, "0");
  EXPECT_EQ(form->SeedEdit->GetText(), "905");
  EXPECT_TRUE(messages.texts.isEmpty());
  // A pasted text longer than the room left keeps its first characters that fit.
  form->SeedEdit->clear();
  QApplication::clipboard()->setText("1234567890");
  QTest::keyClick(form->SeedEdit, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(form->SeedEdit->GetText(), "12345");
  form->SeedEdit->SetText("12");
  form->SeedEdit->setCursorPosition(1);
  QApplication::clipboard()->setText("678901");
  QTest::keyClick(form->SeedEdit, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(form->SeedEdit->GetText(), "16782");
  EXPECT_TRUE(messages.texts.isEmpty());
}

TEST_F(DialogTest, RadioButtonsBringTheirPageButSoftenLeavesIt) {
  QTest::mouseClick(form->NoiseRadio, Qt::LeftButton, {}, QPoint(6, 8));
  EXPECT_EQ(form->PageControl->ActivePage(), form->Noise);
  QTest::mouseClick(form->SoftenRadio, Qt::LeftButton, {}, QPoint(6, 8));
  EXPECT_TRUE(form->SoftenRadio->Checked());
  EXPECT_EQ(form->PageControl->ActivePage(), form->Noise);
  form->HillRadio->SetChecked(true);  // from code, as the settings do
  EXPECT_EQ(form->PageControl->ActivePage(), form->Hills);
  form->PageControl->SetActivePage(form->Glaciate);  // a tab alone changes no action
  EXPECT_TRUE(form->HillRadio->Checked());
}

TEST_F(DialogTest, PreviewRunsTheActionWithTheButtonDisabled) {
  int ran = -1;
  bool enabledDuringRun = true;
  int pushes = 0;
  form->previewBackend = {[] { return 6; },
                          [&](int action) {
                            ran = action;
                            enabledDuringRun = form->PreviewButton->isEnabled();
                          },
                          [&] { ++pushes; }};
  QTest::mouseClick(form->PreviewButton, Qt::LeftButton);
  EXPECT_EQ(ran, 6);
  EXPECT_FALSE(enabledDuringRun);
  EXPECT_EQ(pushes, 1);
  EXPECT_TRUE(form->PreviewShown);
  EXPECT_TRUE(form->PreviewButton->isEnabled());
}

TEST_F(DialogTest, AFailingPreviewIsReportedAndLeavesTheDialogUsable) {
  form->previewBackend = {[] { return 0; }, [](int) { throw std::runtime_error("out of heights"); },
                          [] {}};
  QTest::mouseClick(form->PreviewButton, Qt::LeftButton);
  EXPECT_EQ(messages.texts, QStringList{"out of heights"});
  EXPECT_FALSE(form->PreviewShown);
  EXPECT_TRUE(form->PreviewButton->isEnabled());
}

TEST_F(DialogTest, NoCloseWhilePushingAPreview) {
  form->PushingPreview = true;
  QTest::mouseClick(form->OKButton, Qt::LeftButton);
  QTest::mouseClick(form->CancelButton, Qt::LeftButton);
  form->close();
  EXPECT_TRUE(form->isVisible());
  form->PushingPreview = false;
  form->close();
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(form->result(), mrCancel);
}

TEST_F(DialogTest, EscapePressesNothing) {
  form->hide();
  WhenModalShown("RovandelParamsForm", [](QDialog* dialog) {
    QTest::keyClick(dialog, Qt::Key_Escape);
    EXPECT_TRUE(dialog->isVisible());
    ClickButton(dialog, "CancelButton");
  });
  EXPECT_EQ(form->ShowModal(), mrCancel);
}

// Tab into the Actions group lands on the checked action, whichever it is; the next Tab
// leaves the group; the arrow keys change the action and its page as a click does.
TEST_F(DialogTest, TabLandsOnTheCheckedActionAndArrowsChangeIt) {
  form->hide();
  WhenModalShown("RovandelParamsForm", [this](QDialog* dialog) {
    for (TRadioButton* radio : form->ActionRadios()) {
      radio->SetChecked(true);
      form->CancelButton->setFocus();
      QTest::keyClick(form->CancelButton, Qt::Key_Tab);
      EXPECT_EQ(dialog->focusWidget(), radio) << radio->objectName().toStdString();
      QTest::keyClick(radio, Qt::Key_Tab);
      EXPECT_EQ(qobject_cast<QRadioButton*>(dialog->focusWidget()), nullptr)
          << radio->objectName().toStdString();
    }
    form->FlattenRadio->SetChecked(true);
    form->FlattenRadio->setFocus();
    QTest::keyClick(form->FlattenRadio, Qt::Key_Down);
    EXPECT_TRUE(form->GlaciateRadio->Checked());
    EXPECT_EQ(dialog->focusWidget(), form->GlaciateRadio);
    EXPECT_EQ(form->PageControl->ActivePage(), form->Glaciate);
    QTest::keyClick(form->GlaciateRadio, Qt::Key_Up);
    EXPECT_TRUE(form->FlattenRadio->Checked());
    EXPECT_EQ(form->PageControl->ActivePage(), form->Flatten);
    ClickButton(dialog, "CancelButton");
  });
  form->ShowModal();
}

// Enter presses the push button that has the focus; from any other control, OK.
struct EnterCase {
  const char* widget;
  int result;  // the modal result; mrNone: the dialog stays open
};

class EnterKey : public DialogTest, public testing::WithParamInterface<EnterCase> {};

TEST_P(EnterKey, PressesTheFocusedButtonOrOk) {
  form->hide();
  bool stayedOpen = false;
  WhenModalShown("RovandelParamsForm", [this, &stayedOpen](QDialog* dialog) {
    auto* target = dialog->findChild<QWidget*>(GetParam().widget);
    ASSERT_NE(target, nullptr);
    for (QWidget* w = target; w; w = w->parentWidget())  // bring its page to the front
      if (const int page = form->PageControl->indexOf(w); page >= 0)
        form->PageControl->setCurrentIndex(page);
    target->setFocus();
    QTest::keyClick(target, Qt::Key_Return);
    stayedOpen = dialog->isVisible();
    if (stayedOpen) ClickButton(dialog, "CancelButton");
  });
  const int result = form->ShowModal();
  if (GetParam().result == mrNone) {
    EXPECT_TRUE(stayedOpen);
  } else {
    EXPECT_EQ(result, GetParam().result);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Widgets, EnterKey,
    testing::Values(EnterCase{"OKButton", mrOk}, EnterCase{"CancelButton", mrCancel},
                    EnterCase{"PreviewButton", mrNone}, EnterCase{"SeedEdit", mrOk},
                    EnterCase{"XGeoEdit", mrOk}, EnterCase{"YGeoEdit", mrOk},
                    EnterCase{"WidthEdit", mrOk}, EnterCase{"HeightEdit", mrOk},
                    EnterCase{"FlattenHeightEdit", mrOk}, EnterCase{"FlattenSpin", mrOk},
                    EnterCase{"HillRadio", mrOk}),
    [](const auto& info) { return std::string(info.param.widget); });

// The dialog draws at its size with the chosen page in front (the README's picture is
// written when ROVANDEL_DIALOG_PNG names a file).
TEST_F(DialogTest, RendersToAPicture) {
  const QImage flatten = form->grab().toImage();
  form->HillRadio->SetChecked(true);
  form->XGeoEdit->SetText("50");
  form->YGeoEdit->SetText("50");
  form->HeightEdit->SetText("10");
  form->WidthEdit->SetText("10");
  const QImage hill = form->grab().toImage();
  EXPECT_EQ(hill.size(), QSize(401, 185) * form->devicePixelRatio());
  EXPECT_EQ(form->PageControl->ActivePage(), form->Hills);
  EXPECT_NE(hill, flatten);  // the page and its fields are drawn
  const QColor corner = hill.pixelColor(0, 0);
  int differing = 0;
  for (int y = 0; y < hill.height(); y += 4)
    for (int x = 0; x < hill.width(); x += 4) differing += hill.pixelColor(x, y) != corner;
  EXPECT_GT(differing, 100);
  const QString path = qEnvironmentVariable("ROVANDEL_DIALOG_PNG");
  if (!path.isEmpty()) {
    EXPECT_TRUE(hill.save(path));
  }
}

}  // namespace
