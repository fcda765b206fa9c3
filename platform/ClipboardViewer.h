#pragma once

#include <QImage>
#include <QObject>
#include <QString>

// What one look at the clipboard found.
struct ClipboardContent
{
    bool hasText = false;
    QString text;
    // A password manager marked the text as secret; it must not be recorded.
    bool secret = false;
    bool hasImage = false;
};

// A subscription to changes of the system clipboard (not the primary
// selection). start() delivers one notice at once, synchronously, so the
// current contents count as a change; afterwards every change delivers one
// notice on the GUI thread until stop().
class ClipboardViewer : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    virtual void start() = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;

    // False when the clipboard could not be read at all.
    virtual bool read(ClipboardContent* content) = 0;
    virtual QImage readImage() = 0;

Q_SIGNALS:
    void changed();
};

// The system clipboard through Qt (X11 CLIPBOARD selection).
class SystemClipboardViewer final : public ClipboardViewer
{
    Q_OBJECT

public:
    using ClipboardViewer::ClipboardViewer;

    void start() override;
    void stop() override;
    bool isActive() const override { return m_connection; }
    bool read(ClipboardContent* content) override;
    QImage readImage() override;

private:
    QMetaObject::Connection m_connection;
};
