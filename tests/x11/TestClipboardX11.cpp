#include "app/ClockText.h"
#include "app/MemoText.h"
#include "app/MessageBox.h"
#include "app/vlmx_main.h"
#include "loc/LocUtils.h"
#include "platform/AppPaths.h"
#include "tests/x11/XClip.h"

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>

namespace
{
const QByteArray Stamp = "[2026-12-07-14:05:09]-----------------\r\n";
}

// The journal against the real X clipboard, with xclip as the other program.
class TestClipboardX11 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void testTextAtStartThenCopiesInOrder();
    void testSleepSkipsCopiesAndWakingAppendsOnce();
    void testTargetsOtherThanUtf8();

private:
    QPlainTextEdit* log() const { return m_window->findChild<QPlainTextEdit*>(QStringLiteral("log")); }
    QByteArray journal() const { return MemoText::toBytes(log()); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TFMain> m_window;
    QStringList m_messages;
};

void TestClipboardX11::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    AppPaths::setExecutablePathForTesting(m_dir->filePath(QStringLiteral("vellumix")));
    LocUtils.SetAppFileName(AppPaths::executablePath());
    MessageBox::setCaptureForTesting(&m_messages);
    ClockText::setForTesting([] { return QDateTime(QDate(2026, 12, 7), QTime(14, 5, 9)); },
        QStringLiteral("yyyy-MM-dd"), QStringLiteral("HH:mm:ss"));
}

void TestClipboardX11::cleanup()
{
    m_window.reset();
    MessageBox::setCaptureForTesting(nullptr);
    AppPaths::setExecutablePathForTesting({});
}

void TestClipboardX11::testTextAtStartThenCopiesInOrder()
{
    XClip xclip;
    QVERIFY(xclip.copy("there at start"));
    m_window = std::make_unique<TFMain>();
    m_window->show();
    QCOMPARE(journal(), Stamp + "there at start\r\n");

    QVERIFY(xclip.copy("first"));
    QTRY_COMPARE(journal(), Stamp + "there at start\r\n" + Stamp + "first\r\n");
    QVERIFY(xclip.copy("second\nover two lines"));
    QTRY_COMPARE(
        journal(), Stamp + "there at start\r\n" + Stamp + "first\r\n" + Stamp + "second\r\nover two lines\r\n");
    QVERIFY(m_messages.isEmpty());
}

void TestClipboardX11::testSleepSkipsCopiesAndWakingAppendsOnce()
{
    XClip xclip;
    QVERIFY(xclip.copy("before"));
    m_window = std::make_unique<TFMain>();
    auto* sleep = m_window->findChild<QCheckBox*>(QStringLiteral("chkClipAsleep"));
    sleep->click();
    QVERIFY(xclip.copy("asleep one"));
    QVERIFY(xclip.copy("asleep two"));
    QTest::qWait(300);
    QCOMPARE(journal(), Stamp + "before\r\n");

    sleep->click();
    QCOMPARE(journal(), Stamp + "before\r\n" + Stamp + "asleep two\r\n");
    QTest::qWait(300);
    QCOMPARE(journal(), Stamp + "before\r\n" + Stamp + "asleep two\r\n");
}

void TestClipboardX11::testTargetsOtherThanUtf8()
{
    XClip xclip;
    m_window = std::make_unique<TFMain>();
    const QByteArray start = journal();
    QVERIFY(xclip.copy("plain string", QStringLiteral("STRING")));
    QTRY_COMPARE(journal(), start + Stamp + "plain string\r\n");
    QVERIFY(xclip.copy("caf\xc3\xa9 \xe2\x82\xac"));
    QTRY_COMPARE(journal(), start + Stamp + "plain string\r\n" + Stamp + "caf\xc3\xa9 \xe2\x82\xac\r\n");
}

QTEST_MAIN(TestClipboardX11)
#include "TestClipboardX11.moc"
