#include "zip/ZipMsgStr.h"
#include "zip/ZipWorker.h"

#include <QUtf8StringView>
#include <QtTest>

#include <cstddef>
#include <cstring>

// The callback actions no engine of ours sends, played to the worker's callback as an engine
// would send them, with replies at and over the limits of the reply area.
namespace
{
// A callback record as the engine fills it, with the texts it points at.
struct Call
{
    explicit Call(int action, const QByteArray& name = "entry.txt")
        : name(name)
    {
        std::memset(&record, 0, sizeof record);
        record.Action = action;
        record.Text = this->name.constData();
    }
    int32_t send(TZipWorker& worker) { return TZipWorker::EngineCallback(&worker, &record); }
    QByteArray reply() const { return QByteArray(record.Data.Reply, qstrnlen(record.Data.Reply, ZE_REPLY_SIZE)); }

    CallbackRecord record;
    QByteArray name;
    QByteArray second;
};

bool validUtf8(const QByteArray& bytes)
{
    return QUtf8StringView(bytes).isValidUtf8();
}

// The bytes of the record that an action's incoming data starts at.
char* incomingData(CallbackRecord& record)
{
    return reinterpret_cast<char*>(&record) + offsetof(CallbackRecord, Data.Item.Text2);
}
} // namespace

class TestZipCallback : public QObject
{
    Q_OBJECT

private:
    TZipWorker* m_worker = nullptr;

private slots:
    void init()
    {
        m_worker = new TZipWorker(nullptr);
        m_worker->SetUnattended(true);
    }
    void cleanup() { delete m_worker; }

    void testNameReplies_data();
    void testNameReplies();
    void testCommentReply_data();
    void testCommentReply();
    void testExtraData_data();
    void testExtraData();
    void testQueries_data();
    void testQueries();
    void testSecondaryItems();
    void testWithoutHandlers();
};

// Actions 7 and 17: a changed name goes back in the reply area, at most 512 bytes and terminated.
void TestZipCallback::testNameReplies_data()
{
    QTest::addColumn<QString>("handler");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("expected");
    const QString e = QStringLiteral("é");
    QTest::newRow("new name, 512 characters") << "new" << QString(512, 'n') << QByteArray(512, 'n');
    QTest::newRow("new name, 513 characters") << "new" << QString(513, 'n') << QByteArray(512, 'n');
    QTest::newRow("new name, 300 two-byte characters") << "new" << e.repeated(300) << e.repeated(256).toUtf8();
    QTest::newRow("new name, a two-byte character at the limit")
        << "new" << QString(511, 'n') + e << QByteArray(511, 'n');
    QTest::newRow("add name, 513 characters") << "add" << QString(513, 'a') << QByteArray(512, 'a');
    QTest::newRow("extract name, 513 characters") << "ext" << QString(513, 'x') << QByteArray(512, 'x');
    QTest::newRow("extract name, the same") << "ext"
                                            << "entry.txt" << QByteArray();
    QTest::newRow("extract name, made a folder") << "ext"
                                                 << "entry.txt\\" << QByteArray();
}

void TestZipCallback::testNameReplies()
{
    QFETCH(QString, handler);
    QFETCH(QString, name);
    QFETCH(QByteArray, expected);
    auto rename = [&](QString& fileName, bool& changed) {
        fileName = name;
        changed = true;
    };
    Call call(handler == QLatin1String("ext") ? ZA_ExtractName : ZA_NewName);
    QString external;
    if (handler == QLatin1String("new"))
        m_worker->OnSetNewName = [&](QObject*, QString& fileName, bool& changed) { rename(fileName, changed); };
    if (handler == QLatin1String("add")) {
        call.second = "/home/user/entry.txt";
        call.record.Data.Item.Text2 = call.second.constData();
        m_worker->OnSetAddName = [&](QObject*, QString& fileName, const QString& givenExternal, bool& changed) {
            external = givenExternal;
            rename(fileName, changed);
        };
    }
    if (handler == QLatin1String("ext"))
        m_worker->OnSetExtName = [&](QObject*, QString& fileName, bool& changed) { rename(fileName, changed); };

    QCOMPARE(call.send(*m_worker), 0);
    if (handler == QLatin1String("add"))
        QCOMPARE(external, QStringLiteral("\\home\\user\\entry.txt"));
    if (expected.isEmpty()) {
        QCOMPARE(call.record.Action, int32_t(ZA_ExtractName));
        return;
    }
    QCOMPARE(call.record.Action, int32_t(ZE_CB_ACCEPT));
    QCOMPARE(call.reply(), expected);
    QVERIFY(validUtf8(call.reply()));
}

// Action 12: a changed comment goes back with its length, at most 511 bytes.
void TestZipCallback::testCommentReply_data()
{
    QTest::addColumn<QString>("comment");
    QTest::addColumn<QByteArray>("expected");
    const QString e = QStringLiteral("é");
    QTest::newRow("511 characters") << QString(511, 'c') << QByteArray(511, 'c');
    QTest::newRow("600 characters") << QString(600, 'c') << QByteArray(511, 'c');
    QTest::newRow("a two-byte character at the limit") << QString(510, 'c') + e << QByteArray(510, 'c');
    QTest::newRow("two-byte characters") << e.repeated(300) << e.repeated(255).toUtf8();
    QTest::newRow("emptied") << QString() << QByteArray();
}

void TestZipCallback::testCommentReply()
{
    QFETCH(QString, comment);
    QFETCH(QByteArray, expected);
    Call call(ZA_Comment);
    call.second = "the comment stored";
    call.record.Data.Item.Text2 = call.second.constData();
    QString seen;
    m_worker->OnFileComment = [&](QObject*, const QString&, QString& text, bool& changed) {
        seen = text;
        text = comment;
        changed = true;
    };
    QCOMPARE(call.send(*m_worker), 0);
    QCOMPARE(seen, QStringLiteral("the comment stored"));
    QCOMPARE(call.record.Action, int32_t(ZE_CB_ACCEPT));
    QCOMPARE(call.record.Arg1, int32_t(expected.size()));
    QCOMPARE(call.reply(), expected);
    QVERIFY(validUtf8(call.reply()));
}

// Action 14: the incoming extra data sits in the record; up to 511 bytes go back in the reply
// area, longer data by address.
void TestZipCallback::testExtraData_data()
{
    QTest::addColumn<int>("incoming");
    QTest::addColumn<int>("replied");
    QTest::newRow("8 in, 511 back") << 8 << 511;
    QTest::newRow("8 in, 512 back") << 8 << 512;
    QTest::newRow("8 in, none back") << 8 << 0;
    QTest::newRow("more claimed than the record holds") << 100000 << 4;
}

void TestZipCallback::testExtraData()
{
    QFETCH(int, incoming);
    QFETCH(int, replied);
    Call call(ZA_ExtraData);
    const qsizetype room = qsizetype(sizeof(CallbackRecord) - offsetof(CallbackRecord, Data.Item.Text2));
    std::memset(incomingData(call.record), 'i', size_t(room));
    call.record.Arg1 = incoming;
    const QByteArray answer(replied, 'r');
    QByteArray seen;
    m_worker->OnFileExtra = [&](QObject*, const QString&, QByteArray& data, bool& changed) {
        seen = data;
        data = answer;
        changed = true;
    };
    QCOMPARE(call.send(*m_worker), 0);
    QCOMPARE(seen, QByteArray(std::min<qsizetype>(incoming, room), 'i'));
    QCOMPARE(call.record.Action, int32_t(ZE_CB_ACCEPT));
    QCOMPARE(call.record.Arg1, int32_t(replied));
    if (replied <= 511)
        QCOMPARE(QByteArray(call.record.Data.Reply, replied), answer);
    else
        QCOMPARE(QByteArray(static_cast<const char*>(call.record.Data.Item.Text2), replied), answer);
}

// Actions 9 and 10: the handler's answer becomes the result.
void TestZipCallback::testQueries_data()
{
    QTest::addColumn<int>("action");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<int>("result");
    QTest::newRow("CRC error, extract anyway") << int(ZA_CrcError) << true << int(ZE_CB_ACCEPT);
    QTest::newRow("CRC error, skip") << int(ZA_CrcError) << false << int(ZE_CB_SKIP_ALL);
    QTest::newRow("overwrite") << int(ZA_Overwrite) << true << int(ZE_CB_ACCEPT);
    QTest::newRow("keep the file") << int(ZA_Overwrite) << false << int(ZE_CB_SKIP);
}

void TestZipCallback::testQueries()
{
    QFETCH(int, action);
    QFETCH(bool, answer);
    QFETCH(int, result);
    Call call(action);
    call.record.Arg1 = action == ZA_CrcError ? int32_t(0xDEADBEEF) : 1;
    call.record.Data.Item.Arg3 = action == ZA_CrcError ? 0x12345678 : 7;
    call.record.Data.Item.Arg4 = 2;
    QString seen;
    m_worker->OnCRC32Error = [&](QObject*, const QString& file, quint32 found, quint32 expected, bool& extract) {
        seen = QStringLiteral("%1 %2 %3 %4").arg(file).arg(found, 0, 16).arg(expected, 0, 16).arg(extract);
        extract = answer;
    };
    m_worker->OnExtractOverwrite = [&](QObject*, const QString& file, bool older, bool& overwrite, int index) {
        seen = QStringLiteral("%1 %2 %3 %4").arg(file).arg(older).arg(overwrite).arg(index);
        overwrite = answer;
    };
    QCOMPARE(call.send(*m_worker), 0);
    QCOMPARE(call.record.Action, int32_t(result));
    QCOMPARE(seen,
        action == ZA_CrcError ? QStringLiteral("entry.txt deadbeef 12345678 1") : QStringLiteral("entry.txt 0 1 7"));
}

// Actions 15 and 16: a secondary item named by its kind, and its progress.
void TestZipCallback::testSecondaryItems()
{
    QStringList seen;
    m_worker->OnItemProgress = [&](QObject*, const QString& item, quint32 size, int perCent) {
        seen << QStringLiteral("%1 %2 %3").arg(item).arg(size).arg(perCent);
    };
    Call item(ZA_NewSecondaryItem, QByteArray());
    item.record.Arg1 = 10;
    item.record.Data.Item.SizeLow = 1000;
    QCOMPARE(item.send(*m_worker), 0);
    Call progress(ZA_SecondaryProgress, QByteArray());
    progress.record.Data.Item.SizeLow = 250;
    QCOMPARE(progress.send(*m_worker), 0);
    const QString name = LoadMessageText(ZipMsg::ItemJoining);
    QCOMPARE(seen, QStringList({ name + " 1000 0", name + " 1000 25" }));
}

// Without a handler the record is left as the engine sent it.
void TestZipCallback::testWithoutHandlers()
{
    for (int action : { ZA_NewName, ZA_CrcError, ZA_Overwrite, ZA_Comment, ZA_ExtraData, ZA_ExtractName }) {
        Call call(action);
        call.record.Arg1 = 5;
        QCOMPARE(call.send(*m_worker), 0);
        QCOMPARE(call.record.Action, int32_t(action));
        QCOMPARE(call.record.Arg1, 5);
        QCOMPARE(call.reply(), QByteArray());
    }
}

QTEST_GUILESS_MAIN(TestZipCallback)
#include "TestZipCallback.moc"
