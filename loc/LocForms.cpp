#include "loc/LocForms.h"

#include "loc/LocModules.h"

#include <QAction>
#include <QComboBox>
#include <QFont>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QMap>
#include <QMetaProperty>
#include <QPlainTextEdit>
#include <QRect>
#include <QTabWidget>
#include <QTextEdit>
#include <QTreeWidget>
#include <QWidget>
#include <QXmlStreamReader>

#include <cmath>

namespace
{
struct Value
{
    QString type; // string, number, bool, enum, set, font, size, rect, ...
    QString text;
    QMap<QString, QString> fields;
};

struct Assignment
{
    enum Kind { Property, Attribute, Column, Item };
    Kind kind = Property;
    bool root = false;
    QString objectName;
    QString objectClass;
    QString parentName; // the enclosing widget, for attributes such as a page's tab title
    QString name;
    int index = 0;
    Value value;
};

// Properties that hold what the user did rather than what was designed.
bool isUserState(const QObject* object, const QString& name, bool root)
{
    static const QStringList always { QStringLiteral("objectName"), QStringLiteral("currentIndex"),
        QStringLiteral("checked"), QStringLiteral("value"), QStringLiteral("plainText"), QStringLiteral("html") };
    if (always.contains(name) || (root && name == QLatin1String("geometry"))) {
        return true;
    }
    return name == QLatin1String("text")
        && (qobject_cast<const QLineEdit*>(object) || qobject_cast<const QPlainTextEdit*>(object)
            || qobject_cast<const QTextEdit*>(object) || qobject_cast<const QComboBox*>(object));
}

class DescriptionParser
{
public:
    explicit DescriptionParser(const QByteArray& data)
        : FReader(data)
    { }

    QList<Assignment> parse()
    {
        if (!FReader.readNextStartElement() || FReader.name() != QLatin1String("ui")) {
            FReader.raiseError(QStringLiteral("not a window description"));
        }
        bool rootSeen = false;
        while (!FReader.hasError() && FReader.readNextStartElement()) {
            if (FReader.name() == QLatin1String("widget") && !rootSeen) {
                rootSeen = true;
                parseWidget(QString(), true);
            } else if (FReader.name() == QLatin1String("action")) {
                parseAction();
            } else {
                FReader.skipCurrentElement();
            }
        }
        return FAssignments;
    }

    bool hasError() const { return FReader.hasError(); }
    QString errorString() const
    {
        return QStringLiteral("%1 (line %2)").arg(FReader.errorString()).arg(FReader.lineNumber());
    }

private:
    // Raises an error on nesting no window has; the parser recurses.
    bool enter()
    {
        if (++FDepth > MaxDepth) {
            FReader.raiseError(QStringLiteral("nesting too deep"));
            return false;
        }
        return true;
    }

    void parseWidget(const QString& parentName, bool root)
    {
        if (!enter()) {
            return;
        }
        const QString className = FReader.attributes().value(QLatin1String("class")).toString();
        const QString name = FReader.attributes().value(QLatin1String("name")).toString();
        int column = 0;
        int item = 0;
        while (!FReader.hasError() && FReader.readNextStartElement()) {
            const auto tag = FReader.name();
            if (tag == QLatin1String("property") || tag == QLatin1String("attribute")) {
                Assignment assignment;
                assignment.kind = tag == QLatin1String("property") ? Assignment::Property : Assignment::Attribute;
                assignment.root = root;
                assignment.objectName = name;
                assignment.objectClass = className;
                assignment.parentName = parentName;
                assignment.name = FReader.attributes().value(QLatin1String("name")).toString();
                assignment.value = parseValue();
                FAssignments.append(assignment);
            } else if (tag == QLatin1String("column") || tag == QLatin1String("item")) {
                const bool isColumn = tag == QLatin1String("column");
                parseEntry(
                    isColumn ? Assignment::Column : Assignment::Item, name, className, isColumn ? column++ : item++);
            } else if (tag == QLatin1String("widget")) {
                parseWidget(name, false);
            } else if (tag == QLatin1String("layout")) {
                parseLayout(name);
            } else if (tag == QLatin1String("action")) {
                parseAction();
            } else {
                FReader.skipCurrentElement();
            }
        }
        --FDepth;
    }

    void parseLayout(const QString& ownerName)
    {
        if (!enter()) {
            return;
        }
        while (!FReader.hasError() && FReader.readNextStartElement()) {
            if (FReader.name() == QLatin1String("item")) {
                while (!FReader.hasError() && FReader.readNextStartElement()) {
                    if (FReader.name() == QLatin1String("widget")) {
                        parseWidget(ownerName, false);
                    } else if (FReader.name() == QLatin1String("layout")) {
                        parseLayout(ownerName);
                    } else {
                        FReader.skipCurrentElement();
                    }
                }
            } else {
                FReader.skipCurrentElement();
            }
        }
        --FDepth;
    }

    void parseAction()
    {
        const QString name = FReader.attributes().value(QLatin1String("name")).toString();
        while (!FReader.hasError() && FReader.readNextStartElement()) {
            if (FReader.name() == QLatin1String("property")) {
                Assignment assignment;
                assignment.objectName = name;
                assignment.objectClass = QStringLiteral("QAction");
                assignment.name = FReader.attributes().value(QLatin1String("name")).toString();
                assignment.value = parseValue();
                FAssignments.append(assignment);
            } else {
                FReader.skipCurrentElement();
            }
        }
    }

    void parseEntry(Assignment::Kind kind, const QString& name, const QString& className, int index)
    {
        while (!FReader.hasError() && FReader.readNextStartElement()) {
            if (FReader.name() == QLatin1String("property")) {
                Assignment assignment;
                assignment.kind = kind;
                assignment.objectName = name;
                assignment.objectClass = className;
                assignment.index = index;
                assignment.name = FReader.attributes().value(QLatin1String("name")).toString();
                assignment.value = parseValue();
                FAssignments.append(assignment);
            } else {
                FReader.skipCurrentElement();
            }
        }
    }

    // The one element inside a property; compound values keep their fields.
    Value parseValue()
    {
        Value value;
        while (!FReader.hasError() && FReader.readNextStartElement()) {
            value.type = FReader.name().toString();
            static const QStringList compound { QStringLiteral("font"), QStringLiteral("size"), QStringLiteral("rect"),
                QStringLiteral("point") };
            if (compound.contains(value.type)) {
                while (!FReader.hasError() && FReader.readNextStartElement()) {
                    const QString field = FReader.name().toString();
                    value.fields.insert(field, FReader.readElementText());
                }
            } else {
                value.text = FReader.readElementText(QXmlStreamReader::SkipChildElements);
            }
        }
        return value;
    }

    static constexpr int MaxDepth = 256;
    QXmlStreamReader FReader;
    QList<Assignment> FAssignments;
    int FDepth = 0;
};

int field(const Value& value, const char* name)
{
    return value.fields.value(QLatin1String(name)).toInt();
}

// Qt's largest widget size (QWIDGETSIZE_MAX): far beyond any screen, and a position plus a size stays far from
// overflowing.
constexpr int MaxCoordinate = (1 << 24) - 1;
constexpr int MaxPointSize = 1000;

bool withinRange(const QString& text, int low, int high)
{
    bool ok = false;
    const int number = text.toInt(&ok);
    return ok && number >= low && number <= high;
}

// Whether a value from a library can be used as it stands: numbers are numbers, and
// positions, sizes and font sizes lie within what a window can have.
bool usable(const Value& value)
{
    const QString& t = value.type;
    if (t == QLatin1String("number")) {
        bool ok = false;
        value.text.toInt(&ok);
        return ok;
    }
    if (t == QLatin1String("double")) {
        bool ok = false;
        return std::isfinite(value.text.toDouble(&ok)) && ok;
    }
    if (t == QLatin1String("size") || t == QLatin1String("rect") || t == QLatin1String("point")) {
        for (auto it = value.fields.begin(); it != value.fields.end(); ++it) {
            const bool extent = it.key() == QLatin1String("width") || it.key() == QLatin1String("height");
            if (!withinRange(it.value(), extent ? 0 : -MaxCoordinate, MaxCoordinate)) {
                return false;
            }
        }
        return true;
    }
    if (t == QLatin1String("font") && value.fields.contains(QStringLiteral("pointsize"))) {
        return withinRange(value.fields.value(QStringLiteral("pointsize")), 1, MaxPointSize);
    }
    return true;
}

QList<Assignment> checkedAssignments(const QByteArray& description, const QString& resourceName)
{
    DescriptionParser parser(description);
    const QList<Assignment> assignments = parser.parse();
    if (parser.hasError()) {
        throw EReadError(QStringLiteral("Invalid window description %1: %2").arg(resourceName, parser.errorString()));
    }
    for (const Assignment& assignment : assignments) {
        if (!usable(assignment.value)) {
            throw EReadError(QStringLiteral("Invalid window description %1: %2 of %3 is out of range")
                                 .arg(resourceName, assignment.name, assignment.objectName));
        }
    }
    return assignments;
}

std::optional<QVariant> toVariant(const QObject* object, const QString& propertyName, const Value& value)
{
    const QMetaObject* meta = object->metaObject();
    const int index = meta->indexOfProperty(propertyName.toLatin1().constData());
    const QString& t = value.type;
    if (t == QLatin1String("string")) {
        return QVariant(value.text);
    }
    if (t == QLatin1String("cstring")) {
        return QVariant(value.text.toUtf8());
    }
    if (t == QLatin1String("number")) {
        return QVariant(value.text.toInt());
    }
    if (t == QLatin1String("double")) {
        return QVariant(value.text.toDouble());
    }
    if (t == QLatin1String("bool")) {
        return QVariant(value.text == QLatin1String("true"));
    }
    if (t == QLatin1String("size")) {
        return QVariant(QSize(field(value, "width"), field(value, "height")));
    }
    if (t == QLatin1String("point")) {
        return QVariant(QPoint(field(value, "x"), field(value, "y")));
    }
    if (t == QLatin1String("rect")) {
        return QVariant(QRect(field(value, "x"), field(value, "y"), field(value, "width"), field(value, "height")));
    }
    if (t == QLatin1String("font")) {
        QFont font = object->property("font").value<QFont>();
        if (value.fields.contains(QStringLiteral("family"))) {
            font.setFamilies({ value.fields.value(QStringLiteral("family")) });
        }
        if (const int points = field(value, "pointsize"); points > 0) {
            font.setPointSize(points);
        }
        const auto flag
            = [&value](const char* name) { return value.fields.value(QLatin1String(name)) == QLatin1String("true"); };
        if (value.fields.contains(QStringLiteral("bold"))) {
            font.setBold(flag("bold"));
        }
        if (value.fields.contains(QStringLiteral("italic"))) {
            font.setItalic(flag("italic"));
        }
        if (value.fields.contains(QStringLiteral("underline"))) {
            font.setUnderline(flag("underline"));
        }
        return QVariant(font);
    }
    if ((t == QLatin1String("enum") || t == QLatin1String("set")) && index >= 0) {
        const QMetaProperty property = meta->property(index);
        if (!property.isEnumType()) {
            return std::nullopt;
        }
        QStringList keys;
        for (const QString& key : value.text.split(QLatin1Char('|'), Qt::SkipEmptyParts)) {
            keys << key.trimmed().section(QStringLiteral("::"), -1);
        }
        bool ok = false;
        const int number = property.enumerator().keysToValue(keys.join(QLatin1Char('|')).toLatin1().constData(), &ok);
        return ok ? std::optional<QVariant>(QVariant(number)) : std::nullopt;
    }
    return std::nullopt;
}

QObject* findObject(QWidget* window, const Assignment& assignment)
{
    QObject* object = assignment.root ? window : window->findChild<QObject*>(assignment.objectName);
    if (object == nullptr
        || (!assignment.objectClass.isEmpty() && !object->inherits(assignment.objectClass.toLatin1()))) {
        return nullptr;
    }
    return object;
}

void applyProperty(QObject* object, const Assignment& assignment)
{
    if (isUserState(object, assignment.name, assignment.root)) {
        return;
    }
    const QByteArray name = assignment.name.toLatin1();
    const bool designed = object->metaObject()->indexOfProperty(name.constData()) >= 0;
    // A description may set the window's dynamic properties again but never add new ones.
    if (!designed && !object->dynamicPropertyNames().contains(name)) {
        return;
    }
    if (const std::optional<QVariant> value = toVariant(object, assignment.name, assignment.value)) {
        object->setProperty(name.constData(), *value);
    }
}

void applyAttribute(QWidget* window, QObject* object, const Assignment& assignment)
{
    const QString text = assignment.value.text;
    if (auto* page = qobject_cast<QWidget*>(object); page && !assignment.parentName.isEmpty()) {
        if (auto* tabs = window->findChild<QTabWidget*>(assignment.parentName)) {
            const int index = tabs->indexOf(page);
            if (index >= 0 && assignment.name == QLatin1String("title")) {
                tabs->setTabText(index, text);
            } else if (index >= 0 && assignment.name == QLatin1String("toolTip")) {
                tabs->setTabToolTip(index, text);
            }
        }
    }
    if (auto* view = qobject_cast<QTreeView*>(object)) {
        const bool on = text == QLatin1String("true");
        if (assignment.name == QLatin1String("headerStretchLastSection")) {
            view->header()->setStretchLastSection(on);
        } else if (assignment.name == QLatin1String("headerVisible")) {
            view->header()->setVisible(on);
        }
    }
}

void applyEntry(QObject* object, const Assignment& assignment)
{
    if (assignment.value.type != QLatin1String("string")) {
        return;
    }
    const QString& text = assignment.value.text;
    const bool isText = assignment.name == QLatin1String("text");
    if (auto* tree = qobject_cast<QTreeWidget*>(object); tree && assignment.kind == Assignment::Column) {
        if (assignment.index < tree->columnCount()) {
            if (isText) {
                tree->headerItem()->setText(assignment.index, text);
            } else if (assignment.name == QLatin1String("toolTip")) {
                tree->headerItem()->setToolTip(assignment.index, text);
            }
        }
    } else if (auto* combo = qobject_cast<QComboBox*>(object); combo && isText && assignment.kind == Assignment::Item) {
        if (assignment.index < combo->count()) {
            combo->setItemText(assignment.index, text);
        }
    } else if (auto* list = qobject_cast<QListWidget*>(object); list && isText && assignment.kind == Assignment::Item) {
        if (assignment.index < list->count()) {
            list->item(assignment.index)->setText(text);
        }
    }
}
} // namespace

void CheckWindowDescription(const QByteArray& description, const QString& resourceName)
{
    checkedAssignments(description, resourceName);
}

void ApplyWindowDescription(QWidget* window, const QByteArray& description, const QString& resourceName)
{
    const QList<Assignment> assignments = checkedAssignments(description, resourceName);
    for (const Assignment& assignment : assignments) {
        QObject* object = findObject(window, assignment);
        if (object == nullptr) {
            continue;
        }
        switch (assignment.kind) {
        case Assignment::Property:
            applyProperty(object, assignment);
            break;
        case Assignment::Attribute:
            applyAttribute(window, object, assignment);
            break;
        case Assignment::Column:
        case Assignment::Item:
            applyEntry(object, assignment);
            break;
        }
    }
}
