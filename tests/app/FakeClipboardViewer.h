#pragma once

#include "platform/ClipboardViewer.h"

// A clipboard the test controls: what it holds, whether a read fails, and how
// often the window subscribed.
class FakeClipboardViewer : public ClipboardViewer
{
public:
    void start() override
    {
        ++starts;
        active = true;
        Q_EMIT changed();
    }
    void stop() override
    {
        ++stops;
        active = false;
    }
    bool isActive() const override { return active; }
    bool read(ClipboardContent* out) override
    {
        ++reads;
        if (failingReads > 0) {
            --failingReads;
            return false;
        }
        *out = content;
        return true;
    }
    QImage readImage() override { return image; }

    // Copies a text, as another program would.
    void copy(const QString& text, bool secret = false)
    {
        content = {};
        content.hasText = true;
        content.text = text;
        content.secret = secret;
        image = {};
        if (active) {
            Q_EMIT changed();
        }
    }

    // Copies an image, with or without a text beside it.
    void copyImage(const QImage& picture, const QString& text = QString())
    {
        content = {};
        content.hasText = !text.isNull();
        content.text = text;
        content.hasImage = true;
        image = picture;
        if (active) {
            Q_EMIT changed();
        }
    }

    ClipboardContent content;
    QImage image;
    int failingReads = 0;
    int starts = 0;
    int stops = 0;
    int reads = 0;
    bool active = false;
};
