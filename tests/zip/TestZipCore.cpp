#include "platform/Drives.h"
#include "zip/ZipCore.h"
#include "zip/ZipDlg.h"
#include "zip/ZipMsgStr.h"
#include "zip/ZipTestUtil.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

namespace
{
// A core that logs every event, in order, as short strings.
class LoggingCore : public TZipCore
{
public:
    explicit LoggingCore(QObject* master)
        : TZipCore(master)
    { }

    void attachAll()
    {
        OnTick = [this](QObject* sender) { log(sender, QStringLiteral("Tick")); };
        OnProgress = [this](QObject* sender, ProgressType type, const QString& name, qint64 size) {
            log(sender, QStringLiteral("Progress(%1,%2,%3)").arg(int(type)).arg(name).arg(size));
        };
        OnProgressDetails = [this](QObject* sender, TProgressDetails* details) {
            log(sender, QStringLiteral("Details(%1)").arg(int(details->ProgType())));
        };
        OnItemProgress = [this](QObject* sender, const QString& item, quint32 total, int perCent) {
            log(sender, QStringLiteral("Item(%1,%2,%3)").arg(item).arg(total).arg(perCent));
        };
        OnTotalProgress = [this](QObject* sender, qint64 total, int perCent) {
            log(sender, QStringLiteral("Total(%1,%2)").arg(total).arg(perCent));
        };
        OnMessage = [this](QObject* sender, int code, const QString& text) {
            log(sender, QStringLiteral("Message(%1,%2)").arg(code).arg(text));
        };
        OnCheckTerminate = [this](QObject* sender, bool&) { log(sender, QStringLiteral("Check")); };
    }

    void DefaultReport(quint8 action, int code, const QString& text, quint32 size) override
    {
        events << QStringLiteral("Default(%1,%2,%3,%4)").arg(action).arg(code).arg(text).arg(size);
    }

    QStringList events;
    bool wrongSender = false;

private:
    void log(QObject* sender, const QString& event)
    {
        if (sender != Master())
            wrongSender = true;
        events << event;
    }
};

// Answers the next component dialog and remembers what it showed.
struct DialogSpy
{
    explicit DialogSpy(int answer = mrOk, const QString& typed = {})
    {
        TZipDialogBox::setNextAnswer([this, answer, typed](TZipDialogBox& box) {
            shown = true;
            title = box.windowTitle();
            kind = box.kind();
            if (auto* label = box.findChild<QLabel*>(QStringLiteral("zipdText")))
                text = label->text();
            if (auto* edit = box.findChild<QLineEdit*>(QStringLiteral("zipdEdit")))
                QTest::keyClicks(edit, typed);
            return answer;
        });
    }
    ~DialogSpy() { TZipDialogBox::setNextAnswer(nullptr); }

    bool shown = false;
    QString title;
    QString text;
    int kind = -1;
};
} // namespace

class TestZipCore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QApplication::setApplicationDisplayName(QStringLiteral("Vellumix")); }
    void cleanup() { SetMessageLanguage(QString(), std::nullopt); }

    void testClosingDropsEverything();
    void testReportActions_data();
    void testReportActions();
    void testBatchSequence();
    void testMessageAction_data();
    void testMessageAction();
    void testTerminateCheck();
    void testMessagePump_data();
    void testMessagePump();
    void testReportMessageId_data();
    void testReportMessageId();
    void testReportException();
    void testMessageDialog();
    void testPasswordDialog_data();
    void testPasswordDialog();
    void testDialogOffTheGuiThread();
    void testWaitCursor();
    void testMakeTempName();
    void testSetTempDir_data();
    void testSetTempDir();
    void testRunState();
    void testItemPerCent_data();
    void testItemPerCent();
    void testTotalPerCent_data();
    void testTotalPerCent();

private:
    QObject m_master;
};

void TestZipCore::testClosingDropsEverything()
{
    LoggingCore core(&m_master);
    core.attachAll();
    core.SetClosing(true);
    for (int action = 0; action < 256; ++action)
        core.Report(quint8(action), 0x109, QStringLiteral("x"), 5);
    QVERIFY2(core.events.isEmpty(), qPrintable(core.events.join(u' ')));
    QCOMPARE(core.ErrorCode(), -1);
}

void TestZipCore::testReportActions_data()
{
    QTest::addColumn<int>("action");
    QTest::addColumn<int>("code");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QStringList>("events");

    QTest::newRow("tick") << 0 << 0 << qint64(0) << QStringList { "Tick", "Check" };
    QTest::newRow("new file") << 1 << 0 << qint64(1000)
                              << QStringList { "Progress(0,x,1000)", "Details(0)", "Item(x,1000,0)", "Check" };
    QTest::newRow("progress") << 2 << 0 << qint64(10)
                              << QStringList { "Progress(1,,10)", "Details(1)", "Item(,0,0)", "Total(0,0)", "Check" };
    QTest::newRow("end of batch") << 3 << 0 << qint64(7)
                                  << QStringList { "Progress(2,,0)", "Details(2)", "Item(,0,101)", "Total(0,101)",
                                         "Check" };
    QTest::newRow("plain message") << 4 << 0 << qint64(0) << QStringList { "Message(0,x)", "Check" };
    QTest::newRow("total files") << 5 << 0 << qint64(4) << QStringList { "Details(3)", "Progress(3,,4)", "Check" };
    QTest::newRow("total size beyond 32 bits")
        << 6 << 0 << qint64(5000000000) << QStringList { "Details(4)", "Progress(4,,5000000000)", "Check" };
    QTest::newRow("extra item") << 15 << 9 << qint64(10)
                                << QStringList { "Progress(5,x,10)", "Details(5)", "Item(*Loading Directory,10,0)",
                                       "Check" };
    QTest::newRow("extra update") << 16 << 0 << qint64(3)
                                  << QStringList { "Progress(6,,3)", "Details(6)", "Item(,0,0)", "Check" };
    QTest::newRow("terminate check only") << 19 << 0 << qint64(0) << QStringList { "Check" };
    QTest::newRow("unknown action") << 7 << 3 << qint64(0x100000005) << QStringList { "Default(7,3,x,5)", "Check" };
    QTest::newRow("unknown high action") << 200 << 0 << qint64(1) << QStringList { "Default(200,0,x,1)", "Check" };
}

void TestZipCore::testReportActions()
{
    QFETCH(int, action);
    QFETCH(int, code);
    QFETCH(qint64, size);
    QFETCH(QStringList, events);

    LoggingCore core(&m_master);
    core.attachAll();
    core.Report(quint8(action), code, QStringLiteral("x"), size);
    QCOMPARE(core.events, events);
    QVERIFY(!core.wrongSender);
}

void TestZipCore::testBatchSequence()
{
    LoggingCore core(&m_master);
    core.attachAll();
    core.Report(5, 0, {}, 2);
    core.Report(6, 0, {}, 3000);
    core.Report(1, 0, QStringLiteral("a.txt"), 1000);
    core.Report(2, 0, {}, 250);
    core.Report(2, 0, {}, 750);
    core.Report(3, 0, {}, 0);
    core.Report(1, 0, QStringLiteral("b.txt"), 2000);
    core.events.clear();
    core.Report(2, 0, {}, 500);
    QCOMPARE(core.events,
        (QStringList { "Progress(1,,500)", "Details(1)", "Item(b.txt,2000,25)", "Total(3000,50)", "Check" }));

    const TProgDetails& details = *core.Details();
    QCOMPARE(details.ItemCount(), 2);
    QCOMPARE(details.ItemNumber(), 2);
    QCOMPARE(details.TotalPosition(), qint64(1500));
    QCOMPARE(details.ItemPosition(), quint32(500));

    // An extra item keeps the number and the totals.
    core.Report(15, 10, QStringLiteral("ignored"), 400);
    core.Report(16, 0, {}, 100);
    QCOMPARE(details.ItemName(), QStringLiteral("*Joining split zip file"));
    QCOMPARE(details.ItemNumber(), 2);
    QCOMPARE(details.ItemPerCent(), 25);
    QCOMPARE(details.TotalPosition(), qint64(1500));
    QCOMPARE(details.ProgType(), ProgressType::ExtraUpdate);

    core.Report(5, 0, {}, 7);
    QCOMPARE(details.TotalSize(), qint64(0));
    QCOMPARE(details.ItemNumber(), 0);
    QCOMPARE(details.ItemName(), QString());
}

void TestZipCore::testMessageAction_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("handlerError");
    QTest::addColumn<int>("errorCode");
    QTest::addColumn<QString>("errorMessage");
    QTest::addColumn<QString>("event");

    QTest::newRow("low byte of the code") << 0x0109 << "" << 9 << "boom"
                                          << "Message(265,boom)";
    QTest::newRow("signed low byte") << 0x01FE << "" << -2 << "boom"
                                     << "Message(510,boom)";
    QTest::newRow("code 0 keeps the last error") << 0 << "" << -1 << ""
                                                 << "Message(0,boom)";
    QTest::newRow("handler error replaces the text") << 9 << " #4 \"oops\"" << 9 << "Exception in Event "
                                                     << "Message(9,Exception in Event )";
    QTest::newRow("handler error only for code 9") << 10 << " #4 \"oops\"" << 10 << "boom"
                                                   << "Message(10,boom)";
}

void TestZipCore::testMessageAction()
{
    QFETCH(int, code);
    QFETCH(QString, handlerError);
    QFETCH(int, errorCode);
    QFETCH(QString, errorMessage);
    QFETCH(QString, event);

    LoggingCore core(&m_master);
    core.attachAll();
    core.SetHandlerErrorText(handlerError);
    core.Report(4, code, QStringLiteral("boom"), 0);
    QCOMPARE(core.ErrorCode(), errorCode);
    QCOMPARE(core.ErrorMessage(), errorMessage);
    QCOMPARE(core.events.value(0), event);
}

void TestZipCore::testTerminateCheck()
{
    TZipCore core(&m_master);
    QList<bool> seen;
    bool answer = true;
    core.OnCheckTerminate = [&](QObject*, bool& abort) {
        seen << abort;
        abort = answer;
    };
    core.Report(0, 0, {}, 0);
    QVERIFY(core.Cancel());
    answer = false;
    core.Report(19, 0, {}, 0);
    QVERIFY2(core.Cancel(), "clearing the abort flag must not clear Cancel");
    QCOMPARE(seen, (QList<bool> { false, true }));
}

void TestZipCore::testMessagePump_data()
{
    QTest::addColumn<bool>("withHandler");
    QTest::addColumn<bool>("notMainThread");
    QTest::addColumn<bool>("pumped");
    QTest::newRow("no handler pumps once") << false << false << true;
    QTest::newRow("handler replaces the pump") << true << false << false;
    QTest::newRow("no pumping off the main thread") << false << true << false;
}

void TestZipCore::testMessagePump()
{
    QFETCH(bool, withHandler);
    QFETCH(bool, notMainThread);
    QFETCH(bool, pumped);

    TZipCore core(&m_master);
    if (withHandler)
        core.OnCheckTerminate = [](QObject*, bool&) {};
    core.SetNotMainThread(notMainThread);
    bool ran = false;
    QMetaObject::invokeMethod(
        &m_master, [&ran] { ran = true; }, Qt::QueuedConnection);
    core.Report(19, 0, {}, 0);
    QCOMPARE(ran, pumped);
    QCoreApplication::processEvents();
}

void TestZipCore::testReportMessageId_data()
{
    QTest::addColumn<bool>("unattended");
    QTest::addColumn<bool>("withHandler");
    QTest::addColumn<bool>("dialog");
    QTest::addColumn<int>("errorCode");

    QTest::newRow("attended without handler") << false << false << true << 10301;
    QTest::newRow("attended with handler") << false << true << true << 10301;
    QTest::newRow("unattended with handler") << true << true << false << 10301;
    QTest::newRow("unattended without handler does nothing") << true << false << false << -1;
}

void TestZipCore::testReportMessageId()
{
    QFETCH(bool, unattended);
    QFETCH(bool, withHandler);
    QFETCH(bool, dialog);
    QFETCH(int, errorCode);

    for (bool formatted : { false, true }) {
        TZipCore core(&m_master);
        core.SetUnattended(unattended);
        QStringList events;
        if (withHandler)
            core.OnMessage = [&](QObject*, int code, const QString& text) { events << QString::number(code) + text; };
        DialogSpy spy;
        QString expected;
        if (formatted) {
            core.ReportMessageFmt(10308, { QStringLiteral("/x") });
            expected = QStringLiteral("Destination directory '/x' must exist!");
        } else {
            core.ReportMessageId(10301, QStringLiteral(" (tail)"));
            expected = QStringLiteral("Error - no files to zip! (tail)");
        }
        const int id = formatted ? 10308 : 10301;
        QCOMPARE(spy.shown, dialog);
        if (dialog) {
            QCOMPARE(spy.kind, 2);
            QCOMPARE(spy.text, expected);
        }
        QCOMPARE(core.ErrorCode(), errorCode == -1 ? -1 : id);
        QCOMPARE(core.ErrorMessage(), errorCode == -1 ? QString() : expected);
        QCOMPARE(events, withHandler ? QStringList { QString::number(id) + expected } : QStringList {});
    }
}

void TestZipCore::testReportException()
{
    TZipCore core(&m_master);
    core.SetUnattended(false);
    QStringList events;
    core.OnMessage = [&](QObject*, int code, const QString& text) { events << QString::number(code) + text; };
    {
        DialogSpy spy;
        core.ReportException(EZipArchiver(11007, false));
        QVERIFY(!spy.shown);
    }
    {
        DialogSpy spy;
        core.ReportException(EZipArchiver(10124, -6));
        QVERIFY(spy.shown);
        QCOMPARE(spy.kind, 1);
        QCOMPARE(spy.title, QStringLiteral("Vellumix"));
        QCOMPARE(spy.text, QStringLiteral("critical DLL Error -6"));
    }
    QCOMPARE(core.ErrorCode(), 10124);
    QCOMPARE(events, (QStringList { "11007User canceled operation", "10124critical DLL Error -6" }));
}

void TestZipCore::testMessageDialog()
{
    TZipCore core(&m_master);
    QString title;
    int initial = 0;
    int answer = 0;
    core.OnZipDialog = [&](QObject*, const QString& t, QString& msg, int& result, TMsgDlgButtons) {
        title = t;
        initial = result;
        msg = QStringLiteral("changed");
        if (answer)
            result = answer;
    };

    // A handler that leaves the result at the kind does not answer.
    {
        DialogSpy spy(mrNo);
        QString text = QStringLiteral("Overwrite?");
        QCOMPARE(core.MessageDialog(QString(), text, 0x102716, { mbYes, mbNo }), int(mrNo));
        QVERIFY(spy.shown);
        QCOMPARE(initial, 0x102716);
        QCOMPARE(text, QStringLiteral("Overwrite?"));
        QCOMPARE(title, QStringLiteral("Vellumix"));
    }
    {
        answer = mrYes;
        DialogSpy spy;
        QString text = QStringLiteral("Overwrite?");
        QCOMPARE(core.MessageDialog(QStringLiteral("Mine"), text, 0x102716, { mbYes, mbNo }), int(mrYes));
        QVERIFY(!spy.shown);
        QCOMPARE(text, QStringLiteral("changed"));
        QCOMPARE(title, QStringLiteral("Mine"));
    }
    {
        answer = 11;
        DialogSpy spy(mrOk);
        QString text = QStringLiteral("x");
        QCOMPARE(core.MessageDialog(QString(), text, ZipDlgInformation, { mbOK }), int(mrOk));
        QVERIFY(spy.shown);
    }

    core.OnZipDialog = nullptr;
    core.SetVerbose(true);
    DialogSpy spy;
    core.ShowMessageBox(QStringLiteral("report"), ZipDlgInformation);
    QCOMPARE(spy.title, QStringLiteral("Vellumix   (10000)"));
    QCOMPARE(spy.kind, 2);
}

void TestZipCore::testPasswordDialog_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("expected");

    QTest::newRow("OK gives the text") << int(mrOk) << "secret"
                                       << "secret";
    QTest::newRow("Cancel gives nothing") << int(mrCancel) << "secret"
                                          << "";
    QTest::newRow("All gives nothing") << int(mrAll) << "secret"
                                       << "";
    QTest::newRow("at most 80 characters") << int(mrOk) << QString(100, u'p') << QString(80, u'p');
}

void TestZipCore::testPasswordDialog()
{
    QFETCH(int, answer);
    QFETCH(QString, typed);
    QFETCH(QString, expected);

    TZipCore core(&m_master);
    DialogSpy spy(answer, typed);
    QString text = QStringLiteral("Enter Password ");
    QCOMPARE(core.MessageDialog(QString(), text, ZipDlgPassword + 10003, { mbOK, mbCancel, mbAll }), answer);
    QCOMPARE(spy.kind, 4);
    QCOMPARE(text, expected);
}

void TestZipCore::testDialogOffTheGuiThread()
{
    TZipCore core(&m_master);
    DialogSpy spy(mrOk, QStringLiteral("secret"));
    QString text = QStringLiteral("Enter Password ");
    int result = 0;
    QThread* thread = QThread::create([&] { result = core.MessageDialog(QString(), text, ZipDlgPassword, { mbOK }); });
    thread->start();
    thread->wait();
    delete thread;
    QCOMPARE(result, int(mrCancel));
    QCOMPARE(text, QString());
    QVERIFY(!spy.shown);
}

void TestZipCore::testWaitCursor()
{
    auto shape = [] {
        const QCursor* cursor = QGuiApplication::overrideCursor();
        return cursor ? int(cursor->shape()) : -1;
    };
    TZipCore core(&m_master);
    core.BeginWait();
    core.BeginWait();
    QCOMPARE(shape(), int(Qt::WaitCursor));
    core.EndWait();
    QCOMPARE(core.WaitCount(), 1);
    QCOMPARE(shape(), int(Qt::WaitCursor));
    core.EndWait();
    QCOMPARE(shape(), -1);
    core.EndWait();
    QCOMPARE(core.WaitCount(), 0);
    QCOMPARE(shape(), -1);

    // An operation that ended by an exception leaves no hourglass behind.
    core.BeginWait();
    core.BeginWait();
    core.EndRun();
    QCOMPARE(core.WaitCount(), 0);
    QCOMPARE(shape(), -1);

    core.SetNotMainThread(true);
    core.BeginWait();
    QCOMPARE(core.WaitCount(), 0);
    QCOMPARE(shape(), -1);
}

void TestZipCore::testMakeTempName()
{
    TZipCore core(&m_master);
    const QString plain = core.MakeTempName();
    QFileInfo info(plain);
    QCOMPARE(info.absolutePath(), QFileInfo(QDir::tempPath()).absoluteFilePath());
    QVERIFY(info.fileName().startsWith(QLatin1String("zip")));
    QVERIFY(plain.endsWith(QLatin1String(".zip")));
    QVERIFY(!info.exists());
    QVERIFY(!QFileInfo::exists(plain.chopped(4) + QStringLiteral(".tmp")));
    QVERIFY(core.MakeTempName() != plain);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    core.SetTempDir(dir.path());
    const QString named = core.MakeTempName(QStringLiteral("abc"), QStringLiteral(".part"));
    QCOMPARE(core.TempDir(), dir.path() + QLatin1Char('/'));
    QCOMPARE(QFileInfo(named).absolutePath(), dir.path());
    QVERIFY(QFileInfo(named).fileName().startsWith(QLatin1String("abc")));
    QVERIFY(named.endsWith(QLatin1String(".part")));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList());

    core.SetTempDir(dir.path() + QStringLiteral("/missing"));
    QCOMPARE(core.MakeTempName(), QString());
}

void TestZipCore::testSetTempDir_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("fixed") << int(Drives::DriveType::Fixed) << true;
    QTest::newRow("RAM disk") << int(Drives::DriveType::RamDisk) << true;
    QTest::newRow("removable") << int(Drives::DriveType::Removable) << false;
    QTest::newRow("remote") << int(Drives::DriveType::Remote) << false;
    QTest::newRow("optical") << int(Drives::DriveType::CdRom) << false;
}

void TestZipCore::testSetTempDir()
{
    QFETCH(int, type);
    QFETCH(bool, accepted);

    QTemporaryDir base;
    const QString before = base.path();
    const QString folder = base.path() + QStringLiteral("/drive/tmp");
    TZipCore core(&m_master);
    core.SetTempDir(before);
    Drives::TestDrive drive(base.path() + QStringLiteral("/drive"), Drives::DriveType(type), QStringLiteral("STICK"));
    try {
        core.SetTempDir(folder);
        QVERIFY(accepted);
        QCOMPARE(core.TempDir(), folder);
    } catch (const EZipArchiver& e) {
        QVERIFY(!accepted);
        QCOMPARE(e.MessageId(), 11051);
        QCOMPARE(e.message(), QStringLiteral("Cannot write to ") + folder);
        QCOMPARE(core.TempDir(), before);
    }
    core.SetTempDir(QString());
    QCOMPARE(core.TempDir(), QString());
}

void TestZipCore::testRunState()
{
    TZipCore core(&m_master);
    QCOMPARE(core.ErrorCode(), -1);
    QVERIFY(core.Unattended());

    QStringList events;
    core.OnMessage = [&](QObject*, int code, const QString& text) { events << QString::number(code) + text; };
    core.MarkReentry();
    QVERIFY(core.Reentry());
    QVERIFY(events.isEmpty());
    core.SetVerbose(true);
    core.MarkReentry();
    QCOMPARE(events, QStringList { "0Re-entry" });

    core.StartRun();
    QVERIFY(!core.Reentry());
    QVERIFY(!core.NotMainThread());
    QThread* thread = QThread::create([&core] { core.StartRun(); });
    thread->start();
    thread->wait();
    delete thread;
    QVERIFY(core.NotMainThread());

    core.SetCancel(true);
    core.SetClosing(true);
    core.SetTrace(true);
    core.SetHandlerErrorText(QStringLiteral("h"));
    core.Details()->SetCount(3);
    const QByteArray blocks = ZipTest::languageBlock(
        1031, "DE", ZipTest::lzPack(ZipTest::stringTableImage({ { 10154, QStringLiteral("Kennwort") } })));
    QCOMPARE(SetMessageLanguage(QStringLiteral("de"), blocks), QStringLiteral("DE"));
    core.ResetState();
    QCOMPARE(LoadMessageText(10154), QStringLiteral("Password"));
    QVERIFY(!core.Cancel() && !core.Closing() && !core.Trace() && !core.Verbose() && !core.Unattended());
    QCOMPARE(core.ErrorCode(), 0);
    QCOMPARE(core.HandlerErrorText(), QString());
    QCOMPARE(core.Details()->ItemCount(), 0);
    QCOMPARE(core.Details()->ProgType(), ProgressType::EndOfBatch);
}

void TestZipCore::testItemPerCent_data()
{
    QTest::addColumn<quint32>("size");
    QTest::addColumn<quint32>("position");
    QTest::addColumn<int>("perCent");
    QTest::newRow("small item") << 1000u << 250u << 25;
    QTest::newRow("large item divides the size first") << 300000u << 150000u << 50;
    QTest::newRow("just below the switch") << 214747u << 107373u << 49;
    QTest::newRow("4 GB item") << 4000000000u << 3000000000u << 75;
    QTest::newRow("empty item") << 0u << 10u << 0;
    QTest::newRow("nothing done") << 500u << 0u << 0;
}

void TestZipCore::testItemPerCent()
{
    QFETCH(quint32, size);
    QFETCH(quint32, position);
    QFETCH(int, perCent);

    TProgDetails details;
    details.NewItem(QStringLiteral("x"), size);
    details.Advance(position);
    QCOMPARE(details.ItemPerCent(), perCent);
}

void TestZipCore::testTotalPerCent_data()
{
    QTest::addColumn<qint64>("total");
    QTest::addColumn<qint64>("position");
    QTest::addColumn<int>("perCent");
    QTest::newRow("no total") << qint64(0) << qint64(100) << 0;
    QTest::newRow("nothing done") << qint64(100) << qint64(0) << 0;
    QTest::newRow("half") << qint64(3000) << qint64(1500) << 50;
    QTest::newRow("beyond 32 bits") << qint64(10000000000) << qint64(7500000000) << 75;
}

void TestZipCore::testTotalPerCent()
{
    QFETCH(qint64, total);
    QFETCH(qint64, position);
    QFETCH(int, perCent);

    TProgDetails details;
    details.SetSize(total);
    for (qint64 left = position; left > 0; left -= std::min<qint64>(left, 0xFFFFFFFF))
        details.Advance(quint32(std::min<qint64>(left, 0xFFFFFFFF)));
    QCOMPARE(details.TotalPosition(), position);
    QCOMPARE(details.TotalPerCent(), perCent);
}

QTEST_MAIN(TestZipCore)
#include "TestZipCore.moc"
