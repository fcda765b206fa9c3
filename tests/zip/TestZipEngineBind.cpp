#include "platform/AppPaths.h"
#include "zip/ZipEngineBind.h"
#include "zip/ZipMsgStr.h"
#include "zip/ZipTestUtil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <dlfcn.h>

#include <functional>
#include <optional>
#include <stdexcept>

namespace
{
const QString kEngines = QStringLiteral(VELLUMIX_TEST_ENGINES_DIR);

QString engineFolder(const QString& variant)
{
    return kEngines + QLatin1Char('/') + variant;
}

QString engineFile(const QString& variant)
{
    return QFileInfo(engineFolder(variant) + QStringLiteral("/libZipEngine179.so")).canonicalFilePath();
}

// The system search finds a library already loaded under the engine's name, so holding the
// 179 stand-in stands for finding it on the run path; without it the bare name is missing.
class BareNameEngine
{
public:
    BareNameEngine()
        : m_handle(dlopen(QFile::encodeName(engineFile(QStringLiteral("179"))).constData(), RTLD_NOW))
    { }
    ~BareNameEngine()
    {
        if (m_handle)
            dlclose(m_handle);
    }
    BareNameEngine(const BareNameEngine&) = delete;
    BareNameEngine& operator=(const BareNameEngine&) = delete;
    bool ok() const { return m_handle != nullptr; }

private:
    void* m_handle;
};

// A binding that records its messages and may carry an engine copy of its own.
class Bind : public TZipEngineBind
{
public:
    Bind()
        : TZipEngineBind(&master)
    {
        OnMessage = [this](QObject*, int, const QString& text) { messages << text; };
    }

    int ResourceVersion() const override { return resourceVersion; }
    QByteArray ResourceLibrary() const override { return resourceImage; }

    using TZipEngineBind::Unload;

    QObject master;
    QStringList messages;
    int resourceVersion = 0;
    QByteArray resourceImage;
};

struct Raised
{
    int id = 0;
    QString text;
};

std::optional<Raised> raised(const std::function<void()>& fn)
{
    try {
        fn();
    } catch (const EZipArchiver& e) {
        return Raised { e.MessageId(), e.message() };
    }
    return std::nullopt;
}

// One engine command, with a callback that sees the binding while the engine runs.
struct Command
{
    TZipEngineBind* bind = nullptr;
    std::function<void(CallbackRecord*)> onCallback;

    static int32_t callback(void* caller, CallbackRecord* record)
    {
        auto* self = static_cast<Command*>(caller);
        if (self->onCallback)
            self->onCallback(record);
        return 0;
    }

    int run(bool zip, const QByteArray& status = {})
    {
        const char* password = status.isEmpty() ? nullptr : status.constData();
        if (zip) {
            ZipCommandRecord record {};
            record.Caller = this;
            record.Callback = &callback;
            record.Password = password;
            return bind->RunZip(&record);
        }
        UnzipCommandRecord record {};
        record.Caller = this;
        record.Callback = &callback;
        record.Password = password;
        return bind->RunUnzip(&record);
    }
};
} // namespace

class TestZipEngineBind : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { AppPaths::setExecutablePathForTesting(QString()); }

    void testVersionRange_data();
    void testVersionRange();
    void testMissingLibrary();
    void testDllDirectory_data();
    void testDllDirectory();
    void testLoadReasons();
    void testEngineStatus_data();
    void testEngineStatus();
    void testCallbackException_data();
    void testCallbackException();
    void testCallInsideOperation();
    void testAbortEngine();
    void testRealEngine();
    void testResourceCopy_data();
    void testResourceCopy();
};

void TestZipEngineBind::testVersionRange_data()
{
    QTest::addColumn<QString>("variant");
    QTest::addColumn<int>("version");
    QTest::addColumn<QString>("rejectedAs");

    QTest::newRow("178") << "178" << 0 << engineFile(QStringLiteral("178"));
    QTest::newRow("179") << "179" << 179 << QString();
    QTest::newRow("300") << "300" << 300 << QString();
    QTest::newRow("301") << "301" << 0 << engineFile(QStringLiteral("301"));
    // Without ZE_Path the library never names itself; the binding's name stands.
    QTest::newRow("no ZE_Path") << "nopath" << 0 << QStringLiteral("libZipEngine179.so");
}

void TestZipEngineBind::testVersionRange()
{
    QFETCH(QString, variant);
    QFETCH(int, version);
    QFETCH(QString, rejectedAs);

    Bind bind;
    bind.SetDllDirectory(engineFolder(variant));
    const auto error = raised([&] { QCOMPARE(bind.Load(TZipEngineBind::lrOperation), version); });
    if (rejectedAs.isEmpty()) {
        QVERIFY(!error);
        QVERIFY(bind.IsLoaded());
        QCOMPARE(bind.EngineVersion(), version);
        QCOMPARE(bind.EnginePrivVersion(), version * 10000);
        QCOMPARE(bind.LibraryName(), engineFile(variant));
        QCOMPARE(bind.Release(TZipEngineBind::lrOperation), 0);
        QVERIFY(bind.LibraryName().isEmpty());
    } else {
        QVERIFY(error);
        QCOMPARE(error->id, 10651);
        QCOMPARE(error->text, QStringLiteral("Unable to load %1 - It is old or corrupt").arg(rejectedAs));
        QVERIFY(!bind.IsLoaded());
        QCOMPARE(bind.EngineVersion(), 0);
        QCOMPARE(bind.EnginePrivVersion(), 0);
        QCOMPARE(bind.LoadReasons(), quint8(0));
    }
    QVERIFY(!bind.IsLoaded());
}

void TestZipEngineBind::testMissingLibrary()
{
    Bind bind;
    bind.SetTrace(true);
    bind.SetDllDirectory(QStringLiteral("/nonexistent/engines"));
    const auto error = raised([&] { bind.LoadForOperation(); });
    QVERIFY(error);
    QCOMPARE(error->id, 10650);
    QCOMPARE(error->text, QStringLiteral("Failed to load libZipEngine179.so"));
    QCOMPARE(bind.messages.size(), 1);
    QVERIFY2(bind.messages[0].startsWith(QStringLiteral("Error [")), qPrintable(bind.messages[0]));
    QVERIFY(bind.messages[0].endsWith(QStringLiteral("] loading libZipEngine179.so")));
    QVERIFY(!bind.IsLoaded());
    QCOMPARE(bind.LoadReasons(), quint8(0));
    QCOMPARE(bind.WaitCount(), 0);
}

void TestZipEngineBind::testDllDirectory_data()
{
    QTest::addColumn<QString>("directory"); // "@" stands for the engines folder, "#" for a scratch folder
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("loads"); // "#bin" is the copy below the scratch folder
    QTest::addColumn<bool>("noResource");

    QTest::newRow("empty: bare name") << ""
                                      << ""
                                      << "179" << false;
    QTest::newRow("folder") << "@/300"
                            << "@/300"
                            << "300" << false;
    QTest::newRow("folder with separator") << "@/300/"
                                           << "@/300"
                                           << "300" << false;
    QTest::newRow("folder without engine: bare name") << "#/"
                                                      << "#"
                                                      << "179" << false;
    QTest::newRow("relative to the executable") << "./bin"
                                                << "./bin"
                                                << "#bin" << false;
    QTest::newRow("resource copy missing: bare name") << "><"
                                                      << "><"
                                                      << "179" << true;
}

void TestZipEngineBind::testDllDirectory()
{
    QFETCH(QString, directory);
    QFETCH(QString, stored);
    QFETCH(QString, loads);
    QFETCH(bool, noResource);

    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    QVERIFY(QDir(scratch.path()).mkdir(QStringLiteral("bin")));
    QVERIFY(QFile::copy(engineFile(QStringLiteral("300")), scratch.filePath(QStringLiteral("bin/libZipEngine179.so"))));
    AppPaths::setExecutablePathForTesting(scratch.filePath(QStringLiteral("vellumix")));
    auto expand = [&](QString text) {
        return text.replace(QLatin1Char('@'), kEngines).replace(QLatin1Char('#'), scratch.path());
    };
    const QString expected = loads.startsWith(QLatin1Char('#'))
        ? QFileInfo(scratch.filePath(QStringLiteral("bin/libZipEngine179.so"))).canonicalFilePath()
        : engineFile(loads);

    BareNameEngine bare;
    QVERIFY(bare.ok());
    Bind bind;
    bind.SetTrace(true);
    bind.SetDllDirectory(expand(directory));
    QCOMPARE(bind.DLLDirectory(), expand(stored));
    QVERIFY(bind.Load(TZipEngineBind::lrProperty) >= 179);
    QCOMPARE(bind.LibraryName(), expected);
    QCOMPARE(bind.messages.contains(QStringLiteral("No dll in resource")), noResource);
    QVERIFY(bind.ExtractedPath().isEmpty());
    bind.SetDllLoaded(false);
    QVERIFY(!bind.IsLoaded());
}

void TestZipEngineBind::testLoadReasons()
{
    Bind bind;
    bind.SetDllDirectory(engineFolder(QStringLiteral("179")));

    QCOMPARE(bind.Load(quint8(0xF8 | TZipEngineBind::lrProperty)), 179);
    QCOMPARE(bind.LoadReasons(), quint8(TZipEngineBind::lrProperty));
    bind.Load(TZipEngineBind::lrOperation);
    // Releasing a reason never taken, or one of two, keeps the library.
    bind.Release(TZipEngineBind::lrCall);
    bind.Release(TZipEngineBind::lrProperty);
    QVERIFY(bind.IsLoaded());
    QCOMPARE(bind.LoadReasons(), quint8(TZipEngineBind::lrOperation));
    QCOMPARE(bind.Release(TZipEngineBind::lrOperation), 0);
    QVERIFY(!bind.IsLoaded());

    bind.SetDllLoaded(true);
    QVERIFY(bind.IsLoaded());
    QCOMPARE(bind.LoadReasons(), quint8(TZipEngineBind::lrProperty));
    bind.SetVerbose(true);
    bind.ResetState();
    QVERIFY(!bind.IsLoaded());
    QCOMPARE(bind.LoadReasons(), quint8(0));
    QCOMPARE(bind.messages, QStringList { QStringLiteral("Unloaded %1").arg(engineFile(QStringLiteral("179"))) });
    QVERIFY(!bind.Verbose());
}

void TestZipEngineBind::testEngineStatus_data()
{
    QTest::addColumn<bool>("zip");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("text");

    QTest::newRow("0") << true << 0 << 0 << QString();
    QTest::newRow("entries extracted") << false << 3 << 0 << QString();
    QTest::newRow("-1") << true << -1 << 10120 << LoadMessageText(10120);
    QTest::newRow("-2") << true << -2 << 10118 << LoadMessageText(10118);
    QTest::newRow("-3") << true << -3 << 10123 << LoadMessageText(10123);
    QTest::newRow("-4") << true << -4 << 10121 << LoadMessageText(10121);
    QTest::newRow("-5") << true << -5 << 10122 << LoadMessageText(10122);
    QTest::newRow("-6") << true << -6 << 10124 << QStringLiteral("critical DLL Error -6");
    QTest::newRow("-7") << true << -7 << 10124 << QStringLiteral("critical DLL Error -7");
    QTest::newRow("unzip -3") << false << -3 << 10123 << LoadMessageText(10123);
    QTest::newRow("unzip -7") << false << -7 << 10124 << QStringLiteral("critical DLL Error -7");
    QTest::newRow("far negative") << true << -300 << 10124 << QStringLiteral("critical DLL Error -300");
}

void TestZipEngineBind::testEngineStatus()
{
    QFETCH(bool, zip);
    QFETCH(int, status);
    QFETCH(int, id);
    QFETCH(QString, text);

    Bind bind;
    bind.SetDllDirectory(engineFolder(QStringLiteral("179")));
    Command command { &bind, [&](CallbackRecord* record) { bind.SetOperationKey(record->Arg1); } };
    int result = 0;
    const auto error = raised([&] { result = command.run(zip, QByteArray::number(status)); });
    if (id == 0) {
        QVERIFY(!error);
        QCOMPARE(result, status);
    } else {
        QVERIFY(error);
        QCOMPARE(error->id, id);
        QCOMPARE(error->text, text);
    }
    QCOMPARE(bind.OperationKey(), 0);
    QVERIFY(!bind.IsLoaded());
    QCOMPARE(bind.LoadReasons(), quint8(0));
}

void TestZipEngineBind::testCallbackException_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("std::exception") << 0;
    QTest::newRow("EZipArchiver") << 1;
    QTest::newRow("not an exception class") << 2;
}

void TestZipEngineBind::testCallbackException()
{
    QFETCH(int, kind);

    Bind bind;
    bind.SetDllDirectory(engineFolder(QStringLiteral("179")));
    bind.LoadForOperation();
    Command command { &bind, [&](CallbackRecord* record) {
                         bind.SetOperationKey(record->Arg1);
                         if (kind == 0)
                             throw std::runtime_error("handler failed");
                         if (kind == 1)
                             throw EZipArchiver(10113, true);
                         throw 42;
                     } };
    const auto error = raised([&] { command.run(true); });
    QVERIFY(error);
    QCOMPARE(error->id, 10124);
    QCOMPARE(error->text, QStringLiteral("critical DLL Error -7"));
    QCOMPARE(bind.OperationKey(), 0);
    QCOMPARE(bind.LoadReasons(), quint8(TZipEngineBind::lrOperation));
    bind.ReleaseForOperation();
    QVERIFY(!bind.IsLoaded());
}

void TestZipEngineBind::testCallInsideOperation()
{
    const QString loaded = QStringLiteral("Loaded %1").arg(engineFile(QStringLiteral("179")));
    const QString unloaded = QStringLiteral("Unloaded %1").arg(engineFile(QStringLiteral("179")));
    Bind bind;
    bind.SetVerbose(true);
    bind.SetDllDirectory(engineFolder(QStringLiteral("179")));
    quint8 reasonsInside = 0;
    Command command { &bind, [&](CallbackRecord*) { reasonsInside = bind.LoadReasons(); } };

    QCOMPARE(bind.LoadForOperation(), 179);
    for (bool zip : { true, false, true }) {
        QCOMPARE(command.run(zip), 0);
        QCOMPARE(reasonsInside, quint8(TZipEngineBind::lrOperation | TZipEngineBind::lrCall));
        QVERIFY(bind.IsLoaded());
        QCOMPARE(bind.LoadReasons(), quint8(TZipEngineBind::lrOperation));
    }
    bind.ReleaseForOperation();
    QVERIFY(!bind.IsLoaded());
    QCOMPARE(bind.messages, QStringList({ loaded, unloaded }));

    // Outside an operation every command loads and unloads on its own.
    bind.messages.clear();
    command.run(true);
    command.run(false);
    QCOMPARE(bind.messages, QStringList({ loaded, unloaded, loaded, unloaded }));
    QCOMPARE(bind.WaitCount(), 0);
}

void TestZipEngineBind::testAbortEngine()
{
    Bind bind;
    bind.SetDllDirectory(engineFolder(QStringLiteral("179")));
    bind.LoadForOperation();
    int key = 0;
    Command command { &bind, [&](CallbackRecord* record) {
                         key = record->Arg1;
                         bind.SetOperationKey(key);
                         bind.AbortEngine();
                     } };
    const auto error = raised([&] { command.run(false); });
    QVERIFY(key != 0);
    QVERIFY(error);
    QCOMPARE(error->id, 10120);
    QVERIFY(bind.Cancel());
    QCOMPARE(bind.OperationKey(), 0);
    QVERIFY(bind.IsLoaded());

    // Unloaded, an abort only sets the cancel flag.
    bind.ReleaseForOperation();
    bind.SetCancel(false);
    bind.AbortEngine();
    QVERIFY(bind.Cancel());
}

void TestZipEngineBind::testRealEngine()
{
    Bind bind;
    bind.SetDllDirectory(QStringLiteral(VELLUMIX_BIN_DIR "/"));
    QCOMPARE(bind.LoadForOperation(), 179);
    QVERIFY(bind.EnginePrivVersion() >= TZipEngineBind::MinPrivVersion);
    QCOMPARE(bind.LibraryName(), QFileInfo(QStringLiteral(VELLUMIX_BIN_DIR "/libZipEngine179.so")).canonicalFilePath());
    UnzipCommandRecord record {};
    record.Version = ZE_RECORD_VERSION;
    const auto error = raised([&] { bind.RunUnzip(&record); });
    QVERIFY(error);
    QCOMPARE(error->id, 10122);
    QVERIFY(bind.IsLoaded());
    bind.ReleaseForOperation();
    QVERIFY(!bind.IsLoaded());
}

void TestZipEngineBind::testResourceCopy_data()
{
    QFile file(engineFile(QStringLiteral("300")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray image = file.readAll();
    QVERIFY(image.size() > 50000);

    QTest::addColumn<QByteArray>("resource");
    QTest::addColumn<bool>("copied");
    QTest::newRow("executable image") << image << true;
    const QByteArray packed = ZipTest::lzPack(image);
    QVERIFY(packed.size() > 50000);
    QTest::newRow("packed image") << packed << true;
    QTest::newRow("packed image cut short") << packed.chopped(1000) << false;
    QTest::newRow("too small") << image.left(40000) << false;
}

void TestZipEngineBind::testResourceCopy()
{
    QFETCH(QByteArray, resource);
    QFETCH(bool, copied);

    BareNameEngine bare;
    QVERIFY(bare.ok());
    Bind bind;
    bind.SetTrace(true);
    bind.resourceVersion = 1790001;
    bind.resourceImage = resource;
    bind.SetDllDirectory(QStringLiteral("><"));
    bind.Load(TZipEngineBind::lrProperty);
    const QString copy = bind.ExtractedPath();
    if (!copied) {
        // Nothing is left behind and the bare name is loaded instead.
        QVERIFY(copy.isEmpty());
        QCOMPARE(bind.LibraryName(), engineFile(QStringLiteral("179")));
        return;
    }
    QVERIFY(QFileInfo::exists(copy));
    QVERIFY(QFileInfo(copy).fileName().startsWith(QStringLiteral("ZE_")));
    QCOMPARE(bind.EngineVersion(), 300);
    QCOMPARE(bind.LibraryName(), QFileInfo(copy).canonicalFilePath());
    QVERIFY(bind.messages.contains(QStringLiteral("extracted resource dll %1 1790001").arg(copy)));

    // A new folder while the copy is loaded removes the copy only at the next unload.
    bind.SetDllDirectory(engineFolder(QStringLiteral("179")));
    QVERIFY(bind.DeleteExtractedOnUnload());
    QVERIFY(QFileInfo::exists(copy));
    bind.SetDllLoaded(false);
    QVERIFY(!QFileInfo::exists(copy));
    QVERIFY(bind.ExtractedPath().isEmpty());
}

QTEST_GUILESS_MAIN(TestZipEngineBind)
#include "TestZipEngineBind.moc"
