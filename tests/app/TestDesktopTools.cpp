#include "app/ImagesPage.h"
#include "app/WindowPlacement.h"
#include "tests/app/WindowFixture.h"
#include "textview/JournalView.h"
#include "textview/MemoText.h"

#include <QAbstractScrollArea>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>
#include <QUrl>

namespace
{
class FakeWindowList : public WindowList
{
public:
    explicit FakeWindowList(QList<TopLevelWindow> windows)
        : m_windows(std::move(windows))
    { }
    QList<TopLevelWindow> topLevelWindows() override { return m_windows; }

private:
    QList<TopLevelWindow> m_windows;
};

template <typename T> T* child(TFMain* window, const char* name)
{
    return window->findChild<T*>(QString::fromLatin1(name));
}

QStringList rows(QTreeWidget* list, int column = 0)
{
    QStringList texts;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        texts << list->topLevelItem(i)->text(column);
    }
    return texts;
}

QImage picture(int width, int height, QImage::Format format)
{
    QImage image(width, height, format);
    image.fill(QColor(10, 200, 30));
    return image;
}
} // namespace

class TestDesktopTools : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void testImagesFollowTheClipboard();
    void testSaveImage_data();
    void testSaveImage();
    void testSaveImageWithoutPictureWritesNothing();
    void testDropReplacesListAndJournals();
    void testDropEventDeliversLocalPathsInOrder_data();
    void testDropEventDeliversLocalPathsInOrder();
    void testTextDraggedOntoAMemoIsInserted();
    void testApplicationsList_data();
    void testApplicationsList();
    void testApplicationsCopyAndDoubleClick();
    void testLooks();
    void testSnapRules_data();
    void testSnapRules();
};

void TestDesktopTools::testImagesFollowTheClipboard()
{
    WindowFixture fixture;
    TFMain* window = fixture.create();
    auto* view = child<QLabel>(window, "imageCurrent");
    auto* log = child<JournalView>(window, "log");
    QVERIFY(view->pixmap().isNull());

    fixture.clipboard->copyImage(picture(40, 30, QImage::Format_RGB32));
    QCOMPARE(view->pixmap().size(), QSize(40, 30));
    QCOMPARE(log->toPlainText(), QString());
    // Text after the image leaves it; an image with text beside it journals the text too.
    fixture.clipboard->copy(QStringLiteral("words"));
    QCOMPARE(view->pixmap().size(), QSize(40, 30));
    fixture.clipboard->copyImage(picture(7, 5, QImage::Format_RGB32), QStringLiteral("caption"));
    QCOMPARE(window->images().lastPicture().size(), QSize(7, 5));
    QVERIFY(MemoText::toBytes(log).endsWith("caption\r\n"));
    // An image the clipboard announces but cannot give keeps the last one.
    fixture.clipboard->copyImage(QImage());
    QCOMPARE(window->images().lastPicture().size(), QSize(7, 5));

    child<QCheckBox>(window, "chkImageStretch")->click();
    QVERIFY(view->hasScaledContents());
    child<QCheckBox>(window, "chkImageStretch")->click();
    QVERIFY(!view->hasScaledContents());
}

void TestDesktopTools::testSaveImage_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("bitsPerPixel");
    QTest::addColumn<QString>("name");
    QTest::newRow("rgb as bmp") << int(QImage::Format_RGB32) << 24 << "picture.bmp";
    QTest::newRow("alpha kept") << int(QImage::Format_ARGB32) << 32 << "alpha.bmp";
    QTest::newRow("png name, bmp content") << int(QImage::Format_RGB32) << 24 << "shot.png";
    QTest::newRow("no extension") << int(QImage::Format_RGB32) << 24 << "shot";
}

void TestDesktopTools::testSaveImage()
{
    QFETCH(int, format);
    QFETCH(int, bitsPerPixel);
    QFETCH(QString, name);
    WindowFixture fixture;
    TFMain* window = fixture.create();
    fixture.clipboard->copyImage(picture(9, 4, QImage::Format(format)));
    fixture.dialogs->nextFileName = fixture.path(name);
    child<QPushButton>(window, "cmdImageCurrentSaveToFile")->click();
    const QByteArray bytes = fixture.readFile(name);
    QVERIFY(bytes.startsWith("BM"));
    QCOMPARE(int(quint8(bytes.at(28))), bitsPerPixel);
    QCOMPARE(QImage::fromData(bytes, "BMP").size(), QSize(9, 4));
    QCOMPARE(QDir(fixture.dir.path()).entryList(QDir::Files | QDir::NoSymLinks), QStringList { name });
}

void TestDesktopTools::testSaveImageWithoutPictureWritesNothing()
{
    WindowFixture fixture;
    TFMain* window = fixture.create();
    fixture.dialogs->nextFileName = fixture.path(QStringLiteral("none.bmp"));
    window->cmdImageCurrentSaveToFileClick();
    QVERIFY(!QFile::exists(fixture.path(QStringLiteral("none.bmp"))));
    QVERIFY(fixture.messages.isEmpty());
}

void TestDesktopTools::testDropReplacesListAndJournals()
{
    WindowFixture fixture;
    fixture.writeFile(QStringLiteral("vellumix.ini"), "[vellumix_main]\nclipsleep=1\n");
    TFMain* window = fixture.create();
    auto* drops = child<QTreeWidget>(window, "lvDropLog");
    auto* log = child<JournalView>(window, "log");
    child<QTabWidget>(window, "pageMain")->setCurrentIndex(2);

    window->WMDropFiles({ QStringLiteral("/old/one") });
    window->WMDropFiles({ QStringLiteral("/home/u/a.txt"), QStringLiteral("/home/u/folder"),
        QStringLiteral("/home/u/trailing/"), QStringLiteral("/") });
    QCOMPARE(rows(drops, 0), QStringList({ "a.txt", "folder", "trailing", "" }));
    QCOMPARE(rows(drops, 1), QStringList({ "/home/u/a.txt", "/home/u/folder", "/home/u/trailing/", "/" }));
    QCOMPARE(child<QTabWidget>(window, "pageMain")->currentIndex(), 2);
    // Journalled while asleep, each under its own stamp line.
    QCOMPARE(MemoText::toBytes(log),
        StampLine + "\r\n/old/one\r\n" + StampLine + "\r\n/home/u/a.txt\r\n" + StampLine + "\r\n/home/u/folder\r\n"
            + StampLine + "\r\n/home/u/trailing/\r\n" + StampLine + "\r\n/\r\n");

    // No stamp lines without "Stamp"; an empty drop changes nothing; long paths are cut.
    child<QCheckBox>(window, "chkClipTimeStamp")->click();
    log->clear();
    window->WMDropFiles({});
    QCOMPARE(drops->topLevelItemCount(), 4);
    const QString longPath = QLatin1Char('/') + QString(3000, QLatin1Char('x'));
    window->WMDropFiles({ QStringLiteral("/b"), longPath });
    QCOMPARE(rows(drops, 1), QStringList({ "/b", longPath.left(2048) }));
    QCOMPARE(MemoText::toBytes(log), "/b\r\n" + longPath.left(2048).toUtf8() + "\r\n");
}

void TestDesktopTools::testDropEventDeliversLocalPathsInOrder_data()
{
    QTest::addColumn<QString>("target");
    for (const char* target :
        { "window", "log", "jot", "txtFindText", "txtSysApplicationsFilter", "lvSysApplications", "lvDropLog" }) {
        QTest::newRow(target) << QString::fromLatin1(target);
    }
}

// Files dropped anywhere on the window reach the drop zone, also where a control takes drops itself.
void TestDesktopTools::testDropEventDeliversLocalPathsInOrder()
{
    QFETCH(QString, target);
    WindowFixture fixture;
    fixture.writeFile(QStringLiteral("vellumix.ini"), "[vellumix_main]\ntimestamp=0\n");
    TFMain* window = fixture.create();
    QWidget* receiver = window;
    if (target != QLatin1String("window")) {
        receiver = window->findChild<QWidget*>(target);
        if (auto* area = qobject_cast<QAbstractScrollArea*>(receiver)) {
            receiver = area->viewport();
        }
    }
    QMimeData data;
    data.setUrls({ QUrl::fromLocalFile(QStringLiteral("/z/last")), QUrl(QStringLiteral("https://example.org/")),
        QUrl::fromLocalFile(QStringLiteral("/a/first")) });
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(receiver, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(receiver, &drop);
    QVERIFY(drop.isAccepted());
    QCOMPARE(rows(child<QTreeWidget>(window, "lvDropLog"), 1), QStringList({ "/z/last", "/a/first" }));
    QCOMPARE(MemoText::toBytes(child<JournalView>(window, "log")), QByteArray("/z/last\r\n/a/first\r\n"));
    QCOMPARE(MemoText::toBytes(child<JournalView>(window, "jot")), QByteArray());
    for (const char* edit : { "txtFindText", "txtSysApplicationsFilter" }) {
        QVERIFY(!child<QLineEdit>(window, edit)->text().contains(QLatin1String("file:")));
    }
}

void TestDesktopTools::testTextDraggedOntoAMemoIsInserted()
{
    WindowFixture fixture;
    TFMain* window = fixture.create();
    window->show();
    auto* jot = child<JournalView>(window, "jot");
    QMimeData data;
    data.setText(QStringLiteral("dragged words"));
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(jot->viewport(), &enter);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(jot->viewport(), &drop);
    QCOMPARE(jot->toPlainText(), QStringLiteral("dragged words"));
    QCOMPARE(child<QTreeWidget>(window, "lvDropLog")->topLevelItemCount(), 0);
}

void TestDesktopTools::testApplicationsList_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<bool>("nameless");
    QTest::addColumn<QStringList>("expected");
    const QString longTitle = QString(300, QLatin1Char('L'));
    QTest::newRow("start filter backslash") << "\\" << false << QStringList({ "C:\\temp - Editor" });
    QTest::newRow("ascii folded") << "EDIT" << false << QStringList({ "C:\\temp - Editor", "Text editor" });
    QTest::newRow("accent not folded") << QString::fromUtf8("\xc3\x89") << false << QStringList {};
    QTest::newRow("leading blank kept") << " ed" << false << QStringList({ "C:\\temp - Editor", "Text editor" });
    QTest::newRow("blank inside") << "t e" << false << QStringList({ "Text editor" });
    QTest::newRow("empty filter, sorted, cut")
        << "" << false
        << QStringList({ "alpha", "Beta", "C:\\temp - Editor", QString::fromUtf8("\xc3\xa9t\xc3\xa9"),
               longTitle.left(254), "Text editor" });
    QTest::newRow("nameless shown") << "" << true
                                    << QStringList({ "-16 = {nameless window}", "4242 = {nameless window}", "alpha",
                                           "Beta", "C:\\temp - Editor", QString::fromUtf8("\xc3\xa9t\xc3\xa9"),
                                           longTitle.left(254), "Text editor" });
    QTest::newRow("nameless never with a filter") << "a" << true << QStringList({ "alpha", "Beta" });
}

void TestDesktopTools::testApplicationsList()
{
    QFETCH(QString, filter);
    QFETCH(bool, nameless);
    QFETCH(QStringList, expected);
    WindowFixture fixture;
    fixture.windows = std::make_unique<FakeWindowList>(QList<TopLevelWindow> { { 1, QStringLiteral("Text editor") },
        { 2, QStringLiteral("C:\\temp - Editor") }, { 4242, QString() }, { 3, QStringLiteral("Beta") },
        { 4, QString(300, QLatin1Char('L')) }, { 0xfffffff0u, QString() }, { 5, QStringLiteral("alpha") },
        { 6, QString::fromUtf8("\xc3\xa9t\xc3\xa9") } });
    TFMain* window = fixture.create();
    auto* list = child<QTreeWidget>(window, "lvSysApplications");
    child<QLineEdit>(window, "txtSysApplicationsFilter")->setText(filter);
    child<QCheckBox>(window, "chkSysApplicationsShowNameless")->setChecked(nameless);
    child<QPushButton>(window, "cmdSysApplicationsFilter")->click();
    child<QPushButton>(window, "cmdSysApplicationsFilter")->click();
    QCOMPARE(rows(list), expected);
    QCOMPARE(window->cursor().shape(), Qt::ArrowCursor);
}

void TestDesktopTools::testApplicationsCopyAndDoubleClick()
{
    WindowFixture fixture;
    fixture.windows = std::make_unique<FakeWindowList>(
        QList<TopLevelWindow> { { 1, QStringLiteral("b \\ two") }, { 2, QStringLiteral("a \\ one") } });
    TFMain* window = fixture.create();
    auto* log = child<JournalView>(window, "log");
    auto* list = child<QTreeWidget>(window, "lvSysApplications");
    auto* find = child<QLineEdit>(window, "txtFindText");
    log->setPlainText(QStringLiteral("typed"));
    child<QCheckBox>(window, "chkClipAsleep")->click();
    child<QPushButton>(window, "cmdSysApplicationsCopyToClipboard")->click();
    QCOMPARE(MemoText::toBytes(log), "typed\r\n[2026-12-07-14:05:09][SYSWINS]--------\r\na \\ one\r\nb \\ two");

    window->lvSysApplicationsDblClick();
    QCOMPARE(find->text(), QString());
    list->setCurrentItem(list->topLevelItem(1));
    window->lvSysApplicationsDblClick();
    QCOMPARE(find->text(), QStringLiteral("b \\ two"));

    // An empty list copies only its header line.
    child<QLineEdit>(window, "txtSysApplicationsFilter")->setText(QStringLiteral("nothing matches"));
    window->ActionGetSysApplicationsExecute();
    log->clear();
    window->ActionCopySysApplicationsToClipboardExecute();
    QCOMPARE(MemoText::toBytes(log), QByteArray("[2026-12-07-14:05:09][SYSWINS]--------\r\n"));
}

void TestDesktopTools::testLooks()
{
    WindowFixture fixture;
    fixture.writeFile(QStringLiteral("vellumix.ini"), "[vellumix_main]\nvellulook=0\n");
    TFMain* window = fixture.create();
    const QPalette system = QApplication::palette();
    const QList<QWidget*> views = { child<QWidget>(window, "log"), child<QWidget>(window, "jot"),
        child<QWidget>(window, "lvDropLog"), child<QWidget>(window, "lvSysApplications") };
    // The designed look: memos black and lime, lists in the system's colours.
    QCOMPARE(views.at(0)->palette().color(QPalette::Base), QColor(Qt::black));
    QCOMPARE(views.at(2)->palette().color(QPalette::Base), system.color(QPalette::Base));

    auto* vellu = child<QCheckBox>(window, "chkVellumix");
    vellu->click();
    for (QWidget* view : views) {
        QCOMPARE(view->palette().color(QPalette::Base), QColor(0, 0, 0));
        QCOMPARE(view->palette().color(QPalette::Text), QColor(0, 255, 0));
        QCOMPARE(view->font().family(), QStringLiteral("FixedSys"));
        QCOMPARE(view->font().pointSize(), 8);
    }
    vellu->click();
    for (QWidget* view : views) {
        QCOMPARE(view->palette().color(QPalette::Base), system.color(QPalette::Base));
        QCOMPARE(view->palette().color(QPalette::Text), system.color(QPalette::Text));
        QCOMPARE(view->font().family(), QStringLiteral("Tahoma"));
    }
    fixture.destroy();
    QVERIFY(fixture.readFile(QStringLiteral("vellumix.ini")).contains("vellulook=0\n"));
}

void TestDesktopTools::testSnapRules_data()
{
    QTest::addColumn<QPoint>("proposed");
    QTest::addColumn<QPoint>("snapped");
    // Work area 0,0 1280x1000 less a 24 pixel panel at the top; frame 400x300.
    QTest::newRow("100 from left snaps") << QPoint(100, 400) << QPoint(0, 400);
    QTest::newRow("111 from left does not") << QPoint(111, 400) << QPoint(111, 400);
    QTest::newRow("left of the edge") << QPoint(-50, 400) << QPoint(0, 400);
    QTest::newRow("top of work area") << QPoint(500, 130) << QPoint(500, 24);
    QTest::newRow("right edge") << QPoint(790, 400) << QPoint(880, 400);
    QTest::newRow("bottom edge") << QPoint(500, 650) << QPoint(500, 700);
    QTest::newRow("right wins over left on a narrow area") << QPoint(5, 400) << QPoint(5, 400);
}

void TestDesktopTools::testSnapRules()
{
    QFETCH(QPoint, proposed);
    QFETCH(QPoint, snapped);
    const bool narrow = QByteArray(QTest::currentDataTag()).startsWith("right wins");
    const QRect area = narrow ? QRect(0, 24, 500, 976) : QRect(0, 24, 1280, 976);
    QCOMPARE(WindowPlacement::snappedPosition(proposed, QSize(400, 300), area), narrow ? QPoint(100, 400) : snapped);
}

int main(int argc, char* argv[])
{
    // Rows are sorted by the user's collation; pin one for the test.
    qputenv("LC_ALL", "en_US.UTF-8");
    QApplication app(argc, argv);
    TestDesktopTools test;
    return QTest::qExec(&test, argc, argv);
}
#include "TestDesktopTools.moc"
