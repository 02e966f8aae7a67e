// The main window's layout: fixed size, tool bar buttons bound to their actions, the column
// header panes, the row area and the status line, in pixels.

#include <QLabel>
#include <QToolButton>

#include "app/Action.h"
#include "app/tests/AppTestSupport.h"

namespace talvik_test {
namespace {

class LayoutTest : public AppTest {};

TEST_F(LayoutTest, WindowIsFixedAndCannotBeMaximised) {
  TForm1& form = CreateForm();
  EXPECT_EQ(form.windowTitle(), QStringLiteral("Тальвик"));
  EXPECT_EQ(form.size(), QSize(544, 180));
  EXPECT_EQ(form.minimumSize(), QSize(544, 180));
  EXPECT_EQ(form.maximumSize(), QSize(544, 180));
  const Qt::WindowFlags flags = form.windowFlags();
  EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowSystemMenuHint));
  EXPECT_EQ(form.font().pixelSize(), 11);
  ASSERT_TRUE(WaitForScans(1));
}

TEST_F(LayoutTest, ProbeTimerIsAOneShotOfAHundredMilliseconds) {
  TForm1 form;
  EXPECT_EQ(form.Timer1().interval(), 100);
  EXPECT_TRUE(form.Timer1().isSingleShot());
  EXPECT_FALSE(form.Timer1().isActive());
}

TEST_F(LayoutTest, BandsStackFromTopToBottom) {
  TForm1& form = CreateForm();
  EXPECT_EQ(form.Toolbar1().geometry(), QRect(0, 0, 544, 29));
  EXPECT_EQ(form.StatusBar2().geometry(), QRect(0, 29, 544, 19));
  EXPECT_EQ(form.Frame21().geometry(), QRect(0, 48, 544, 113));
  EXPECT_EQ(form.GlyphStatus1().geometry(), QRect(0, 161, 544, 19));

  const QList<QLabel*> panes = form.StatusBar2().findChildren<QLabel*>();
  ASSERT_EQ(panes.size(), 4);
  const struct {
    const char* caption;
    QRect geometry;
  } expected[] = {{"Порт", QRect(0, 0, 76, 19)},
                  {"Название", QRect(76, 0, 200, 19)},
                  {"Состояние", QRect(276, 0, 108, 19)},
                  {"Тип адаптера", QRect(384, 0, 140, 19)}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(panes[i]->text(), QString::fromUtf8(expected[i].caption));
    EXPECT_EQ(panes[i]->geometry(), expected[i].geometry);
    EXPECT_TRUE(panes[i]->alignment().testFlag(Qt::AlignLeft));
  }
  ASSERT_TRUE(WaitForScans(1));
}

TEST_F(LayoutTest, ToolbarButtonsShowTheirActions) {
  TForm1& form = CreateForm();
  const QToolButton& check = form.CheckButton();
  const QToolButton& about = form.AboutButton();
  EXPECT_EQ(check.geometry().left(), 4);
  EXPECT_EQ(check.width(), 94);
  EXPECT_EQ(about.geometry().left(), 98);
  EXPECT_EQ(about.width(), 96);
  EXPECT_EQ(check.toolButtonStyle(), Qt::ToolButtonTextBesideIcon);

  EXPECT_EQ(check.text(), QStringLiteral("Сканировать"));
  EXPECT_EQ(check.toolTip(), QStringLiteral("Сканировать последовательные порты компьютера"));
  EXPECT_EQ(form.ACheck().ImageIndex(), 2);
  EXPECT_FALSE(check.icon().isNull());
  EXPECT_EQ(about.text(), QStringLiteral("О программе"));
  EXPECT_EQ(about.toolTip(), QStringLiteral("Назначение программы"));
  EXPECT_EQ(form.AAbout().ImageIndex(), 5);
  EXPECT_FALSE(about.icon().isNull());

  // The scan button greys out while a scan runs; the About button does not.
  ASSERT_TRUE(SpinUntil([&] { return form.Scanning() || ScansFinished > 0; }));
  ASSERT_TRUE(WaitForScans(1));
  EXPECT_TRUE(check.isEnabled());
  EXPECT_TRUE(about.isEnabled());
}

}  // namespace
}  // namespace talvik_test
