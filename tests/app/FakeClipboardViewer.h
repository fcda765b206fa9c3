#pragma once

#include "platform/ClipboardViewer.h"

// A clipboard the test controls: what it holds, whether a read fails, and how
// often the window subscribed. Changes are announced at once, on the caller's thread.
class FakeClipboardViewer : public ClipboardViewer
{
public:
    void start() override
    {
        ++starts;
        active = true;
        announce();
    }
    void stop() override
    {
        ++stops;
        active = false;
    }
    bool isActive() const override { return active; }

    // Announces what the fake holds as a change, read now.
    void announce()
    {
        ++reads;
        ClipboardContent read = content;
        if (failingReads > 0) {
            --failingReads;
            read = {};
            read.failed = true;
        }
        Q_EMIT changed(read);
    }

    // Copies a text, as another program would.
    void copy(const QString& text, bool secret = false)
    {
        content = {};
        content.hasText = true;
        content.text = text;
        content.secret = secret;
        if (active) {
            announce();
        }
    }

    // Copies an image, with or without a text beside it.
    void copyImage(const QImage& picture, const QString& text = QString())
    {
        content = {};
        content.hasText = !text.isNull();
        content.text = text;
        content.hasImage = true;
        content.image = picture;
        if (active) {
            announce();
        }
    }

    ClipboardContent content;
    int failingReads = 0;
    int starts = 0;
    int stops = 0;
    int reads = 0;
    bool active = false;
};
