#include "zip/ZipDlg.h"
#include "zip/ZipMsgStr.h"
#include "zip/ZipTestUtil.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QtTest>

class TestZipDlg : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void testKinds_data();
    void testKinds();
    void testDefaultAndCancel_data();
    void testDefaultAndCancel();
    void testButtonsAnswer();
    void testCaptionsFollowLanguage();
    void testPasswordEdit();
    void testLayout();
    void testLongMessageWraps();
    void testRightToLeft();
    void testTitle();
};

void TestZipDlg::cleanup()
{
    SetMessageLanguage(QString(), std::nullopt);
    QApplication::setLayoutDirection(Qt::LeftToRight);
    TZipDialogBox::setNextAnswer(nullptr);
}

void TestZipDlg::testKinds_data()
{
    QTest::addColumn<int>("context");
    QTest::addColumn<int>("kind");
    QTest::newRow("0 counts as exclamation") << 0 << 0;
    QTest::newRow("context number only") << 0x2710 << 0;
    QTest::newRow("exclamation") << 0x100000 << 0;
    QTest::newRow("error report") << ZipDlgError << 1;
    QTest::newRow("information") << ZipDlgInformation << 2;
    QTest::newRow("question") << 0x130000 << 3;
    QTest::newRow("password") << ZipDlgPassword + 10003 << 4;
    QTest::newRow("kind index capped") << 0x170000 << 4;
}

void TestZipDlg::testKinds()
{
    QFETCH(int, context);
    QFETCH(int, kind);

    TZipDialogBox box(nullptr, context);
    box.setup(QStringLiteral("t"), QStringLiteral("message"), { mbOK });
    QCOMPARE(box.kind(), kind);
    auto* image = box.findChild<QLabel*>(QStringLiteral("Image"));
    auto* edit = box.findChild<QLineEdit*>(QStringLiteral("zipdEdit"));
    QCOMPARE(image != nullptr, kind != 4);
    QCOMPARE(edit != nullptr, kind == 4);
    if (image) {
        QCOMPARE(image->size(), QSize(32, 32));
        QVERIFY(!image->pixmap().isNull());
    }
}

void TestZipDlg::testDefaultAndCancel_data()
{
    QTest::addColumn<quint32>("buttons");
    QTest::addColumn<QString>("defaultCaption");
    QTest::addColumn<QString>("cancelCaption");
    QTest::addColumn<int>("closeResult");

    QTest::newRow("yes no") << TMsgDlgButtons { mbYes, mbNo }.bits() << "&Yes"
                            << "&No" << int(mrNo);
    QTest::newRow("OK only") << TMsgDlgButtons { mbOK }.bits() << "&OK"
                             << "&OK" << int(mrOk);
    QTest::newRow("OK cancel all") << TMsgDlgButtons { mbOK, mbCancel, mbAll }.bits() << "&OK"
                                   << "&Cancel" << int(mrCancel);
    QTest::newRow("yes no cancel") << TMsgDlgButtons { mbYes, mbNo, mbCancel }.bits() << "&Yes"
                                   << "&Cancel" << int(mrCancel);
    QTest::newRow("retry cancel") << TMsgDlgButtons { mbRetry, mbCancel }.bits() << "&Retry"
                                  << "&Cancel" << int(mrCancel);
    QTest::newRow("no OK, no cancel") << TMsgDlgButtons { mbAbort, mbIgnore }.bits() << ""
                                      << "" << int(mrCancel);
}

void TestZipDlg::testDefaultAndCancel()
{
    QFETCH(quint32, buttons);
    QFETCH(QString, defaultCaption);
    QFETCH(QString, cancelCaption);
    QFETCH(int, closeResult);

    TZipDialogBox box(nullptr, ZipDlgInformation);
    box.setup(QString(), QStringLiteral("m"), TMsgDlgButtons::fromBits(buttons));
    QCOMPARE(box.defaultButton() ? box.defaultButton()->text() : QString(), defaultCaption);
    QCOMPARE(box.cancelButton() ? box.cancelButton()->text() : QString(), cancelCaption);
    if (box.defaultButton())
        QVERIFY(box.defaultButton()->isDefault());

    // Closing the window answers like the cancel button.
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    box.close();
    QCOMPARE(box.result(), closeResult);
}

void TestZipDlg::testButtonsAnswer()
{
    TZipDialogBox box(nullptr, 0x102719);
    box.setup(QString(), QStringLiteral("m"), { mbYesToAll, mbYes, mbNoToAll, mbNo, mbOK, mbHelp });
    QStringList names;
    QStringList captions;
    const auto buttons = box.findChildren<QPushButton*>();
    for (QPushButton* button : buttons) {
        names << button->objectName();
        captions << button->text();
    }
    QCOMPARE(names, (QStringList { "zipdlg1", "zipdlg2", "zipdlg3", "zipdlg4", "zipdlg5" }));
    QCOMPARE(captions, (QStringList { "&Yes", "&No", "&OK", "NoToAll", "YesToAll" }));

    const QList<int> expected { mrYes, mrNo, mrOk, mrNoToAll, mrYesToAll };
    for (int i = 0; i < buttons.size(); ++i) {
        QPushButton* button = buttons[i];
        TZipDialogBox::setNextAnswer([button](TZipDialogBox& shown) {
            button->click();
            return shown.result();
        });
        QCOMPARE(box.showModal(), expected[i]);
    }
}

void TestZipDlg::testCaptionsFollowLanguage()
{
    using namespace ZipTest;
    const QByteArray blocks = languageBlock(1031, "DE",
        lzPack(stringTableImage({ { 10222, QStringLiteral("&Gut") }, { 10223, QStringLiteral("&Abbrechen") } })));
    QCOMPARE(SetMessageLanguage(QStringLiteral("de"), blocks), QStringLiteral("DE"));
    TZipDialogBox box(nullptr, ZipDlgError);
    box.setup(QString(), QStringLiteral("m"), { mbOK, mbCancel, mbRetry });
    QCOMPARE(box.findChild<QPushButton*>(QStringLiteral("zipdlg1"))->text(), QStringLiteral("&Gut"));
    QCOMPARE(box.findChild<QPushButton*>(QStringLiteral("zipdlg2"))->text(), QStringLiteral("&Abbrechen"));
    QCOMPARE(box.findChild<QPushButton*>(QStringLiteral("zipdlg3"))->text(), QStringLiteral("&Retry"));
}

void TestZipDlg::testPasswordEdit()
{
    TZipDialogBox box(nullptr, ZipDlgPassword + 10004);
    box.setup(QString(), QStringLiteral("Enter Password "), { mbOK, mbCancel });
    auto* edit = box.findChild<QLineEdit*>(QStringLiteral("zipdEdit"));
    QVERIFY(edit);
    QCOMPARE(edit->echoMode(), QLineEdit::Password);
    QCOMPARE(edit->maxLength(), 80);
    QCOMPARE(edit->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, edit), int('*'));
    QVERIFY(edit->width() >= box.findChild<QLabel*>(QStringLiteral("zipdText"))->width() - 1);

    box.show();
    QVERIFY(QTest::qWaitForWindowActive(&box));
    QCOMPARE(QApplication::focusWidget(), edit);
    QTest::keyClicks(edit, QString(100, u'k'));
    QCOMPARE(box.inputText(), QString(80, u'k'));
    QTest::keyClick(&box, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), box.findChild<QPushButton*>(QStringLiteral("zipdlg1")));
    QTest::keyClick(&box, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), box.findChild<QPushButton*>(QStringLiteral("zipdlg2")));
    box.close();
    QCOMPARE(box.result(), int(mrCancel));

    TZipDialogBox plain(nullptr, ZipDlgInformation);
    plain.setup(QString(), QStringLiteral("m"), { mbOK });
    QCOMPARE(plain.inputText(), QString());
}

void TestZipDlg::testLayout()
{
    TZipDialogBox box(nullptr, ZipDlgInformation);
    box.setup(QString(), QStringLiteral("short"), { mbOK, mbCancel, mbRetry });
    const auto buttons = box.findChildren<QPushButton*>();
    QCOMPARE(buttons.size(), 3);
    auto* text = box.findChild<QLabel*>(QStringLiteral("zipdText"));
    auto* image = box.findChild<QLabel*>(QStringLiteral("Image"));
    // One row, centred, below the text, which sits right of the icon.
    const int left = buttons.first()->x();
    const int right = box.width() - buttons.last()->geometry().right() - 1;
    QVERIFY(qAbs(left - right) <= 1);
    for (QPushButton* button : buttons) {
        QCOMPARE(button->y(), buttons.first()->y());
        QCOMPARE(button->width(), buttons.first()->width());
        QVERIFY(button->y() > text->geometry().bottom());
        QVERIFY(button->geometry().bottom() < box.height());
    }
    QVERIFY(text->x() > image->geometry().right());
    QCOMPARE(image->pos(), QPoint(image->x(), text->y()));
    QVERIFY(box.minimumSize() == box.maximumSize());
}

void TestZipDlg::testLongMessageWraps()
{
    const int halfScreen = QGuiApplication::primaryScreen()->geometry().width() / 2;
    TZipDialogBox shortBox(nullptr, ZipDlgInformation);
    shortBox.setup(QString(), QStringLiteral("Loaded engine"), { mbOK });
    QString words;
    for (int i = 0; i < 120; ++i)
        words += QStringLiteral("word%1 ").arg(i);
    TZipDialogBox longBox(nullptr, ZipDlgInformation);
    longBox.setup(QString(), words, { mbOK });

    auto* text = longBox.findChild<QLabel*>(QStringLiteral("zipdText"));
    QVERIFY(text->width() <= halfScreen + 1);
    QVERIFY(text->width() > halfScreen * 3 / 4);
    QVERIFY(text->height() >= 4 * QFontMetrics(longBox.font()).height());
    QVERIFY(longBox.height() > shortBox.height());
    QCOMPARE(text->text(), words);

    // Line breaks of the message table do not show as characters.
    TZipDialogBox twoLines(nullptr, ZipDlgInformation);
    twoLines.setup(QString(), LoadMessageText(10104), { mbOK });
    QCOMPARE(twoLines.findChild<QLabel*>(QStringLiteral("zipdText"))->text(),
        QStringLiteral("Error - passwords do NOT match\nPassword ignored"));
}

void TestZipDlg::testRightToLeft()
{
    QApplication::setLayoutDirection(Qt::RightToLeft);
    TZipDialogBox box(nullptr, ZipDlgPassword);
    box.setup(QString(), QStringLiteral("Enter Password "), { mbOK, mbCancel });
    auto* text = box.findChild<QLabel*>(QStringLiteral("zipdText"));
    auto* edit = box.findChild<QLineEdit*>(QStringLiteral("zipdEdit"));
    QCOMPARE(
        box.width() - text->geometry().right() - 1, edit->width() > 0 ? box.width() - edit->geometry().right() - 1 : 0);
    QVERIFY(text->x() > box.width() / 2);
}

void TestZipDlg::testTitle()
{
    QApplication::setApplicationDisplayName(QStringLiteral("Vellumix"));
    TZipDialogBox box(nullptr, ZipDlgInformation);
    box.setup(QString(), QStringLiteral("m"), { mbOK });
    QCOMPARE(box.windowTitle(), QStringLiteral("Vellumix"));
    TZipDialogBox titled(nullptr, ZipDlgInformation);
    titled.setup(QStringLiteral("Confirm"), QStringLiteral("m"), { mbOK });
    QCOMPARE(titled.windowTitle(), QStringLiteral("Confirm"));
}

QTEST_MAIN(TestZipDlg)
#include "TestZipDlg.moc"
