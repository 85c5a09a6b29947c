// The window's English catalogue: complete, and left out for Chinese.
#include <QAbstractButton>
#include <QLabel>
#include <QLocale>
#include <QTranslator>
#include <QXmlStreamReader>

#include "app/gui/application.h"
#include "app/gui/engine_texts.h"
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

// The engine's notes and reasons follow the window: every note has a Chinese
// form with the English one's values, and an English window says the
// engine's own Chinese reasons in English.
TEST(Translation, EngineTextsFollowTheWindow) {
    using namespace vellumar::gui;
    const auto marks = [](const std::string& s) {
        std::string m;
        for (size_t i = 0; i + 2 < s.size(); ++i)
            if (s[i] == '{' && s[i + 2] == '}') m += s[i + 1];
        std::sort(m.begin(), m.end());
        m.erase(std::unique(m.begin(), m.end()), m.end());
        return m;
    };
    for (const VxNoteText* n = VxNoteTexts(); n->id; ++n) {
        ASSERT_NE(ChineseNote(n->id), nullptr) << n->id;
        EXPECT_EQ(marks(ChineseNote(n->id)), marks(n->english)) << n->id;
    }
    const VxNoteParts note{"frames-one", {"frame", "1", "4", "BMP"}};
    const VxMessage* m = VxMessages();
    while (m->id && std::string_view(m->id) != "cancelled") ++m;
    ASSERT_TRUE(m->id);
    const std::string cancelled = m->native;
    ASSERT_TRUE(WindowInChinese());
    EXPECT_EQ(EngineNote(note), QString::fromUtf8("只保留了第 1 帧（共 4 帧）：BMP 只能存储一张图像"));
    EXPECT_EQ(EngineReason(cancelled).toStdString(), cancelled);
    QTranslator en;
    ASSERT_TRUE(InstallWindowTranslation(en, QLocale(QLocale::English)));
    EXPECT_FALSE(WindowInChinese());
    EXPECT_EQ(EngineNote(note).toStdString(), VxNote(note));
    EXPECT_EQ(EngineReason(cancelled).toStdString(), m->english);
    QCoreApplication::removeTranslator(&en);
}

}  // namespace
