#pragma once

#include "platform/ClipboardViewer.h"

#include <QByteArray>

#include <vector>

// What is read of one clipboard change and how it is judged, whatever carries the questions:
// which form of the text to ask for first, the password manager's hint, one image, decoding,
// and the rules that make one change give at most one entry. The watchers only ask the owner
// for what next() names and bring back its answers; forms are named as the clipboard names
// them (X11 targets and Wayland MIME types share their names).
class ClipboardRead
{
public:
    enum class Answer {
        Data,     // the whole value arrived
        Refused,  // nothing of it came: the owner declined, or the transfer ended empty-handed
        Broken,   // part of a text came, then the transfer broke off
        TooLarge, // the value exceeded the read limit
        Foreign,  // a later owner answered: this change can no longer be asked
    };

    explicit ClipboardRead(quint32 timestamp = 0);

    // A change that left the clipboard empty: it reads nothing and gives nothing.
    static ClipboardRead empty(quint32 timestamp = 0);

    // The forms the owner lists. Until they are known only the common text forms are guessed.
    void setFormats(const std::vector<QByteArray>& formats);
    bool formatsKnown() const { return m_formatsKnown; }
    bool offers(const QByteArray& format) const;

    // The next form to ask for, taken as asked; empty once nothing more is wanted.
    QByteArray next();
    // The owner's answer for a form that was asked. type is the form the value declares itself
    // in (X11's property type; on Wayland the form asked); empty when it cannot be used.
    void answer(const QByteArray& format, Answer answer, QByteArray data = {}, const QByteArray& type = {});
    // A later change replaced this one before it could be read.
    void lose() { m_lost = true; }
    // The owner stopped answering: nothing more is asked. partialText: part of a text had come.
    void giveUp(bool partialText);

    // What the window is told. stillLatest: no later change is known, so a fresh read could
    // still find this one's text; otherwise a failed read simply gives no entry.
    ClipboardContent result(bool stillLatest) const;

    // Every form next() may name, for transports that must translate names.
    static std::vector<QByteArray> forms();
    static bool isImageForm(const QByteArray& format);
    static bool isTextForm(const QByteArray& format);
    static const QByteArray PasswordManagerHint;

private:
    bool decode(const QByteArray& type, QByteArray bytes);
    bool settled() const { return m_lost || m_textBroken; }

    quint32 m_timestamp = 0;
    bool m_emptyClipboard = false;
    bool m_formatsKnown = false;
    std::vector<QByteArray> m_formats;
    std::vector<QByteArray> m_textTried;
    bool m_hintAsked = false;
    bool m_imageAsked = false;
    bool m_anyAnswer = false;
    bool m_lost = false;
    bool m_textBroken = false;
    bool m_textTooLarge = false;
    bool m_gaveUp = false;
    ClipboardContent m_content;
};
