#include "app/ImagesPage.h"
#include "tests/app/WindowFixture.h"
#include "tests/x11/XClip.h"
#include "textview/JournalView.h"
#include "textview/MemoText.h"

#include <QBuffer>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

namespace
{
QByteArray run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished(1000);
    }
    return process.readAllStandardOutput();
}

QString windowId(const QWidget* widget)
{
    return QString::number(widget->winId());
}
} // namespace

// The desktop tools against a real X server with openbox as window manager.
class TestDesktopX11 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void testApplicationsListsRealWindows();
    void testStayOnTopSetsAboveStateWithoutMoving();
    void testDraggingNearTheEdgeSnaps();
    void testResizeNearTheEdgeDoesNotSnap();
    void testCopiedImageAppearsAndStays();

private:
    TFMain* showWindow();
    bool settleAt(const QPoint& framePosition);
    bool movesAway(const QRect& frame);

    std::unique_ptr<WindowFixture> m_fixture;
    TFMain* m_window = nullptr;
};

void TestDesktopX11::init()
{
    m_fixture = std::make_unique<WindowFixture>();
}

void TestDesktopX11::cleanup()
{
    m_fixture.reset();
    m_window = nullptr;
}

TFMain* TestDesktopX11::showWindow()
{
    m_window = m_fixture->create(std::make_unique<SystemClipboardViewer>());
    m_window->show();
    if (!QTest::qWaitForWindowExposed(m_window, 30000)) {
        return nullptr;
    }
    // The frame's size is applied once the window manager has told its extent; the window is
    // settled once its frame stands where the default settings place it.
    if (!QTest::qWaitFor([this] { return m_window->frameGeometry() == QRect(100, 100, 720, 480); }, 30000)) {
        qWarning("the window did not settle at its default place: %d,%d %dx%d", m_window->frameGeometry().x(),
            m_window->frameGeometry().y(), m_window->frameGeometry().width(), m_window->frameGeometry().height());
        return nullptr;
    }
    return m_window;
}

// xdotool places the program's window; the frame sits its decoration's extent above and left of it.
void moveFrameTo(const QWidget* window, const QPoint& framePosition)
{
    const QPoint offset = window->geometry().topLeft() - window->frameGeometry().topLeft();
    const QPoint client = framePosition + offset;
    run(QStringLiteral("xdotool"),
        { QStringLiteral("windowmove"), windowId(window), QString::number(client.x()), QString::number(client.y()) });
}

bool TestDesktopX11::settleAt(const QPoint& framePosition)
{
    return QTest::qWaitFor([&] { return m_window->frameGeometry().topLeft() == framePosition; }, 30000);
}

// Waits a while for the frame to leave where it is: false when it stays.
bool TestDesktopX11::movesAway(const QRect& frame)
{
    return QTest::qWaitFor([&] { return m_window->frameGeometry() != frame; }, 500);
}

void TestDesktopX11::testApplicationsListsRealWindows()
{
    QWidget withPath;
    withPath.setWindowTitle(QStringLiteral("C:\\temp - Editor"));
    QWidget plain;
    plain.setWindowTitle(QStringLiteral("Plain editor"));
    QWidget longTitle;
    longTitle.setWindowTitle(QStringLiteral("\\") + QString(299, QLatin1Char('x')));
    for (QWidget* widget : { &withPath, &plain, &longTitle }) {
        widget->resize(120, 80);
        widget->show();
        QVERIFY(QTest::qWaitForWindowExposed(widget, 30000));
    }
    TFMain* window = showWindow();
    QVERIFY(window);
    auto* list = window->findChild<QTreeWidget*>(QStringLiteral("lvSysApplications"));
    // Listed afresh each time: the window manager may still be taking the windows in.
    auto rows = [list, window] {
        window->ActionGetSysApplicationsExecute();
        QStringList texts;
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            texts << list->topLevelItem(i)->text(0);
        }
        return texts;
    };
    QTRY_COMPARE(rows(), QStringList({ QStringLiteral("\\") + QString(253, QLatin1Char('x')), "C:\\temp - Editor" }));

    window->findChild<QLineEdit*>(QStringLiteral("txtSysApplicationsFilter"))->setText(QStringLiteral("EDITOR"));
    QTRY_COMPARE(rows(), QStringList({ "C:\\temp - Editor", "Plain editor" }));

    // Windows without a title (openbox has some of its own) show up only when asked for.
    window->findChild<QLineEdit*>(QStringLiteral("txtSysApplicationsFilter"))->clear();
    QVERIFY(!rows().join(QLatin1Char('\n')).contains(QStringLiteral("{nameless window}")));
    QTRY_VERIFY(rows().contains(QStringLiteral("vellumix")));
    window->findChild<QCheckBox*>(QStringLiteral("chkSysApplicationsShowNameless"))->setChecked(true);
    QTRY_VERIFY(rows().join(QLatin1Char('\n')).contains(QStringLiteral(" = {nameless window}")));
}

void TestDesktopX11::testStayOnTopSetsAboveStateWithoutMoving()
{
    TFMain* window = showWindow();
    QVERIFY(window);
    const QRect before = window->frameGeometry();
    auto state = [window] {
        return run(
            QStringLiteral("xprop"), { QStringLiteral("-id"), windowId(window), QStringLiteral("_NET_WM_STATE") });
    };
    QVERIFY(!state().contains("_NET_WM_STATE_ABOVE"));

    window->findChild<QCheckBox*>(QStringLiteral("chkStayOnTop"))->click();
    QTRY_VERIFY(state().contains("_NET_WM_STATE_ABOVE"));
    QVERIFY(!movesAway(before));
    QVERIFY(window->isVisible());

    window->findChild<QCheckBox*>(QStringLiteral("chkStayOnTop"))->click();
    QTRY_VERIFY(!state().contains("_NET_WM_STATE_ABOVE"));
    QVERIFY(!movesAway(before));
}

void TestDesktopX11::testDraggingNearTheEdgeSnaps()
{
    TFMain* window = showWindow();
    QVERIFY(window);
    QCOMPARE(window->frameGeometry().topLeft(), QPoint(100, 100));
    const QRect area = window->screen()->availableGeometry();
    auto moveTo = [window](int x, int y) { moveFrameTo(window, QPoint(x, y)); };
    moveTo(area.left() + 111, 400);
    QVERIFY2(settleAt(QPoint(area.left() + 111, 400)),
        qPrintable(QStringLiteral("at %1,%2").arg(window->frameGeometry().x()).arg(window->frameGeometry().y())));
    moveTo(area.left() + 100, 400);
    QVERIFY(settleAt(QPoint(area.left(), 400)));

    window->findChild<QCheckBox*>(QStringLiteral("chkScreenSnap"))->click();
    moveTo(area.left() + 50, 400);
    QVERIFY(settleAt(QPoint(area.left() + 50, 400)));
}

void TestDesktopX11::testResizeNearTheEdgeDoesNotSnap()
{
    TFMain* window = showWindow();
    QVERIFY(window);
    const QRect area = window->screen()->availableGeometry();
    const QPoint start(area.left() + 360, 300);
    moveFrameTo(window, start);
    QVERIFY(settleAt(start));
    // The right edge comes within ten pixels of the work area's edge by a resize alone.
    const int frameWidth = area.left() + area.width() - 10 - start.x();
    const int extra = window->frameGeometry().width() - window->width();
    run(QStringLiteral("xdotool"),
        { QStringLiteral("windowsize"), windowId(window), QString::number(frameWidth - extra),
            QString::number(window->height()) });
    QTRY_COMPARE(window->frameGeometry().width(), frameWidth);
    QVERIFY(!movesAway(window->frameGeometry()));
    QCOMPARE(window->frameGeometry().topLeft(), start);
}

void TestDesktopX11::testCopiedImageAppearsAndStays()
{
    TFMain* window = showWindow();
    QVERIFY(window);
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(QColor(200, 20, 20));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(image.save(&buffer, "PNG"));

    XClip xclip;
    QVERIFY(xclip.copy(png, QStringLiteral("image/png")));
    auto* view = window->findChild<QLabel*>(QStringLiteral("imageCurrent"));
    QTRY_COMPARE(window->images().lastPicture().size(), QSize(64, 48));
    QCOMPARE(view->pixmap().size(), QSize(64, 48));
    QCOMPARE(window->images().lastPicture().pixelColor(3, 3), QColor(200, 20, 20));

    QVERIFY(xclip.copy("a text after the image"));
    auto* log = window->findChild<JournalView*>(QStringLiteral("log"));
    QTRY_VERIFY(MemoText::toBytes(log).endsWith("\r\na text after the image\r\n"));
    QCOMPARE(window->images().lastPicture().size(), QSize(64, 48));
}

int main(int argc, char* argv[])
{
    // Rows are sorted by the user's collation; pin one for the test.
    qputenv("LC_ALL", "en_US.UTF-8");
    QApplication app(argc, argv);
    TestDesktopX11 test;
    return QTest::qExec(&test, argc, argv);
}
#include "TestDesktopX11.moc"
