#include "platform/ClipboardRead.h"

#include <QBuffer>
#include <QTest>

namespace
{
using Answer = ClipboardRead::Answer;

// What the owner does when asked for one form; a form with no reply is never answered.
struct Reply
{
    QByteArray form;
    Answer answer = Answer::Data;
    QByteArray data;
    QByteArray type;
};
using Replies = QList<Reply>;

Reply data(const QByteArray& form, const QByteArray& bytes, const QByteArray& type = {})
{
    return { form, Answer::Data, bytes, type.isEmpty() ? form : type };
}

Reply refused(const QByteArray& form)
{
    return { form, Answer::Refused, {}, {} };
}

QByteArray png()
{
    QImage image(3, 2, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QString describe(const ClipboardContent& content)
{
    QStringList flags;
    if (content.hasText) {
        flags << QStringLiteral("text=") + content.text;
    }
    if (content.secret) {
        flags << QStringLiteral("secret");
    }
    if (content.hasImage) {
        flags << (content.image.isNull() ? QStringLiteral("image?") : QStringLiteral("image"));
    }
    if (content.failed) {
        flags << QStringLiteral("failed");
    }
    if (content.tooLarge) {
        flags << QStringLiteral("tooLarge");
    }
    return flags.join(QLatin1Char(' '));
}
} // namespace

Q_DECLARE_METATYPE(Replies)

// The rules every clipboard watcher reads by, driven as a watcher drives them.
class TestClipboardRead : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void testReadOfOneChange_data();
    void testReadOfOneChange();
    void testOnlyTheLatestChangeFails();
    void testEmptyClipboardGivesNothing();
};

void TestClipboardRead::testReadOfOneChange_data()
{
    QTest::addColumn<bool>("formatsKnown");
    QTest::addColumn<QByteArrayList>("formats");
    // Forms the owner lists once it has been asked the first time (X11's TARGETS comes that way).
    QTest::addColumn<QByteArrayList>("lateFormats");
    QTest::addColumn<Replies>("replies");
    // Ends the read early, as a timeout does, once this many forms were asked.
    QTest::addColumn<int>("giveUpAfter");
    QTest::addColumn<QByteArrayList>("asked");
    QTest::addColumn<QString>("result");

    const QByteArrayList none;
    const QByteArrayList wayland = { "text/plain", "text/plain;charset=utf-8", "TEXT", "STRING", "UTF8_STRING" };
    QTest::newRow("Wayland text: the UTF-8 MIME type first")
        << true << wayland << none << Replies { data("text/plain;charset=utf-8", "h\xc3\xa9llo") } << -1
        << QByteArrayList { "text/plain;charset=utf-8" } << QStringLiteral("text=h\u00e9llo");
    QTest::newRow("MIME type in another case")
        << true << QByteArrayList { "text/plain;charset=UTF-8" } << none
        << Replies { data("text/plain;charset=utf-8", "a") } << -1 << QByteArrayList { "text/plain;charset=utf-8" }
        << QStringLiteral("text=a");
    QTest::newRow("refused forms give way to the next, Latin-1 by its type")
        << true << wayland << none
        << Replies { refused("text/plain;charset=utf-8"), refused("UTF8_STRING"), refused("text/plain"),
               data("STRING", "caf\xe9") }
        << -1 << QByteArrayList { "text/plain;charset=utf-8", "UTF8_STRING", "text/plain", "STRING" }
        << QStringLiteral("text=caf\u00e9");
    QTest::newRow("X11 owner: guessed at once, then by its list")
        << false << none << QByteArrayList { "TARGETS", "COMPOUND_TEXT" }
        << Replies { refused("UTF8_STRING"), data("COMPOUND_TEXT", "plain", "COMPOUND_TEXT") } << -1
        << QByteArrayList { "UTF8_STRING", "COMPOUND_TEXT" } << QStringLiteral("text=plain");
    QTest::newRow("X11 owner that lists nothing: the two common forms")
        << false << none << none << Replies { refused("UTF8_STRING"), data("STRING", "x") } << -1
        << QByteArrayList { "UTF8_STRING", "STRING" } << QStringLiteral("text=x");
    QTest::newRow("a value of a type that is no text is not taken for one")
        << true << QByteArrayList { "TEXT", "STRING" } << none
        << Replies { data("STRING", "\x1b$Bxx", "COMPOUND_TEXT"), data("TEXT", "ok", "UTF8_STRING") } << -1
        << QByteArrayList { "STRING", "TEXT" } << QStringLiteral("text=ok");
    QTest::newRow("a zero ends the text") << true << wayland << none
                                          << Replies { data("text/plain;charset=utf-8", QByteArray("one\0two", 7)) }
                                          << -1 << QByteArrayList { "text/plain;charset=utf-8" }
                                          << QStringLiteral("text=one");
    QTest::newRow("an empty text is a text") << true << wayland << none
                                             << Replies { data("text/plain;charset=utf-8", "") } << -1
                                             << QByteArrayList { "text/plain;charset=utf-8" } << QStringLiteral("text=");

    const QByteArrayList withHint = { "UTF8_STRING", ClipboardRead::PasswordManagerHint };
    QTest::newRow("secret hint") << true << withHint << none
                                 << Replies { data("UTF8_STRING", "pw"),
                                        data(ClipboardRead::PasswordManagerHint, "secret\n") }
                                 << -1 << QByteArrayList { "UTF8_STRING", ClipboardRead::PasswordManagerHint }
                                 << QStringLiteral("text= secret");
    QTest::newRow("a hint that cannot be read counts as secret")
        << true << withHint << none
        << Replies { data("UTF8_STRING", "pw"), refused(ClipboardRead::PasswordManagerHint) } << -1
        << QByteArrayList { "UTF8_STRING", ClipboardRead::PasswordManagerHint } << QStringLiteral("text= secret");
    QTest::newRow("a hint that never comes counts as secret")
        << true << withHint << none << Replies { data("UTF8_STRING", "pw") } << 2
        << QByteArrayList { "UTF8_STRING", ClipboardRead::PasswordManagerHint } << QStringLiteral("text= secret");
    QTest::newRow("another hint keeps the text")
        << true << withHint << none
        << Replies { data("UTF8_STRING", "pw"), data(ClipboardRead::PasswordManagerHint, "public") } << -1
        << QByteArrayList { "UTF8_STRING", ClipboardRead::PasswordManagerHint } << QStringLiteral("text=pw");

    const QByteArray image = png();
    QTest::newRow("text and image") << true << QByteArrayList { "image/bmp", "image/png", "UTF8_STRING" } << none
                                    << Replies { data("UTF8_STRING", "t"), data("image/png", image) } << -1
                                    << QByteArrayList { "UTF8_STRING", "image/png" }
                                    << QStringLiteral("text=t image");
    QTest::newRow("an image alone is no failed text")
        << true << QByteArrayList { "image/png" } << none << Replies { data("image/png", image) } << -1
        << QByteArrayList { "image/png" } << QStringLiteral("image");
    QTest::newRow("an image that does not decode") << true << QByteArrayList { "image/png" } << none
                                                   << Replies { data("image/png", "not a png") } << -1
                                                   << QByteArrayList { "image/png" } << QStringLiteral("image?");
    QTest::newRow("an image from a later owner is dropped, the text stays")
        << true << QByteArrayList { "UTF8_STRING", "image/png" } << none
        << Replies { data("UTF8_STRING", "t"), { "image/png", Answer::Foreign, image, "image/png" } } << -1
        << QByteArrayList { "UTF8_STRING", "image/png" } << QStringLiteral("text=t image?");

    QTest::newRow("offered text that never arrives fails")
        << true << QByteArrayList { "UTF8_STRING", "image/png" } << none << Replies { refused("UTF8_STRING") } << -1
        << QByteArrayList { "UTF8_STRING", "image/png" } << QStringLiteral("failed");
    QTest::newRow("an owner that never answers fails") << false << none << none << Replies {} << 1
                                                       << QByteArrayList { "UTF8_STRING" } << QStringLiteral("failed");
    QTest::newRow("part of a text, then silence: nothing, and no retry")
        << true << wayland << none << Replies { { "text/plain;charset=utf-8", Answer::Broken, "par", {} } } << -1
        << QByteArrayList { "text/plain;charset=utf-8" } << QString();
    QTest::newRow("a text over the limit is reported, never taken")
        << true << wayland << none << Replies { { "text/plain;charset=utf-8", Answer::TooLarge, {}, {} } } << -1
        << QByteArrayList { "text/plain;charset=utf-8" } << QStringLiteral("tooLarge");
    QTest::newRow("a text from a later owner is never taken for this change")
        << true << wayland << none
        << Replies { { "text/plain;charset=utf-8", Answer::Foreign, "later", "text/plain;charset=utf-8" } } << -1
        << QByteArrayList { "text/plain;charset=utf-8" } << QString();
}

void TestClipboardRead::testReadOfOneChange()
{
    QFETCH(bool, formatsKnown);
    QFETCH(QByteArrayList, formats);
    QFETCH(QByteArrayList, lateFormats);
    QFETCH(Replies, replies);
    QFETCH(int, giveUpAfter);
    QFETCH(QByteArrayList, asked);
    QFETCH(QString, result);

    ClipboardRead read(42);
    if (formatsKnown) {
        read.setFormats({ formats.begin(), formats.end() });
    }
    QByteArrayList askedNow;
    for (QByteArray form = read.next(); !form.isEmpty(); form = read.next()) {
        askedNow << form;
        QVERIFY2(askedNow.size() < 20, "the read never ends");
        const auto reply = std::find_if(
            replies.begin(), replies.end(), [&](const Reply& candidate) { return candidate.form == form; });
        if (askedNow.size() == giveUpAfter || reply == replies.end()) {
            read.giveUp(false);
            continue;
        }
        read.answer(form, reply->answer, reply->data, reply->type);
        if (!lateFormats.isEmpty() && askedNow.size() == 1) {
            read.setFormats({ lateFormats.begin(), lateFormats.end() });
        }
    }
    QCOMPARE(askedNow, asked);
    const ClipboardContent content = read.result(true);
    QCOMPARE(describe(content), result);
    QCOMPARE(content.timestamp, 42u);
}

void TestClipboardRead::testOnlyTheLatestChangeFails()
{
    // A fresh read would find a later change's text, which brings its own notice.
    ClipboardRead read;
    read.setFormats({ "UTF8_STRING" });
    QCOMPARE(read.next(), QByteArray("UTF8_STRING"));
    read.giveUp(false);
    QVERIFY(read.result(true).failed);
    QVERIFY(!read.result(false).failed);
    QVERIFY(!read.result(false).hasText);
}

void TestClipboardRead::testEmptyClipboardGivesNothing()
{
    ClipboardRead read = ClipboardRead::empty(7);
    QVERIFY(read.next().isEmpty());
    QCOMPARE(describe(read.result(true)), QString());
}

QTEST_GUILESS_MAIN(TestClipboardRead)
#include "TestClipboardRead.moc"
