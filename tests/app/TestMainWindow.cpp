#include "app/VellumixApplication.h"
#include "app/WindowSettings.h"
#include "platform/Exception.h"
#include "platform/IniFile.h"
#include "session/SessionStore.h"
#include "tests/app/WindowFixture.h"
#include "textview/JournalView.h"
#include "textview/MemoText.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTest>
#include <QToolBar>
#include <QTreeWidget>

namespace
{
const QByteArray DefaultSettings = "[vellumix_main]\nleft=100\ntop=100\nwidth=720\nheight=480\nlanguagefile=\n"
                                   "vellulook=1\nstayontop=0\nscreensnap=1\ntimestamp=1\nclipsleep=0\n";

template <typename T> T* child(TFMain* window, const char* name)
{
    T* found = window->findChild<T*>(QString::fromLatin1(name));
    if (!found) {
        qFatal("no child %s", name);
    }
    return found;
}

class Thrower : public QObject
{
public:
    bool event(QEvent*) override { throw Exception(QStringLiteral("the handler failed")); }
};
} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void testDesignedWindow();
    void testFirstStart();
    void testSettingsRead_data();
    void testSettingsRead();
    void testExitWritesOnlyOurKeys();
    void testUnreadableSettingsReported();
    void testUnwritableSettingsReported();
    void testRenamedExecutable();
    void testOffScreenPlacementRescued();
    void testExtremePlacementIsClamped_data();
    void testExtremePlacementIsClamped();
    void testEscapeFromMemoCloses();
    void testEscapeFromFindBoxDoesNot();
    void testResizeResetsDropColumns();
    void testActivationMovesCaretToEnd();
    void testStandardErrorReport();
    void testNoMenuHidesTheToolBar();
};

void TestMainWindow::testDesignedWindow()
{
    WindowFixture fixture;
    // vellulook=0 keeps the designed look.
    fixture.writeFile(QStringLiteral("vellumix.ini"), "[vellumix_main]\nvellulook=0\n");
    TFMain* window = fixture.create();
    QCOMPARE(window->windowTitle(), QStringLiteral("vellumix"));
    QCOMPARE(QGuiApplication::applicationDisplayName(), QStringLiteral("vellumix"));
    auto* pages = child<QTabWidget>(window, "pageMain");
    const QStringList expected
        = { QStringLiteral("&Clipboard Journal"), QStringLiteral("&Note Jotter"), QStringLiteral("Applications"),
              QStringLiteral("Drop Zone"), QStringLiteral("&Images"), QStringLiteral("&About") };
    QCOMPARE(pages->count(), expected.size());
    for (int i = 0; i < pages->count(); ++i) {
        QCOMPARE(pages->tabText(i), expected.at(i));
        QVERIFY(!pages->tabIcon(i).isNull());
    }
    // Tool bar order: the four action buttons, then the check boxes and Help.
    QStringList names;
    auto* toolBar = child<QToolBar>(window, "toolBarMain");
    for (QAction* action : toolBar->actions()) {
        names << toolBar->widgetForAction(action)->objectName();
    }
    QCOMPARE(names,
        QStringList({ "toolbarSave", "toolbarSaveAs", "toolbarGotoTop", "toolbarGotoBottom", "chkVellumix",
            "chkStayOnTop", "chkScreenSnap", "chkClipTimeStamp", "chkClipAsleep", "cmdDocs" }));
    QCOMPARE(toolBar->widgetForAction(toolBar->actions().at(0))->toolTip(), QStringLiteral("Save current file"));
    for (const char* name : { "log", "jot" }) {
        auto* memo = child<JournalView>(window, name);
        QCOMPARE(memo->palette().color(QPalette::Base), QColor(0, 0, 0));
        QCOMPARE(memo->palette().color(QPalette::Text), QColor(0, 255, 0));
        QCOMPARE(memo->font().family(), QStringLiteral("Fixedsys"));
    }
}

void TestMainWindow::testFirstStart()
{
    WindowFixture fixture;
    TFMain* window = fixture.create();
    QCOMPARE(window->frameGeometry(), QRect(100, 100, 720, 480));
    QCOMPARE(
        child<QTabWidget>(window, "pageMain")->currentWidget()->objectName(), QStringLiteral("tabClipboardJournal"));
    QCOMPARE(child<QLineEdit>(window, "txtSysApplicationsFilter")->text(), QStringLiteral("\\"));
    QVERIFY(fixture.messages.isEmpty());
    for (const char* name : { "chkVellumix", "chkScreenSnap", "chkClipTimeStamp" }) {
        QVERIFY2(child<QCheckBox>(window, name)->isChecked(), name);
    }
    for (const char* name : { "chkStayOnTop", "chkClipAsleep" }) {
        QVERIFY2(!child<QCheckBox>(window, name)->isChecked(), name);
    }
    fixture.destroy();
    QCOMPARE(fixture.readFile(QStringLiteral("vellumix.ini")), DefaultSettings);
}

void TestMainWindow::testSettingsRead_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QRect>("frame");
    QTest::addColumn<bool>("vellulook");
    QTest::newRow("0x hex width") << QByteArray("width=0x2D0\n") << QRect(100, 100, 720, 480) << true;
    QTest::newRow("dollar hex width") << QByteArray("width=$2D0\n") << QRect(100, 100, 720, 480) << true;
    QTest::newRow("bad width") << QByteArray("width=abc\n") << QRect(100, 100, 720, 480) << true;
    QTest::newRow("keys in capitals") << QByteArray("LEFT=50\nTop=60\nWIDTH=500\nheight=300\n")
                                      << QRect(50, 60, 500, 300) << true;
    QTest::newRow("boolean 2 is true") << QByteArray("vellulook=2\n") << QRect(100, 100, 720, 480) << true;
    QTest::newRow("boolean 0") << QByteArray("vellulook=0\n") << QRect(100, 100, 720, 480) << false;
}

void TestMainWindow::testSettingsRead()
{
    QFETCH(QByteArray, settings);
    QFETCH(QRect, frame);
    QFETCH(bool, vellulook);
    WindowFixture fixture;
    fixture.writeFile(QStringLiteral("vellumix.ini"), "[vellumix_main]\n" + settings);
    TFMain* window = fixture.create();
    QCOMPARE(window->frameGeometry(), frame);
    QCOMPARE(child<QCheckBox>(window, "chkVellumix")->isChecked(), vellulook);
    QVERIFY(fixture.messages.isEmpty());
}

void TestMainWindow::testExitWritesOnlyOurKeys()
{
    WindowFixture fixture;
    fixture.writeFile(QStringLiteral("vellumix.ini"),
        "; written by hand\n[vellumix_main]\nLeft=30\nmine=keep\n[elsewhere]\nleft=1\n");
    TFMain* window = fixture.create();
    child<QCheckBox>(window, "chkClipTimeStamp")->click();
    fixture.destroy();
    QCOMPARE(fixture.readFile(QStringLiteral("vellumix.ini")),
        QByteArray("; written by hand\n[vellumix_main]\nleft=30\nmine=keep\ntop=100\nwidth=720\nheight=480\n"
                   "languagefile=\nvellulook=1\nstayontop=0\nscreensnap=1\ntimestamp=0\nclipsleep=0\n"
                   "[elsewhere]\nleft=1\n"));
}

void TestMainWindow::testUnreadableSettingsReported()
{
    WindowFixture fixture;
    QVERIFY(QDir(fixture.dir.path()).mkdir(QStringLiteral("vellumix.ini")));
    TFMain* window = fixture.create();
    QCOMPARE(fixture.messages,
        QStringList { QStringLiteral("Configuration INI file failed to load. Will try to continue without it.") });
    QCOMPARE(window->windowTitle(), QStringLiteral("vellumix"));
    QVERIFY(window->isInClipboardChain());
}

void TestMainWindow::testUnwritableSettingsReported()
{
    WindowFixture fixture;
    const QByteArray before = "[vellumix_main]\nleft=7\n";
    fixture.writeFile(QStringLiteral("vellumix.ini"), before);
    const QString path = fixture.path(QStringLiteral("vellumix.ini"));
    QFile::setPermissions(path, QFileDevice::ReadOwner);
    TFMain* window = fixture.create();
    QCOMPARE(window->frameGeometry().left(), 7);
    fixture.destroy();
    QCOMPARE(fixture.messages,
        QStringList { QStringLiteral("Configuration INI file failed to save. Will exit without saving.") });
    QCOMPARE(fixture.readFile(QStringLiteral("vellumix.ini")), before);
}

void TestMainWindow::testRenamedExecutable()
{
    WindowFixture fixture(QStringLiteral("notes"));
    TFMain* window = fixture.create();
    QCOMPARE(window->settingsFileName(), fixture.path(QStringLiteral("notes.ini")));
    QCOMPARE(window->session().archiveFileName(), fixture.path(QStringLiteral("notes.vma")));
    QCOMPARE(window->session().journalEntryName(), QStringLiteral("notes.clips"));
    QCOMPARE(window->session().notesEntryName(), QStringLiteral("notes.notes"));
    fixture.destroy();
    QVERIFY(QFile::exists(fixture.path(QStringLiteral("notes.ini"))));
}

void TestMainWindow::testOffScreenPlacementRescued()
{
    WindowFixture fixture;
    fixture.writeFile(
        QStringLiteral("vellumix.ini"), "[vellumix_main]\nleft=-9000\ntop=-9000\nwidth=400\nheight=300\n");
    TFMain* window = fixture.create();
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    QCOMPARE(window->frameGeometry(), QRect(available.topLeft(), QSize(400, 300)));
}

void TestMainWindow::testExtremePlacementIsClamped_data()
{
    QTest::addColumn<QByteArray>("placement");
    QTest::newRow("largest left") << QByteArray("left=0x7fffffff\n");
    QTest::newRow("smallest top") << QByteArray("top=-2147483648\n");
    QTest::newRow("negative width") << QByteArray("width=-5\n");
    QTest::newRow("huge height") << QByteArray("height=99999999\n");
    QTest::newRow("all at once") << QByteArray("left=0x7fffffff\ntop=-2147483648\nwidth=-5\nheight=99999999\n");
    QTest::newRow("far right and down, full size")
        << QByteArray("left=2147483647\ntop=2147483647\nwidth=2147483647\nheight=2147483647\n");
}

// Whatever numbers the settings hold, the window opens where the user can reach it and never
// larger than the screens; what is written back is within the same limits.
void TestMainWindow::testExtremePlacementIsClamped()
{
    QFETCH(QByteArray, placement);
    WindowFixture fixture;
    fixture.writeFile(QStringLiteral("vellumix.ini"), "[vellumix_main]\n" + placement);
    TFMain* window = fixture.create();
    const QRect desktop = QGuiApplication::primaryScreen()->virtualGeometry();
    const QRect frame = window->frameGeometry();
    QVERIFY(frame.width() >= 1 && frame.width() <= desktop.width());
    QVERIFY(frame.height() >= 1 && frame.height() <= desktop.height());
    QVERIFY(frame.intersects(desktop));
    QVERIFY(frame.top() >= desktop.top() && frame.top() < desktop.bottom());
    fixture.destroy();
    IniFile ini(fixture.path(QStringLiteral("vellumix.ini")));
    QVERIFY(ini.load());
    QVERIFY(ini.readInteger(WindowSettings::Section, QStringLiteral("width"), 0) <= desktop.width());
    QVERIFY(ini.readInteger(WindowSettings::Section, QStringLiteral("height"), 0) <= desktop.height());
}

void TestMainWindow::testEscapeFromMemoCloses()
{
    WindowFixture fixture;
    TFMain* window = fixture.create();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    auto* jot = child<JournalView>(window, "jot");
    child<QTabWidget>(window, "pageMain")->setCurrentIndex(1);
    jot->setFocus();
    QTest::keyClick(jot, Qt::Key_Escape);
    QVERIFY(!window->isVisible());
    fixture.destroy();
    QVERIFY(fixture.readFile(QStringLiteral("vellumix.ini")).startsWith("[vellumix_main]\nleft="));
}

void TestMainWindow::testEscapeFromFindBoxDoesNot()
{
    WindowFixture fixture;
    TFMain* window = fixture.create();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    auto* find = child<QLineEdit>(window, "txtFindText");
    find->setFocus();
    QTest::keyClick(find, Qt::Key_Escape);
    QTest::keyClick(child<QTreeWidget>(window, "lvDropLog"), Qt::Key_Escape);
    QVERIFY(window->isVisible());
}

void TestMainWindow::testResizeResetsDropColumns()
{
    WindowFixture fixture;
    TFMain* window = fixture.create();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    auto* drops = child<QTreeWidget>(window, "lvDropLog");
    drops->setColumnWidth(0, 40);
    drops->setColumnWidth(1, 50);
    window->resize(window->width() + 30, window->height() + 10);
    QTRY_COMPARE(drops->columnWidth(0), 333);
    QCOMPARE(drops->columnWidth(1), 666);
    QCOMPARE(child<QPushButton>(window, "cmdAboutCopyToClipboard")->size(), QSize(162, 24));
    QCOMPARE(child<QPushButton>(window, "cmdSysApplicationsCopyToClipboard")->size(), QSize(162, 24));
}

void TestMainWindow::testActivationMovesCaretToEnd()
{
    WindowFixture fixture;
    TFMain* window = fixture.create();
    auto* log = child<JournalView>(window, "log");
    log->setPlainText(QStringLiteral("one\ntwo\nthree"));
    log->setTextCursor(TextCursor(2));
    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(window, &activate);
    QCOMPARE(log->textCursor().position(), 13);

    // On a page without a memo nothing moves.
    log->setTextCursor(TextCursor(2));
    child<QTabWidget>(window, "pageMain")->setCurrentIndex(2);
    QCoreApplication::sendEvent(window, &activate);
    QCOMPARE(log->textCursor().position(), 2);
}

void TestMainWindow::testStandardErrorReport()
{
    QStringList messages;
    auto* app = qobject_cast<VellumixApplication*>(QCoreApplication::instance());
    app->setErrorReport([&](const QString& text) { messages << text; });
    Thrower thrower;
    QEvent event(QEvent::User);
    QCoreApplication::sendEvent(&thrower, &event);
    VellumixApplication::guarded([] { throw std::runtime_error("plain failure"); });
    app->setErrorReport({});
    QCOMPARE(messages, QStringList({ "the handler failed", "plain failure" }));
}

void TestMainWindow::testNoMenuHidesTheToolBar()
{
    WindowFixture fixture;
    TFMain* window = fixture.create();
    const std::unique_ptr<QMenu> menu(window->createPopupMenu());
    QVERIFY(!menu);
}

int main(int argc, char* argv[])
{
    VellumixApplication app(argc, argv);
    TestMainWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "TestMainWindow.moc"
