#include "platform/wayland/WaylandClipboardViewer.h"
#include "tests/app/JournalEntries.h"
#include "tests/app/WindowFixture.h"
#include "tests/wayland/WaylandSession.h"
#include "textview/JournalView.h"
#include "textview/MemoText.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QTest>

using namespace WaylandSession;

namespace
{

const QByteArray TextAsked = "send 0 text/plain;charset=utf-8";

QByteArrayList numbered(const QByteArray& text, int count)
{
    QByteArrayList texts;
    for (int i = 0; i < count; ++i) {
        texts << text + ' ' + QByteArray::number(i);
    }
    return texts;
}

// Readable in a failure message, an empty entry too.
QByteArray listed(const QByteArrayList& entries)
{
    QByteArray shown;
    for (const QByteArray& entry : entries) {
        shown += (shown.isEmpty() ? "\"" : " \"") + entry + '"';
    }
    return shown;
}

// Each entry once, in the order copied; copies may be missing.
bool inCopyOrder(const QByteArrayList& found, const QByteArrayList& copied)
{
    qsizetype next = 0;
    for (const QByteArray& entry : found) {
        next = copied.indexOf(entry, next);
        if (next < 0) {
            return false;
        }
        ++next;
    }
    return true;
}
} // namespace

// The journal against a Wayland compositor's clipboard while a native Wayland window has the
// focus, with wl-copy and tests/wayland/DataControlSource.cpp as the other programs. The window
// itself is offscreen: the watcher has a connection of its own.
class TestClipboardWayland : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void testTextAtStartAppearsOnce_data();
    void testTextAtStartAppearsOnce();
    void testEachCopyOnceInOrder();
    void testBurst_data();
    void testBurst();
    void testSourceThatNeverWrites_data();
    void testSourceThatNeverWrites();
    void testEmptyText_data();
    void testEmptyText();
    void testLargeTextArrivesWhole();
    void testSecretHint();
    void testSleepDuringBurst();
    // Last: nothing runs in the session after it.
    void testCompositorKilled();

private:
    void createWindow();
    JournalView* log() const { return m_window->findChild<JournalView*>(QStringLiteral("log")); }
    QByteArrayList entries() const;
    QByteArray lastEntry() const { return entries().value(entries().size() - 1); }
    QByteArray journalled() const { return listed(entries()); }

    std::unique_ptr<Helper> m_foot;
    std::unique_ptr<WindowFixture> m_fixture;
    TFMain* m_window = nullptr;
};

void TestClipboardWayland::initTestCase()
{
    QVERIFY(qobject_cast<WaylandClipboardViewer*>(ClipboardViewer::create().get()));
    m_foot = foot();
    QVERIFY(m_foot);
}

void TestClipboardWayland::init()
{
    QVERIFY(clearClipboard());
    m_fixture = std::make_unique<WindowFixture>();
}

void TestClipboardWayland::cleanup()
{
    m_fixture.reset();
    m_window = nullptr;
}

void TestClipboardWayland::createWindow()
{
    m_window = m_fixture->create(ClipboardViewer::create());
    m_window->show();
}

QByteArrayList TestClipboardWayland::entries() const
{
    return journalEntries(MemoText::toBytes(log()));
}

void TestClipboardWayland::testTextAtStartAppearsOnce_data()
{
    QTest::addColumn<bool>("settled");
    QTest::newRow("set before the window starts") << true;
    QTest::newRow("set while the window starts") << false;
}

void TestClipboardWayland::testTextAtStartAppearsOnce()
{
    QFETCH(bool, settled);
    const auto there = source({ QStringLiteral("serve"), QStringLiteral("there at start") });
    QVERIFY(!settled || there->waitSaid("set 0"));
    createWindow();
    QTRY_COMPARE_WITH_TIMEOUT(journalled(), listed({ "there at start" }), Deadline);
    const auto first = wlCopy("first");
    QTRY_COMPARE_WITH_TIMEOUT(journalled(), listed({ "there at start", "first" }), Deadline);
    QVERIFY(m_fixture->messages.isEmpty());
}

void TestClipboardWayland::testEachCopyOnceInOrder()
{
    createWindow();
    const QByteArrayList copied
        = { "first", "second\nover two lines", "caf\xc3\xa9 \xe2\x82\xac", "  spaced  ", "first", "last" };
    std::vector<std::unique_ptr<Helper>> copies;
    for (qsizetype i = 0; i < copied.size(); ++i) {
        copies.push_back(wlCopy(copied[i]));
        QTRY_COMPARE_WITH_TIMEOUT(journalled(), listed(copied.mid(0, i + 1)), Deadline);
    }
    QCOMPARE(m_fixture->messages, QStringList());
}

void TestClipboardWayland::testBurst_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("turnEventLoop");
    // Copies may be replaced before anyone could ask for them.
    QTest::newRow("full speed") << "burst" << 300 << true;
    // Each copy was read before the next: every one is journalled.
    QTest::newRow("each read, window idle") << "paced" << 60 << true;
    QTest::newRow("each read, window busy") << "paced" << 60 << false;
}

void TestClipboardWayland::testBurst()
{
    QFETCH(QString, mode);
    QFETCH(int, count);
    QFETCH(bool, turnEventLoop);
    createWindow();
    const QByteArrayList copied = numbered("copy", count);
    const auto copies = source({ mode, QString::number(count), QStringLiteral("copy") });
    QVERIFY(copies->waitSaid("set " + QByteArray::number(count - 1), 1, turnEventLoop));
    // The last copy stays on the clipboard, so it is read in any case.
    QTRY_COMPARE_WITH_TIMEOUT(lastEntry(), copied.last(), Deadline);
    const QByteArrayList found = entries();
    QVERIFY2(inCopyOrder(found, copied), listed(found).constData());
    if (mode == QLatin1String("paced")) {
        QCOMPARE(listed(found), listed(copied));
    }
    qInfo("%lld of %d copies journalled", qlonglong(found.size()), count);
}

void TestClipboardWayland::testSourceThatNeverWrites_data()
{
    QTest::addColumn<bool>("replaced");
    QTest::addColumn<bool>("killed");
    QTest::addColumn<int>("asked");
    QTest::newRow("replaced while it is read") << true << false << 1;
    // Its pipe ends empty, but only after a later change replaced it: no text of it ever came.
    QTest::newRow("killed once replaced") << true << true << 1;
    // The first read and the bounded number of retries after joining again.
    QTest::newRow("still the latest") << false << false << 4;
}

void TestClipboardWayland::testSourceThatNeverWrites()
{
    QFETCH(bool, replaced);
    QFETCH(bool, killed);
    QFETCH(int, asked);
    createWindow();
    LoopProbe probe;
    const auto silent = source({ QStringLiteral("silent"), QStringLiteral("never written") });
    QVERIFY(silent->waitSaid(TextAsked, asked));
    if (!replaced) {
        // Past the read timeout of the last retry, nothing more is asked.
        QVERIFY(!QTest::qWaitFor(
            [&] { return silent->said(TextAsked) > asked; }, 3 * WaylandClipboardViewer::ReadTimeoutMs));
    }
    const auto after = wlCopy("after");
    if (killed) {
        QVERIFY(silent->waitSaid("cancelled 0"));
        silent->process().kill();
    }
    QTRY_COMPARE_WITH_TIMEOUT(journalled(), listed({ "after" }), Deadline);
    QCOMPARE(silent->said(TextAsked), asked);
    // The window went on with its work while the source kept the reader waiting.
    QVERIFY2(probe.longestPauseMs() < 1000, qPrintable(QString::number(probe.longestPauseMs())));
    QVERIFY(m_window->isInClipboardChain());
    QCOMPARE(m_fixture->messages, QStringList());
}

void TestClipboardWayland::testEmptyText_data()
{
    QTest::addColumn<QString>("mode");
    // A pipe closed without a byte is an empty text: that is how wl-copy serves one.
    QTest::newRow("pipe closed at once") << "close";
    QTest::newRow("empty copy") << "";
}

void TestClipboardWayland::testEmptyText()
{
    QFETCH(QString, mode);
    createWindow();
    const auto empty = mode.isEmpty() ? wlCopy({}) : source({ mode, QStringLiteral("never written") });
    QTRY_COMPARE_WITH_TIMEOUT(journalled(), listed({ QByteArray() }), Deadline);
    const auto after = wlCopy("after");
    QTRY_COMPARE_WITH_TIMEOUT(journalled(), listed({ QByteArray(), "after" }), Deadline);
    if (!mode.isEmpty()) {
        QCOMPARE(empty->said(TextAsked), 1);
    }
}

void TestClipboardWayland::testLargeTextArrivesWhole()
{
    createWindow();
    const QByteArray big = largeText(20 * 1024 * 1024);
    const auto large = source({ QStringLiteral("serve"), QStringLiteral("-") }, big);
    QVERIFY(large->waitSaid(TextAsked));
    // Taken over while the large text is still on its way.
    const auto small = wlCopy("small after it");
    QTRY_COMPARE_WITH_TIMEOUT(entries().size(), 2, 120000);
    const QByteArrayList found = entries();
    QCOMPARE(found.first().size(), big.size());
    QVERIFY(found.first() == big);
    QCOMPARE(found.last(), QByteArray("small after it"));
}

void TestClipboardWayland::testSecretHint()
{
    createWindow();
    const auto secret = source({ QStringLiteral("secret"), QStringLiteral("hunter2") });
    QVERIFY(secret->waitSaid("sent 0 x-kde-passwordManagerHint"));
    const auto after = wlCopy("after");
    QTRY_COMPARE_WITH_TIMEOUT(journalled(), listed({ "after" }), Deadline);
}

void TestClipboardWayland::testSleepDuringBurst()
{
    createWindow();
    auto* sleep = m_window->findChild<QCheckBox*>(QStringLiteral("chkClipAsleep"));
    const QByteArrayList copied = numbered("copy", 300);
    const auto copies = source({ QStringLiteral("burst"), QStringLiteral("300"), QStringLiteral("copy") });
    QTRY_VERIFY_WITH_TIMEOUT(entries().size() >= 3, Deadline);
    sleep->click();
    const QByteArrayList awake = entries();
    QVERIFY(copies->waitSaid("set 299"));
    // Waking takes the text there now, once; nothing read meanwhile comes in between.
    sleep->click();
    QTRY_COMPARE_WITH_TIMEOUT(journalled(), listed(awake + QByteArrayList { copied.last() }), Deadline);
    const auto after = wlCopy("after waking");
    QTRY_COMPARE_WITH_TIMEOUT(
        journalled(), listed(awake + QByteArrayList({ copied.last(), "after waking" })), Deadline);
    QVERIFY2(inCopyOrder(awake, copied), listed(awake).constData());
}

void TestClipboardWayland::testCompositorKilled()
{
    createWindow();
    const auto before = wlCopy("before");
    QTRY_COMPARE_WITH_TIMEOUT(journalled(), listed({ "before" }), Deadline);
    LoopProbe probe;
    QVERIFY(killCompositor());
    // The terminal ends with its connection, so the compositor is gone by then.
    QTRY_VERIFY_WITH_TIMEOUT(!m_foot->running(), Deadline);
    auto* sleep = m_window->findChild<QCheckBox*>(QStringLiteral("chkClipAsleep"));
    // Asleep and awake again: joining a compositor that is gone fails quietly.
    sleep->click();
    sleep->click();
    QVERIFY2(probe.longestPauseMs() < 1000, qPrintable(QString::number(probe.longestPauseMs())));
    QCOMPARE(journalled(), listed({ "before" }));
    QCOMPARE(m_fixture->messages, QStringList());
    QElapsedTimer closing;
    closing.start();
    m_fixture->destroy();
    QVERIFY2(closing.elapsed() < 10000, qPrintable(QString::number(closing.elapsed())));
}

QTEST_MAIN(TestClipboardWayland)
#include "TestClipboardWayland.moc"
