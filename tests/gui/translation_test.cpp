// The window's English catalogue: complete, and left out for Chinese.
#include <QAbstractButton>
#include <QLabel>
#include <QLocale>
#include <QTranslator>
#include <QXmlStreamReader>

#include "app/gui/application.h"
#include "tests/gui/gui_fixture.h"

namespace {

using namespace gt;

bool HasChinese(const QString& s) {
    // CJK punctuation, ideographs and full-width forms all lie above U+3000.
    return std::any_of(s.begin(), s.end(), [](QChar c) { return c >= QChar(0x3000); });
}

TEST(Translation, EverySourceTextHasAnEnglishTranslation) {
    QFile ts(QStringLiteral(VELLUMAR_EN_TS));
    ASSERT_TRUE(ts.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&ts);
    int messages = 0;
    QString source;
    while (xml.readNext() != QXmlStreamReader::EndDocument && !xml.hasError()) {
        if (!xml.isStartElement() || (xml.name() != u"source" && xml.name() != u"translation")) continue;
        const bool unfinished = xml.attributes().value("type") == u"unfinished";
        const bool isSource = xml.name() == u"source";
        const QString text = xml.readElementText(QXmlStreamReader::IncludeChildElements);
        if (isSource) source = text;
        else EXPECT_FALSE(unfinished || text.isEmpty() || HasChinese(text)) << source.toStdString();
        messages += !isSource;
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_GT(messages, 50);
}

// Under an English desktop nothing the window shows is left in Chinese; a
// Chinese one installs no catalogue, so the sources show as they are.
TEST_F(WindowTest, EnglishLocaleLeavesNoChineseText) {
    QTranslator zh, en;
    EXPECT_FALSE(vellumar::gui::InstallWindowTranslation(zh, QLocale(QLocale::Chinese, QLocale::China)));
    ASSERT_TRUE(vellumar::gui::InstallWindowTranslation(en, QLocale(QLocale::English)));
    Open(false);
    Pick({"/p/a.bmp"});
    QStringList shown{RowText(0), win->Rows().headerData(0, Qt::Horizontal, Qt::DisplayRole).toString()};
    for (QAction* a : win->findChildren<QAction*>()) shown << a->text() << a->toolTip();
    for (QLabel* l : win->findChildren<QLabel*>()) shown << l->text();
    for (QAbstractButton* b : win->findChildren<QAbstractButton*>()) shown << b->text() << b->toolTip();
    QCoreApplication::removeTranslator(&en);
    shown.removeAll(QString());
    EXPECT_GT(shown.size(), 30);
    for (const QString& s : shown) EXPECT_FALSE(HasChinese(s)) << s.toStdString();
    EXPECT_EQ(shown[0], U("Pending"));
}

}  // namespace
