#include "app/MemoText.h"
#include "tests/app/WindowFixture.h"
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

    TFMain* createWindow() { return m_window = m_fixture->create(std::make_unique<SystemClipboardViewer>()); }

    std::unique_ptr<WindowFixture> m_fixture;
    TFMain* m_window = nullptr;
};

void TestClipboardX11::init()
{
    m_fixture = std::make_unique<WindowFixture>();
}

void TestClipboardX11::cleanup()
{
    m_fixture.reset();
    m_window = nullptr;
}

void TestClipboardX11::testTextAtStartThenCopiesInOrder()
{
    XClip xclip;
    QVERIFY(xclip.copy("there at start"));
    createWindow();
    m_window->show();
    QCOMPARE(journal(), Stamp + "there at start\r\n");

    QVERIFY(xclip.copy("first"));
    QTRY_COMPARE(journal(), Stamp + "there at start\r\n" + Stamp + "first\r\n");
    QVERIFY(xclip.copy("second\nover two lines"));
    QTRY_COMPARE(
        journal(), Stamp + "there at start\r\n" + Stamp + "first\r\n" + Stamp + "second\r\nover two lines\r\n");
    QVERIFY(m_fixture->messages.isEmpty());
}

void TestClipboardX11::testSleepSkipsCopiesAndWakingAppendsOnce()
{
    XClip xclip;
    QVERIFY(xclip.copy("before"));
    createWindow();
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
    createWindow();
    const QByteArray start = journal();
    QVERIFY(xclip.copy("plain string", QStringLiteral("STRING")));
    QTRY_COMPARE(journal(), start + Stamp + "plain string\r\n");
    QVERIFY(xclip.copy("caf\xc3\xa9 \xe2\x82\xac"));
    QTRY_COMPARE(journal(), start + Stamp + "plain string\r\n" + Stamp + "caf\xc3\xa9 \xe2\x82\xac\r\n");
}

QTEST_MAIN(TestClipboardX11)
#include "TestClipboardX11.moc"
