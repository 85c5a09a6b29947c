// The engine's message box: placement, sizes, one at a time, hover, clicks,
// the opening animation, icons and redraws after theme changes.
#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include "tests/gui/gui_fixture.h"
#include "ui_engine/skin_message_box.h"
#include "ui_engine/ui_engine.h"

namespace {

using namespace vellumar::ui;
using gt::U;
using gt::WaitFor;

class MessageBoxTest : public ::testing::Test {
protected:
    void SetUp() override { Engine::Initialize(); }
    void TearDown() override { box.Release(); }

    int VisibleBoxes() const {
        int n = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (dynamic_cast<MessageBoxWindow*>(w) && w->isVisible()) ++n;
        return n;
    }
    bool ClickAt(const QPoint& p) {
        MessageBoxWindow* w = box.Window();
        if (!w) return false;
        QTest::mouseClick(w, Qt::LeftButton, {}, p);
        return WaitFor([this] { return !box.IsOpen(); }, 3000);
    }

    SkinMessageBox box;
};

TEST(MessageBoxPlacement, FormulaTruncatesTowardZero) {
    // Centre of a default-size box on the area's centre.
    EXPECT_EQ(SkinMessageBox::PlaceOver(QRect(50, 50, 465, 387)), QPoint(80, 156));
    // Halves are cut toward zero, also left of and above the origin.
    EXPECT_EQ(SkinMessageBox::PlaceOver(QRect(-1001, -500, 466, 388)), QPoint(-970, -393));
    EXPECT_EQ(SkinMessageBox::PlaceOver(QRect(0, 0, 100, 100)), QPoint(-152, -37));
    EXPECT_EQ(SkinMessageBox::PlaceOnScreen(QSize(800, 600)), QPoint(197, 212));
    EXPECT_EQ(SkinMessageBox::PlaceOnScreen(QSize(1366, 768)), QPoint(480, 296));
}

TEST_F(MessageBoxTest, PlacedFromOwnerRectangleAsIfDefaultSize) {
    QWidget owner;
    owner.setGeometry(120, 90, 465, 387);
    owner.show();
    const QRect r = owner.frameGeometry();
    box.Show(U("文本"), U("警告"), kIconWarning, 0, 300, 150, &owner);
    MessageBoxWindow* w = box.Window();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->pos(), QPoint(int(r.x() + r.width() / 2.0 - 202.5), int(r.y() + r.height() / 2.0 - 87.5)));
    EXPECT_EQ(w->size(), QSize(300, 150));
    EXPECT_EQ(w->parentWidget(), &owner);
    EXPECT_TRUE(w->isWindow());
    EXPECT_TRUE(w->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(w->testAttribute(Qt::WA_TranslucentBackground));
}

TEST_F(MessageBoxTest, WithoutOwnerPlacedFromScreenSize) {
    box.Show(U("文本"), U("信息"), kIconInformation, 1, 300, 150);
    ASSERT_TRUE(box.IsOpen());
    const QSize s = QGuiApplication::primaryScreen()->geometry().size();
    EXPECT_EQ(box.Window()->pos(), SkinMessageBox::PlaceOnScreen(s));
    EXPECT_EQ(box.Window()->parentWidget(), nullptr);
}

TEST_F(MessageBoxTest, SizesNotGivenKeepTheDefault) {
    struct Case { std::optional<int> w, h; QSize expected; };
    const Case cases[] = {
        {{}, {}, QSize(405, 175)},
        {300, {}, QSize(300, 175)},
        {{}, 150, QSize(405, 150)},
        {520, 240, QSize(520, 240)},
    };
    for (const Case& c : cases) {
        box.Show(U("文本"), U("标题"), kIconInformation, 0, c.w, c.h);
        ASSERT_TRUE(box.IsOpen());
        EXPECT_EQ(box.Window()->size(), c.expected);
        // The two active areas follow the size.
        EXPECT_EQ(box.Window()->CloseArea(), QRect(c.expected.width() - 55, 7, 48, 22));
        EXPECT_EQ(box.Window()->OkArea(),
                  QRect(c.expected.width() - 91, c.expected.height() - 38, 75, 28));
        box.Release();
    }
}

TEST_F(MessageBoxTest, OnlyOneBoxAtATime) {
    box.Show(U("第一"), U("警告"), kIconWarning, 0, 300, 150);
    box.Show(U("第二"), U("信息"), kIconInformation, 0, 300, 150);
    ASSERT_TRUE(box.IsOpen());
    EXPECT_EQ(box.Window()->Text(), U("第一"));
    EXPECT_EQ(VisibleBoxes(), 1);
}

TEST_F(MessageBoxTest, ClickOnEitherAreaClosesAndNextShowAppears) {
    for (int area : {1, 2}) {
        box.Show(U("一"), U("警告"), kIconWarning, 0, 300, 150);
        MessageBoxWindow* w = box.Window();
        ASSERT_NE(w, nullptr);
        const QPoint p = area == 1 ? w->CloseArea().center() : w->OkArea().center();
        ASSERT_TRUE(ClickAt(p)) << "area " << area;
        EXPECT_FALSE(box.IsOpen());
        EXPECT_TRUE(Engine::OpenWindows().isEmpty());
        box.Show(U("二"), U("信息"), kIconInformation, 0, 300, 150);
        ASSERT_TRUE(box.IsOpen());
        EXPECT_EQ(box.Window()->Text(), U("二"));
        box.Release();
    }
}

TEST_F(MessageBoxTest, ClickOutsideTheAreasKeepsItOpen) {
    box.Show(U("一"), U("警告"), kIconWarning, 0, 300, 150);
    MessageBoxWindow* w = box.Window();
    QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(150, 80));
    // A press in an area released outside it does not close either.
    QTest::mousePress(w, Qt::LeftButton, {}, w->OkArea().center());
    QTest::mouseRelease(w, Qt::LeftButton, {}, QPoint(20, 100));
    EXPECT_FALSE(WaitFor([this] { return !box.IsOpen(); }, 300));
    EXPECT_TRUE(box.IsOpen());
}

TEST_F(MessageBoxTest, HoverTracksTheAreasAndChangesTheLook) {
    box.Show(U("一"), U("警告"), kIconWarning, 0, 300, 150);
    MessageBoxWindow* w = box.Window();
    const QImage plain = w->grab().toImage();
    QTest::mouseMove(w, w->CloseArea().center());
    EXPECT_TRUE(WaitFor([w] { return w->Hover() == 1; }, 2000));
    const QImage overClose = w->grab().toImage();
    QTest::mouseMove(w, w->OkArea().center());
    EXPECT_TRUE(WaitFor([w] { return w->Hover() == 2; }, 2000));
    const QImage overOk = w->grab().toImage();
    QTest::mouseMove(w, QPoint(150, 80));
    EXPECT_TRUE(WaitFor([w] { return w->Hover() == 0; }, 2000));
    EXPECT_NE(plain.copy(w->CloseArea()), overClose.copy(w->CloseArea()));
    EXPECT_EQ(plain.copy(w->OkArea()), overClose.copy(w->OkArea()));
    EXPECT_NE(plain.copy(w->OkArea()), overOk.copy(w->OkArea()));
}

TEST_F(MessageBoxTest, OpeningAnimationRisesFrom130To250In13Frames) {
    std::vector<int> paced;
    box.SetPace([&paced](int frameMs, qint64) { paced.push_back(frameMs); });
    box.Show(U("一"), U("警告"), kIconWarning, 0, 300, 150);
    std::vector<int> expected;
    for (int a = 130; a <= 250; a += 10) expected.push_back(a);
    EXPECT_EQ(box.LastAnimation(), expected);
    EXPECT_EQ(box.Window()->Alpha(), 250);
    EXPECT_TRUE(box.Window()->isVisible());
    // Every frame is paced: 20, then eight of 30, then four of 20 ms.
    const std::vector<int> frames = {20, 30, 30, 30, 30, 30, 30, 30, 30, 20, 20, 20, 20};
    EXPECT_EQ(paced, frames);
    box.Release();

    box.Show(U("关于"), U("关于作者"), kIconInformation, 1, 300, 150);
    ASSERT_FALSE(box.LastAnimation().empty());
    EXPECT_EQ(box.LastAnimation().back(), 250);
    EXPECT_EQ(box.Window()->Alpha(), 250);
}

TEST_F(MessageBoxTest, IconMatchesTheCode) {
    struct Case { int code; QRgb tone; };
    // Sampled inside the icon, away from its glyph.
    const Case cases[] = {{kIconError, qRgb(0xD0, 0x30, 0x30)},
                          {kIconQuestion, qRgb(0x2A, 0x70, 0xC8)},
                          {kIconWarning, qRgb(0xF0, 0xA8, 0x18)},
                          {kIconInformation, qRgb(0x1E, 0x88, 0x50)}};
    for (const Case& c : cases) {
        box.Show(U("文本"), U("标题"), c.code, 0, 300, 150);
        const QImage img = box.Window()->grab().toImage();
        // Circles are centred at (32, 64) with radius 16; the triangle widens downward.
        const QColor px = c.code == kIconWarning ? img.pixelColor(24, 76) : img.pixelColor(22, 64);
        const QColor want(c.tone);
        EXPECT_LE(std::abs(px.red() - want.red()) + std::abs(px.green() - want.green()) +
                      std::abs(px.blue() - want.blue()),
                  30)
            << "icon " << c.code << " got " << px.name().toStdString();
        box.Release();
    }
    // An unknown code draws no icon: the body colour shows there.
    box.Show(U("文本"), U("标题"), 0, 0, 300, 150);
    const QColor px = box.Window()->grab().toImage().pixelColor(22, 64);
    EXPECT_GT(px.red(), 230);
    EXPECT_GT(px.green(), 230);
}

TEST_F(MessageBoxTest, EngineRedrawsOpenWindowsAfterThemeChanges) {
    box.Show(U("文本"), U("标题"), kIconWarning, 0, 300, 150);
    MessageBoxWindow* w = box.Window();
    ASSERT_TRUE(Engine::OpenWindows().contains(w));
    const QImage before = w->grab().toImage();
    const int n = w->RedrawRequests();
    Engine::SetThemeColor(0xFF8800);
    EXPECT_EQ(w->RedrawRequests(), n + 1);
    Engine::SetDisplayFlag(1);
    EXPECT_EQ(w->RedrawRequests(), n + 2);
    // The title band now wears the new colour (COLORREF 0xFF8800: blue 255, green 136).
    const QColor band = w->grab().toImage().pixelColor(100, 30);
    EXPECT_GT(band.blue(), 200);
    EXPECT_LT(band.red(), 60);
    EXPECT_NE(before, w->grab().toImage());
}

TEST(UiEngine, ColorRefHasRedInTheLowByte) {
    EXPECT_EQ(ColorFromColorRef(0xFF8800), QColor(0, 0x88, 0xFF));
    EXPECT_EQ(ColorFromColorRef(0xC06000), QColor(0, 0x60, 0xC0));
    Engine::Initialize();
    EXPECT_EQ(Engine::ThemeColor(), 0xC06000u);
    EXPECT_EQ(Engine::DisplayFlag(), 0);
}

TEST_F(MessageBoxTest, EnterAndEscCloseOtherKeysDoNot) {
    const struct { Qt::Key key; bool closes; } cases[] = {
        {Qt::Key_Return, true}, {Qt::Key_Enter, true}, {Qt::Key_Escape, true}, {Qt::Key_Space, false},
    };
    for (const auto& c : cases) {
        box.Show(U("一"), U("警告"), kIconWarning, 0, 300, 150);
        ASSERT_TRUE(box.IsOpen());
        QTest::keyClick(box.Window(), c.key);
        EXPECT_EQ(WaitFor([this] { return !box.IsOpen(); }, 300), c.closes) << c.key;
        box.Release();
    }
}

}  // namespace
