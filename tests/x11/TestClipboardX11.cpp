#include "platform/x11/X11ClipboardViewer.h"
#include "tests/app/JournalEntries.h"
#include "tests/app/WindowFixture.h"
#include "tests/x11/XClip.h"
#include "textview/JournalView.h"
#include "textview/MemoText.h"

#include <QBuffer>
#include <QCheckBox>
#include <QClipboard>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

namespace
{
// A misbehaving owner of the clipboard (tests/x11/ClipboardOwner.cpp), ended by its own process.
class BadOwner
{
public:
    ~BadOwner()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
    bool take(const QString& mode)
    {
        m_process.start(QStringLiteral(VELLUMIX_CLIPBOARD_OWNER), { mode });
        return m_process.waitForStarted(30000) && QTest::qWaitFor([this] { return said().contains("owner\n"); }, 30000);
    }
    qsizetype requests(const QByteArray& target) { return said().count("request " + target + "\n"); }

private:
    const QByteArray& said()
    {
        m_said += m_process.readAllStandardOutput();
        return m_said;
    }

    QProcess m_process;
    QByteArray m_said;
};
} // namespace

// The journal against the real X clipboard, with xclip and a few misbehaving owners as the
// other programs.
class TestClipboardX11 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void testTextAtStartAppearsOnce_data();
    void testTextAtStartAppearsOnce();
    void testCopiesAsFastAsXclipGoes();
    void testEachCopyOnceInOrder_data();
    void testEachCopyOnceInOrder();
    void testTextForms_data();
    void testTextForms();
    void testSecretHintAndOwnCopies();
    void testOwnerThatNeverAnswers();
    void testOwnerThatRefusesItsText();
    void testLargeTextArrivesWhole();
    void testTextOverTheLimitIsReported();
    void testSleepDuringBurst_data();
    void testSleepDuringBurst();

private:
    void createWindow();
    bool copyAsked(XClip& xclip, const QByteArray& text, bool turnEventLoop = true);
    JournalView* log() const { return m_window->findChild<JournalView*>(QStringLiteral("log")); }
    QByteArray journal() const { return MemoText::toBytes(log()); }
    QByteArrayList entries() const;

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
    // A test that copied through this process leaves nothing on the clipboard for the next.
    QGuiApplication::clipboard()->clear();
}

void TestClipboardX11::createWindow()
{
    m_window = m_fixture->create(ClipboardViewer::create());
    m_window->show();
}

// Copies as fast as xclip goes while each copy can still be read before the next replaces it:
// the next one waits until the window has asked this one for its contents.
bool TestClipboardX11::copyAsked(XClip& xclip, const QByteArray& text, bool turnEventLoop)
{
    return (turnEventLoop ? xclip.copy(text) : xclip.copyAtOnce(text)) && xclip.waitServed(1, turnEventLoop);
}

QByteArrayList TestClipboardX11::entries() const
{
    return journalEntries(journal());
}

void TestClipboardX11::testTextAtStartAppearsOnce_data()
{
    QTest::addColumn<bool>("settled");
    QTest::newRow("copied a while before") << true;
    // The window starts before this process has even heard of the change.
    QTest::newRow("copied just before") << false;
}

void TestClipboardX11::testTextAtStartAppearsOnce()
{
    QFETCH(bool, settled);
    XClip xclip;
    QVERIFY(settled ? xclip.copy("there at start") : xclip.copyAtOnce("there at start"));
    createWindow();
    QTRY_COMPARE(entries(), QByteArrayList { "there at start" });

    QVERIFY(xclip.copy("first"));
    QTRY_COMPARE(entries(), QByteArrayList({ "there at start", "first" }));
    QVERIFY(xclip.copy("second\nover two lines"));
    QTRY_COMPARE(entries(), QByteArrayList({ "there at start", "first", "second\nover two lines" }));
    QVERIFY(m_fixture->messages.isEmpty());
}

void TestClipboardX11::testCopiesAsFastAsXclipGoes()
{
    createWindow();
    XClip xclip;
    QByteArrayList copied;
    for (int i = 0; i < 60; ++i) {
        copied << "copy " + QByteArray::number(i);
        QVERIFY(xclip.copy(copied.last()));
    }
    // The last copy stays on the clipboard, so it is read in any case.
    QTRY_VERIFY_WITH_TIMEOUT(entries().value(entries().size() - 1) == copied.last(), 30000);
    // A copy replaced before it could be asked for gives no entry, never a later text instead.
    const QByteArrayList found = entries();
    for (const QByteArray& entry : found) {
        QVERIFY2(copied.contains(entry), entry.constData());
        QVERIFY2(found.count(entry) == 1, entry.constData());
    }
}

void TestClipboardX11::testEachCopyOnceInOrder_data()
{
    QTest::addColumn<bool>("turnEventLoop");
    QTest::newRow("window idle") << true;
    // The reads do not wait for the window.
    QTest::newRow("window busy") << false;
}

void TestClipboardX11::testEachCopyOnceInOrder()
{
    QFETCH(bool, turnEventLoop);
    createWindow();
    XClip xclip;
    QByteArrayList copied;
    for (int i = 0; i < 40; ++i) {
        // Now and then the same text again: a separate copy, so an entry of its own.
        copied << (i % 10 == 5 ? copied.last() : "copy " + QByteArray::number(i));
        QVERIFY(copyAsked(xclip, copied.last(), turnEventLoop));
    }
    QTRY_COMPARE_WITH_TIMEOUT(entries(), copied, 30000);
}

void TestClipboardX11::testTextForms_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArrayList>("captured");
    const QByteArray cafe = "caf\xc3\xa9 \xe2\x82\xac";
    QTest::newRow("UTF8_STRING") << "UTF8_STRING" << cafe << QByteArrayList { cafe };
    QTest::newRow("utf-8 text type") << "text/plain;charset=utf-8" << cafe << QByteArrayList { cafe };
    QTest::newRow("plain text type as utf-8") << "text/plain" << cafe << QByteArrayList { cafe };
    QTest::newRow("STRING is latin-1") << "STRING" << QByteArray("caf\xe9") << QByteArrayList { "caf\xc3\xa9" };
    QTest::newRow("compound text without escapes")
        << "COMPOUND_TEXT" << QByteArray("plain words") << QByteArrayList { "plain words" };
    QTest::newRow("zero ends the text") << "UTF8_STRING" << QByteArray("before\0after", 12)
                                        << QByteArrayList { "before" };
    QTest::newRow("not a text") << "application/octet-stream" << QByteArray("\x01\x02") << QByteArrayList();

    QImage image(8, 6, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    QTest::newRow("image only") << "image/png" << png << QByteArrayList();
}

void TestClipboardX11::testTextForms()
{
    QFETCH(QString, target);
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArrayList, captured);
    createWindow();
    XClip xclip;
    QVERIFY(xclip.copy(bytes, target));
    QVERIFY(xclip.waitServed(1));
    // The next copy's entry comes after whatever the first gave.
    QVERIFY(xclip.copy("next"));
    QTRY_COMPARE(entries(), captured + QByteArrayList { "next" });
}

void TestClipboardX11::testSecretHintAndOwnCopies()
{
    createWindow();
    auto* secret = new QMimeData;
    secret->setText(QStringLiteral("hunter2"));
    secret->setData(QStringLiteral("x-kde-passwordManagerHint"), "secret");
    QGuiApplication::clipboard()->setMimeData(secret);
    QVERIFY(!QTest::qWaitFor([this] { return !entries().isEmpty(); }, 1000));

    // The About page's copy goes onto the clipboard and comes back like any other.
    m_window->findChild<QPushButton*>(QStringLiteral("cmdAboutCopyToClipboard"))->click();
    const QByteArray about
        = MemoText::toBytes(m_window->findChild<QPlainTextEdit*>(QStringLiteral("memoAbout"))).replace("\r\n", "\n");
    QVERIFY(!about.isEmpty());
    QTRY_COMPARE(entries(), QByteArrayList { about });
}

void TestClipboardX11::testOwnerThatNeverAnswers()
{
    createWindow();
    XClip xclip;
    QVERIFY(xclip.copy("before"));
    QTRY_COMPARE(entries(), QByteArrayList { "before" });

    LoopProbe probe;
    BadOwner hung;
    QVERIFY(hung.take(QStringLiteral("hang")));
    QTRY_VERIFY(hung.requests("TARGETS") > 0);
    QVERIFY(xclip.copy("after"));
    QTRY_COMPARE_WITH_TIMEOUT(entries(), QByteArrayList({ "before", "after" }), 30000);
    // The window went on with its work while the owner kept the reader waiting.
    QVERIFY2(probe.longestPauseMs() < 1000, qPrintable(QString::number(probe.longestPauseMs())));
    // Asked once: a later change had come, so there was nothing to retry.
    QCOMPARE(hung.requests("TARGETS"), 1);
}

void TestClipboardX11::testOwnerThatRefusesItsText()
{
    createWindow();
    BadOwner refusing;
    QVERIFY(refusing.take(QStringLiteral("refuse-text")));
    // The first read and the bounded number of retries after joining again.
    QTRY_COMPARE(refusing.requests("UTF8_STRING"), 4);
    XClip xclip;
    QVERIFY(xclip.copy("after"));
    QTRY_COMPARE(entries(), QByteArrayList { "after" });
    QCOMPARE(refusing.requests("UTF8_STRING"), 4);
    QVERIFY(m_window->isInClipboardChain());
    QVERIFY(m_fixture->messages.isEmpty());
}

void TestClipboardX11::testLargeTextArrivesWhole()
{
    createWindow();
    const QByteArray big = largeText(20 * 1024 * 1024);
    XClip xclip;
    QVERIFY(xclip.copy(big));
    QVERIFY(xclip.waitServed(1));
    // Taken over while the large text may still be on its way.
    QVERIFY(xclip.copy("small after it"));
    QTRY_VERIFY_WITH_TIMEOUT(log()->buffer()->size() > big.size(), 120000);
    QTRY_COMPARE_WITH_TIMEOUT(entries().size(), 2, 30000);
    const QByteArrayList found = entries();
    QCOMPARE(found.first().size(), big.size());
    QVERIFY(found.first() == big);
    QCOMPARE(found.last(), QByteArray("small after it"));
}

// An owner may offer more than memory holds: past the limit the read stops, the user is told and the
// next copy is journalled as usual.
void TestClipboardX11::testTextOverTheLimitIsReported()
{
    m_window = m_fixture->create(std::make_unique<X11ClipboardViewer>(nullptr, 1024 * 1024));
    m_window->show();
    XClip xclip;
    QVERIFY(xclip.copy(QByteArray(2 * 1024 * 1024, 'x')));
    QTRY_COMPARE_WITH_TIMEOUT(m_fixture->messages.size(), 1, 30000);
    QVERIFY(m_fixture->messages.first().contains(QStringLiteral("larger than 128 MiB")));
    QVERIFY(xclip.copy("small after it"));
    QTRY_COMPARE_WITH_TIMEOUT(entries(), QByteArrayList { "small after it" }, 30000);
    QCOMPARE(m_fixture->messages.size(), 1);
}

void TestClipboardX11::testSleepDuringBurst_data()
{
    QTest::addColumn<bool>("settled");
    QTest::newRow("after the burst was journalled") << true;
    QTest::newRow("while the burst is read") << false;
}

void TestClipboardX11::testSleepDuringBurst()
{
    QFETCH(bool, settled);
    createWindow();
    auto* sleep = m_window->findChild<QCheckBox*>(QStringLiteral("chkClipAsleep"));
    XClip xclip;
    QByteArrayList awake;
    for (int i = 0; i < 10; ++i) {
        awake << "awake " + QByteArray::number(i);
        QVERIFY(copyAsked(xclip, awake.last()));
    }
    if (settled) {
        QTRY_COMPARE(entries(), awake);
    }
    sleep->click();
    for (int i = 0; i < 10; ++i) {
        QVERIFY(xclip.copyAtOnce("asleep " + QByteArray::number(i)));
    }
    // Nobody asks while the window sleeps; reading the text back here tells that the X server
    // has handled the last copy.
    QTRY_COMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("asleep 9"));
    // Waking takes the text there now, once; the copies made asleep are never journalled.
    sleep->click();
    QTRY_VERIFY(entries().value(entries().size() - 1) == "asleep 9");
    QVERIFY(xclip.copy("after waking"));
    QTRY_VERIFY(entries().value(entries().size() - 1) == "after waking");
    const QByteArrayList found = entries();
    QCOMPARE(found.mid(found.size() - 2), QByteArrayList({ "asleep 9", "after waking" }));
    const QByteArrayList before = found.mid(0, found.size() - 2);
    QCOMPARE(before, awake.mid(0, before.size()));
    if (settled) {
        QCOMPARE(before, awake);
    }
}

QTEST_MAIN(TestClipboardX11)
#include "TestClipboardX11.moc"
