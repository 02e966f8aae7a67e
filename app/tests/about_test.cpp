#include <gtest/gtest.h>

#include <QLabel>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <memory>
#include <vector>

#include "app/MakerInfo.h"
#include "app/aboutForm.h"
#include "testing/QtTestApp.h"

namespace {

class AboutFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    talvik_test::EnsureQtApp();
    form_ = std::make_unique<TForm2>();
    form_->OpenUrl = [this](const QUrl& url) {
      opened_.push_back(url);
      return openSucceeds_;
    };
  }

  QLabel* Label(const char* name) const {
    auto* label = form_->findChild<QLabel*>(QString::fromLatin1(name));
    EXPECT_NE(label, nullptr) << name;
    return label;
  }

  QColor LinkColour() const { return Label("LinkLabel")->palette().color(QPalette::WindowText); }

  std::unique_ptr<TForm2> form_;
  std::vector<QUrl> opened_;
  bool openSucceeds_ = true;
};

TEST_F(AboutFormTest, ShowsCaptionTextsAndTheBuildVersion) {
  EXPECT_EQ(form_->windowTitle(), QStringLiteral("О программе"));
  EXPECT_EQ(Label("Label1")->text(), QString());
  EXPECT_EQ(Label("Label2")->text(), QStringLiteral("Программа предназначена для "));
  EXPECT_EQ(Label("Label3")->text(), QStringLiteral("определения доступных последовательных"));
  EXPECT_EQ(Label("Label4")->text(), QStringLiteral("портов в системе."));
  EXPECT_EQ(Label("Label5")->text(), QString());
  EXPECT_EQ(Label("VersionLabel")->text(), QStringLiteral("Версия : 1.0.7.0"));
  EXPECT_EQ(Label("LinkLabel")->text(), QString::fromLatin1(kMakerSite));
  EXPECT_TRUE(Label("LinkLabel")->font().underline());
  EXPECT_EQ(Label("Image2")->toolTip(), QString::fromLatin1(kMakerUrl));
  EXPECT_EQ(Label("Image2")->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(Label("LinkLabel")->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(form_->font().pointSize(), 8);
}

TEST_F(AboutFormTest, LaysOutTheFixedClientAreaFromTheTop) {
  EXPECT_EQ(form_->size(), QSize(235, 126));
  EXPECT_EQ(form_->minimumSize(), form_->maximumSize());
  EXPECT_FALSE(form_->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(form_->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(form_->windowFlags() & Qt::WindowCloseButtonHint);

  EXPECT_EQ(Label("Image2")->geometry(), QRect(0, 9, 235, 30));
  EXPECT_EQ(Label("Image2")->pixmap().size(), QSize(128, 30));
  int top = 39;
  for (const char* name : {"Label1", "Label2", "Label3", "Label4", "Label5"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Label(name)->geometry(), QRect(0, top, 235, 13));
    EXPECT_EQ(Label(name)->alignment(), Qt::AlignCenter);
    top += 13;
  }
  // The strip sits at the bottom; the link ends 10 pixels before the right edge.
  const QWidget* strip = form_->findChild<QWidget*>(QStringLiteral("StatusBar1"));
  ASSERT_NE(strip, nullptr);
  EXPECT_EQ(strip->geometry(), QRect(0, 107, 235, 19));
  EXPECT_EQ(Label("LinkLabel")->geometry(), QRect(160, 0, 65, 19));
  const QLabel* version = Label("VersionLabel");
  EXPECT_EQ(version->x(), 0);
  EXPECT_EQ(version->height(), 19);
  EXPECT_LE(version->width(), 160);
  EXPECT_GE(version->width(), version->fontMetrics().horizontalAdvance(version->text()));

  // No text is cut off, whatever the width of the desktop's font.
  for (const char* name : {"Label2", "Label3", "Label4", "VersionLabel", "LinkLabel"}) {
    const QLabel* label = Label(name);
    EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width()) << name;
  }
}

TEST_F(AboutFormTest, MiddleLineClosesTheWindowAndOtherLinesDoNot) {
  form_->show();
  for (const char* name : {"Label1", "Label2", "Label4", "Label5", "VersionLabel"}) {
    QTest::mouseClick(Label(name), Qt::LeftButton);
    EXPECT_TRUE(form_->isVisible()) << name;
  }
  EXPECT_TRUE(opened_.empty());
  QTest::mouseClick(Label("Label3"), Qt::RightButton);
  EXPECT_TRUE(form_->isVisible());
  QTest::mouseClick(Label("Label3"), Qt::LeftButton);
  EXPECT_FALSE(form_->isVisible());
}

TEST_F(AboutFormTest, MiddleLineEndsTheModalLoop) {
  QPointer<TForm2> form = form_.get();
  QTimer::singleShot(0, [this] { QTest::mouseClick(Label("Label3"), Qt::LeftButton); });
  // Without the click the loop would never end and the test would time out.
  form_->exec();
  ASSERT_FALSE(form.isNull());
  EXPECT_FALSE(form_->isVisible());
}

TEST_F(AboutFormTest, LinkTurnsPurpleOnlyAfterASuccessfulOpen) {
  const QColor unvisited = LinkColour();
  EXPECT_EQ(unvisited, form_->palette().color(QPalette::Highlight));

  openSucceeds_ = false;
  QTest::mouseClick(Label("LinkLabel"), Qt::LeftButton);
  ASSERT_EQ(opened_.size(), 1U);
  EXPECT_EQ(opened_[0], QUrl(QString::fromLatin1(kMakerUrl)));
  EXPECT_FALSE(form_->LinkVisited());
  EXPECT_EQ(LinkColour(), unvisited);

  openSucceeds_ = true;
  QTest::mouseClick(Label("Image2"), Qt::LeftButton);  // the logo acts as the link
  ASSERT_EQ(opened_.size(), 2U);
  EXPECT_EQ(opened_[1], QUrl(QString::fromLatin1(kMakerUrl)));
  EXPECT_TRUE(form_->LinkVisited());
  EXPECT_EQ(LinkColour(), QColor(0x80, 0x00, 0x80));
}

TEST_F(AboutFormTest, ClosingOnlyHidesAndTheVisitedColourStays) {
  QPointer<TForm2> form = form_.get();
  form_->show();
  QTest::mouseClick(Label("LinkLabel"), Qt::LeftButton);
  ASSERT_TRUE(form_->LinkVisited());
  EXPECT_TRUE(form_->close());
  QCoreApplication::processEvents();
  ASSERT_FALSE(form.isNull());
  EXPECT_FALSE(form_->isVisible());

  form_->show();
  EXPECT_TRUE(form_->isVisible());
  EXPECT_EQ(LinkColour(), QColor(0x80, 0x00, 0x80));
}

TEST_F(AboutFormTest, IsCentredOverItsParentWhenShown) {
  QWidget owner;
  owner.setGeometry(200, 150, 544, 180);
  owner.show();
  TForm2 dialog(&owner);
  dialog.show();
  const QPoint offset = dialog.geometry().center() - owner.frameGeometry().center();
  EXPECT_LE(offset.manhattanLength(), 30) << offset.x() << "," << offset.y();
  dialog.hide();
  owner.move(20, 40);
  dialog.show();
  const QPoint moved = dialog.geometry().center() - owner.frameGeometry().center();
  EXPECT_LE(moved.manhattanLength(), 30) << moved.x() << "," << moved.y();
}

}  // namespace
