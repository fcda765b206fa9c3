#include "LocFixture.h"

#include "ui_vlmx_main.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QTabWidget>
#include <QTreeWidget>
#include <QtTest>

using namespace LocFixture;

// Stands in for the program's window: same class name, same description.
class TFMain : public QMainWindow
{
    Q_OBJECT

public:
    TFMain() { ui.setupUi(this); }
    Ui::TFMain ui;
};

namespace
{
using Texts = QMap<QString, QString>;

// An action without a tool tip of its own shows its text.
bool isDerivedToolTip(const QObject* object, const char* property)
{
    const auto* action = qobject_cast<const QAction*>(object);
    return action && qstrcmp(property, "toolTip") == 0
        && action->toolTip() == QString(action->text()).remove(QLatin1Char('&'));
}

// Every text the description sets, by object and property.
Texts textsOf(QWidget* window)
{
    Texts texts;
    texts.insert(QStringLiteral("window/windowTitle"), window->windowTitle());
    for (QObject* object : window->findChildren<QObject*>()) {
        const QString name = object->objectName();
        if (name.isEmpty() || name.startsWith(QLatin1String("qt_"))) {
            continue;
        }
        for (const char* property : { "text", "toolTip", "statusTip", "title" }) {
            const QVariant value = object->property(property);
            if (value.typeId() == QMetaType::QString && !value.toString().isEmpty() && !qobject_cast<QLineEdit*>(object)
                && !qobject_cast<QPlainTextEdit*>(object) && !isDerivedToolTip(object, property)) {
                texts.insert(name + QLatin1Char('/') + QLatin1String(property), value.toString());
            }
        }
        if (auto* tabs = qobject_cast<QTabWidget*>(object)) {
            for (int i = 0; i < tabs->count(); ++i) {
                texts.insert(tabs->widget(i)->objectName() + QStringLiteral("/tab"), tabs->tabText(i));
            }
        }
        if (auto* tree = qobject_cast<QTreeWidget*>(object)) {
            for (int i = 0; i < tree->columnCount(); ++i) {
                texts.insert(name + QStringLiteral("/column%1").arg(i), tree->headerItem()->text(i));
            }
        }
    }
    return texts;
}

QHash<QString, QString> translationTable(const QString& language)
{
    QFile file(QStringLiteral(VELLUMIX_LOC_TRANSLATIONS "/") + language + QStringLiteral(".tsv"));
    QHash<QString, QString> table;
    if (!file.open(QIODevice::ReadOnly)) {
        return table;
    }
    for (const QByteArray& line : file.readAll().split('\n')) {
        const qsizetype tab = line.indexOf('\t');
        if (tab > 0 && !line.startsWith('#') && !line.startsWith('@')) {
            table.insert(QString::fromUtf8(line.left(tab)), QString::fromUtf8(line.mid(tab + 1)));
        }
    }
    return table;
}

QSet<QObject*> objectsOf(QWidget* window)
{
    const QList<QObject*> children = window->findChildren<QObject*>();
    return QSet<QObject*>(children.begin(), children.end());
}
} // namespace

class TestLocSwitch : public QObject
{
    Q_OBJECT

private slots:
    void testSwitchTranslatesEveryText_data();
    void testSwitchTranslatesEveryText();
    void testUserStateSurvives();
    void testForeignDescriptions_data();
    void testForeignDescriptions();
};

void TestLocSwitch::testSwitchTranslatesEveryText_data()
{
    QTest::addColumn<QString>("language");
    for (const char* language : { "DEU", "FRA", "ESP", "TRK", "AFK" }) {
        QTest::newRow(language) << QString::fromLatin1(language);
    }
}

void TestLocSwitch::testSwitchTranslatesEveryText()
{
    QFETCH(QString, language);
    ExeFolder exe;
    QVERIFY(exe.copyLibrary(language));
    TFMain window;
    window.show();
    const Texts english = textsOf(&window);
    QVERIFY(english.size() > 40);
    const QHash<QString, QString> table = translationTable(language);
    QVERIFY(!table.isEmpty());

    QMenu* session = window.ui.mnuMainSession;
    exe.Utils.PopulateMenu(session, 1, 0);
    const QSet<QObject*> objects = objectsOf(&window);
    QAction* chosen = session->actions().last();
    QVERIFY(chosen->text() != QLatin1String("English"));
    chosen->trigger();

    const Texts translated = textsOf(&window);
    for (auto it = english.begin(); it != english.end(); ++it) {
        QVERIFY2(table.contains(it.value()), qPrintable(it.key()));
        QCOMPARE(translated.value(it.key()), table.value(it.value()));
    }
    QCOMPARE(window.ui.tabAbout->objectName(), QStringLiteral("tabAbout"));

    session->actions().at(2)->trigger(); // entry 0, after "&New" and "E&xit"
    QCOMPARE(textsOf(&window), english);
    QVERIFY(LocModules::openLibraries().isEmpty());
    QCOMPARE(objectsOf(&window) - objects, QSet<QObject*> {});
    QCOMPARE(objects - objectsOf(&window), QSet<QObject*> {});
}

// What the user changed is not part of the description and stays as it is.
void TestLocSwitch::testUserStateSurvives()
{
    ExeFolder exe;
    TFMain window;
    window.show();
    window.setGeometry(50, 60, 900, 700);
    window.ui.pageMain->setCurrentWidget(window.ui.tabAbout);
    window.ui.chkClipTimeStamp->setChecked(true);
    window.ui.txtFindText->setText(QStringLiteral("needle"));
    window.ui.log->setPlainText(QStringLiteral("journal"));
    window.ui.lvDropLog->setColumnWidth(0, 333);
    const QRect geometry = window.geometry();

    exe.Utils.SwitchMode = 0;
    exe.Utils.SwitchTo(builtLibrary(QStringLiteral("FRA")));
    QCOMPARE(window.ui.tabAbout->windowTitle(), QString());
    QCOMPARE(window.ui.pageMain->tabText(window.ui.pageMain->indexOf(window.ui.tabAbout)), QStringLiteral("À &propos"));
    QCOMPARE(window.ui.pageMain->currentWidget(), window.ui.tabAbout);
    QVERIFY(window.ui.chkClipTimeStamp->isChecked());
    QCOMPARE(window.ui.txtFindText->text(), QStringLiteral("needle"));
    QCOMPARE(window.ui.log->toPlainText(), QStringLiteral("journal"));
    QCOMPARE(window.geometry(), geometry);
    QCOMPARE(window.ui.log->font().family(), QStringLiteral("Fixedsys"));
}

void TestLocSwitch::testForeignDescriptions_data()
{
    QTest::addColumn<QByteArray>("description");
    QTest::addColumn<bool>("fails");

    QTest::newRow("not XML") << QByteArray("\x00\xFF garbage", 10) << true;
    QTest::newRow("cut short") << QByteArray(
        "<ui><widget class=\"QMainWindow\" name=\"TFMain\"><property name=\"windowTitle\"><string>x")
                               << true;
    QTest::newRow("deeply nested") << QByteArray("<ui><widget class=\"QMainWindow\" name=\"TFMain\">")
            + QByteArray("<widget class=\"QWidget\" name=\"w\">").repeated(5000)
                                   << true;
    QTest::newRow("a position past any screen") << QByteArray(
        "<ui><widget class=\"QMainWindow\" name=\"TFMain\"><widget class=\"QPushButton\" name=\"cmdDocs\">"
        "<property name=\"geometry\"><rect><x>2147483647</x><y>0</y><width>75</width><height>24</height></rect>"
        "</property></widget></widget></ui>") << true;
    QTest::newRow("a negative size") << QByteArray(
        "<ui><widget class=\"QMainWindow\" name=\"TFMain\"><widget class=\"QPushButton\" name=\"cmdDocs\">"
        "<property name=\"minimumSize\"><size><width>-2147483648</width><height>9</height></size></property>"
        "</widget></widget></ui>") << true;
    QTest::newRow("a font of a million points")
        << QByteArray("<ui><widget class=\"QMainWindow\" name=\"TFMain\"><property name=\"font\"><font>"
                      "<pointsize>1000000</pointsize></font></property></widget></ui>")
        << true;
    QTest::newRow("unknown names, wrong classes and odd values") << QByteArray(
        "<ui><widget class=\"QMainWindow\" name=\"TFMain\">"
        "<widget class=\"QPushButton\" name=\"log\"><property "
        "name=\"text\"><string>hijacked</string></property></widget>"
        "<widget class=\"QLabel\" name=\"nowhere\"><property name=\"text\"><string>lost</string></property></widget>"
        "<widget class=\"QCheckBox\" name=\"chkClipAsleep\"><property name=\"text\"><number>12</number></property>"
        "<property name=\"layoutDirection\"><enum>Qt::NoSuchThing</enum></property>"
        "<property name=\"newDynamic\"><string>added</string></property></widget>"
        "<widget class=\"QTreeWidget\" name=\"lvDropLog\"><column/><column/><column><property name=\"text\">"
        "<string>third</string></property></column></widget>"
        "<widget class=\"QCheckBox\" name=\"chkClipTimeStamp\"><property "
        "name=\"text\"><string>Zeit</string></property></widget>"
        "</widget></ui>") << false;
}

// A library's description names controls; it can neither add nor retype them, and a
// broken one, or one with values no window can have, is refused and changes nothing.
void TestLocSwitch::testForeignDescriptions()
{
    QFETCH(QByteArray, description);
    QFETCH(bool, fails);
    ExeFolder exe;
    const QString path = exe.path(QStringLiteral("vellumix.FOR"));
    QVERIFY(makeLibrary(path,
        { { QStringLiteral("LOC_LIBSETTINGS_"), record("LDLL", 9, 1031, "Fremd") },
            { QStringLiteral("TFMAIN"), description } }));
    TFMain window;
    const Texts english = textsOf(&window);
    const QSet<QObject*> objects = objectsOf(&window);
    const quint32 language = exe.Utils.GetCurrentInfo().LangId;
    exe.Utils.SwitchMode = 0;
    try {
        exe.Utils.SwitchTo(path);
        QVERIFY(!fails);
    } catch (const ELULoadResLibError& e) {
        QVERIFY2(fails, qPrintable(e.message()));
        QCOMPARE(e.message(), QStringLiteral("Error loading resource file \"%1\"").arg(path));
        QCOMPARE(textsOf(&window), english);
        QCOMPARE(exe.Utils.GetCurrentInfo().LangId, language);
    }
    if (!fails) {
        QCOMPARE(window.ui.chkClipTimeStamp->text(), QStringLiteral("Zeit"));
        QCOMPARE(window.ui.chkClipAsleep->text(), QStringLiteral("12"));
        QVERIFY(!window.ui.chkClipAsleep->property("newDynamic").isValid());
        QCOMPARE(window.ui.lvDropLog->columnCount(), 2);
        QCOMPARE(window.ui.log->toPlainText(), QString());
    }
    QCOMPARE(objectsOf(&window), objects);
}

QTEST_MAIN(TestLocSwitch)
#include "TestLocSwitch.moc"
