#pragma once

#include <QImage>
#include <QMetaType>
#include <QObject>
#include <QString>

#include <memory>

// What was read of one change of the clipboard.
struct ClipboardContent
{
    bool hasText = false;
    // Ends at its first zero character, as a C string on the clipboard does.
    QString text;
    // A password manager marked the text as secret; it must not be recorded (and is not carried).
    bool secret = false;
    bool hasImage = false;
    // Null when the image offered could not be fetched or decoded.
    QImage image;
    // The text could not be read, nothing of it arrived, and the change is still the latest:
    // a fresh subscription may read it after all.
    bool failed = false;
    // A text larger than the viewer takes was offered; nothing of it is carried.
    bool tooLarge = false;
    // The owner's selection time of the change (X server milliseconds), 0 when unknown.
    quint32 timestamp = 0;
};
Q_DECLARE_METATYPE(ClipboardContent)

// A subscription to changes of the system clipboard (not the primary
// selection). start() announces the contents there now as a change; from
// then on each change is announced once, in the order of the changes, with
// what was read of it, on the GUI thread. Nothing is announced after stop().
class ClipboardViewer : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    virtual void start() = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;

    // One copy's text (or image) is read up to this size; a larger one gives no entry but tooLarge.
    static constexpr qsizetype MaxTextBytes = qsizetype(128) << 20;

    enum class Kind { Wayland, X11, Qt };
    // Which watcher this session gets: in a Wayland session whose compositor offers data-control
    // the Wayland watcher alone (so no copy arrives twice, once more through Xwayland); else the
    // X11 watcher when Qt runs on xcb, else Qt's clipboard.
    static Kind sessionKind();
    static std::unique_ptr<ClipboardViewer> create();

Q_SIGNALS:
    void changed(const ClipboardContent& content);
    // The display server or compositor went away, as at the end of the session; nothing more comes.
    void desktopEnded();
};

// The clipboard through Qt, read on the GUI thread; for platforms other than X11.
class SystemClipboardViewer final : public ClipboardViewer
{
    Q_OBJECT

public:
    using ClipboardViewer::ClipboardViewer;

    void start() override;
    void stop() override;
    bool isActive() const override { return m_connection; }

private:
    ClipboardContent read() const;

    QMetaObject::Connection m_connection;
};
