// The window's English catalogue: complete, and left out for Chinese.
#include <QAbstractButton>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QTranslator>
#include <QXmlStreamReader>

#include "app/gui/application.h"
#include "tests/gui/gui_fixture.h"

namespace {

using namespace gt;

bool HasChinese(const QString& s) {
    for (QChar c : s)
        if ((c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF) || (c.unicode() >= 0xFF00 && c.unicode() <= 0xFFEF) ||
            (c.unicode() >= 0x3000 && c.unicode() <= 0x303F))
            return true;
    return false;
}

TEST(Translation, EverySourceTextHasAnEnglishTranslation) {
    QFile ts(QStringLiteral(VELLUMAR_EN_TS));
    ASSERT_TRUE(ts.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&ts);
    int messages = 0;
    QString source;
    while (xml.readNext() != QXmlStreamReader::EndDocument && !xml.hasError()) {
        if (!xml.isStartElement()) continue;
        if (xml.name() == u"source") source = xml.readElementText(QXmlStreamReader::IncludeChildElements);
        if (xml.name() != u"translation") continue;
        ++messages;
        const bool unfinished = xml.attributes().value("type") == u"unfinished";
        const QString text = xml.readElementText(QXmlStreamReader::IncludeChildElements);
        EXPECT_FALSE(unfinished || text.isEmpty() || HasChinese(text)) << source.toStdString();
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_GT(messages, 50);
}

// Under an English desktop nothing the window shows is left in Chinese; a
// Chinese one installs no catalogue, so the sources show as they are.
TEST_F(WindowTest, EnglishLocaleLeavesNoChineseText) {
    QTranslator zh;
    EXPECT_FALSE(vellumar::gui::InstallWindowTranslation(zh, QLocale(QLocale::Chinese, QLocale::China)));
    QTranslator en;
    ASSERT_TRUE(vellumar::gui::InstallWindowTranslation(en, QLocale(QLocale::English)));
    Open(false);
    Pick({"/p/a.bmp"});
    QStringList shown;
    for (QAction* a : win->findChildren<QAction*>()) shown << a->text() << a->toolTip();
    for (QLabel* l : win->findChildren<QLabel*>()) shown << l->text();
    for (QAbstractButton* b : win->findChildren<QAbstractButton*>()) shown << b->text();
    for (QWidget* w : win->findChildren<QWidget*>()) shown << w->toolTip();
    for (int c = 0; c < 2; ++c) shown << win->Rows().headerData(c, Qt::Horizontal, Qt::DisplayRole).toString()
                                      << RowText(0, c);
    shown.removeAll(QString());
    QCoreApplication::removeTranslator(&en);
    EXPECT_GT(shown.size(), 30);
    for (const QString& s : shown) EXPECT_FALSE(HasChinese(s)) << s.toStdString();
    EXPECT_TRUE(shown.contains(U("Pending")));
}

}  // namespace
