#include "tests/app/WindowFixture.h"
#include "tests/x11/ProgramCopy.h"

#include <QFile>
#include <QProcess>
#include <QTest>

// The main window as the window manager and other programs see it.
class TestWindowX11 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void testCaptionAsOtherProgramsSeeIt();
    void testPlacementRoundTrips_data();
    void testPlacementRoundTrips();
};

void TestWindowX11::testCaptionAsOtherProgramsSeeIt()
{
    WindowFixture fixture;
    TFMain* window = fixture.create();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    window->ActionSaveExecute();
    const QString id = QString::number(window->winId());
    QTRY_COMPARE(runCommand(QStringLiteral("xprop"), { QStringLiteral("-id"), id, QStringLiteral("_NET_WM_NAME") }),
        QByteArray("_NET_WM_NAME(UTF8_STRING) = \"vellumix [2026-12-07 14:05:09]\"\n"));
}

void TestWindowX11::testPlacementRoundTrips_data()
{
    QTest::addColumn<bool>("onTop");
    QTest::newRow("normal") << false;
    QTest::newRow("stay on top") << true;
}

// What is saved comes back exactly, start after start, also when the window is shown early to stay on top.
void TestWindowX11::testPlacementRoundTrips()
{
    QFETCH(bool, onTop);
    WindowFixture fixture;
    const QByteArray placement = "left=100\ntop=100\nwidth=900\nheight=650\n";
    fixture.writeFile(QStringLiteral("vellumix.ini"),
        "[vellumix_main]\nstayontop=" + QByteArray(onTop ? "1" : "0") + "\nscreensnap=0\n" + placement);
    for (int start = 0; start < 3; ++start) {
        TFMain* window = fixture.create();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QTRY_COMPARE_WITH_TIMEOUT(window->frameGeometry(), QRect(100, 100, 900, 650), 10000);
        QVERIFY(window->frameGeometry() != window->geometry());
        fixture.destroy();
        QVERIFY2(fixture.readFile(QStringLiteral("vellumix.ini")).contains(placement),
            fixture.readFile(QStringLiteral("vellumix.ini")).constData());
    }
}

QTEST_MAIN(TestWindowX11)
#include "TestWindowX11.moc"
