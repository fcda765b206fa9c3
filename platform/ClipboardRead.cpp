#include "platform/ClipboardRead.h"

#include <QImageReader>

#include <algorithm>

const QByteArray ClipboardRead::PasswordManagerHint = QByteArrayLiteral("x-kde-passwordManagerHint");

namespace
{
bool sameForm(const QByteArray& a, const QByteArray& b)
{
    // MIME types ignore case ("text/plain;charset=UTF-8"); X11 targets never differ by it alone.
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool listed(const std::vector<QByteArray>& list, const QByteArray& format)
{
    return std::any_of(list.begin(), list.end(), [&](const QByteArray& item) { return sameForm(item, format); });
}

// In the order they are asked for. The system's 8-bit text is UTF-8, so plain text counts as UTF-8.
const std::vector<QByteArray>& textForms()
{
    static const std::vector<QByteArray> forms = { "text/plain;charset=utf-8", "UTF8_STRING", "text/plain", "STRING",
        "TEXT", "COMPOUND_TEXT" };
    return forms;
}

// Asked of an owner that has not said what it offers: nearly every one has one of these.
const std::vector<QByteArray>& guessedTextForms()
{
    static const std::vector<QByteArray> forms = { "UTF8_STRING", "STRING" };
    return forms;
}

const std::vector<QByteArray>& utf8Forms()
{
    static const std::vector<QByteArray> forms = { "text/plain;charset=utf-8", "UTF8_STRING", "text/plain" };
    return forms;
}

// Offered images in the order they are preferred, where Qt can decode them.
const std::vector<QByteArray>& imageForms()
{
    static const std::vector<QByteArray> forms = [] {
        const QList<QByteArray> readable = QImageReader::supportedImageFormats();
        const std::pair<const char*, const char*> images[] = { { "image/png", "png" }, { "image/bmp", "bmp" },
            { "image/x-bmp", "bmp" }, { "image/x-MS-bmp", "bmp" }, { "image/jpeg", "jpeg" }, { "image/gif", "gif" } };
        std::vector<QByteArray> usable;
        for (const auto& [form, format] : images) {
            if (readable.contains(format)) {
                usable.emplace_back(form);
            }
        }
        return usable;
    }();
    return forms;
}
} // namespace

ClipboardRead::ClipboardRead(quint32 timestamp)
    : m_timestamp(timestamp)
{
    m_content.timestamp = timestamp;
}

ClipboardRead ClipboardRead::empty(quint32 timestamp)
{
    ClipboardRead read(timestamp);
    read.m_emptyClipboard = true;
    read.m_formatsKnown = true;
    return read;
}

std::vector<QByteArray> ClipboardRead::forms()
{
    std::vector<QByteArray> all = textForms();
    all.push_back(PasswordManagerHint);
    all.insert(all.end(), imageForms().begin(), imageForms().end());
    return all;
}

bool ClipboardRead::isImageForm(const QByteArray& format)
{
    return listed(imageForms(), format);
}

bool ClipboardRead::isTextForm(const QByteArray& format)
{
    return listed(textForms(), format);
}

void ClipboardRead::setFormats(const std::vector<QByteArray>& formats)
{
    m_formats = formats;
    m_formatsKnown = true;
    // An owner that said what it offers has answered.
    m_anyAnswer = true;
}

bool ClipboardRead::offers(const QByteArray& format) const
{
    return m_formatsKnown && listed(m_formats, format);
}

QByteArray ClipboardRead::next()
{
    if (m_emptyClipboard || m_gaveUp || settled()) {
        return {};
    }
    if (!m_content.hasText) {
        for (const QByteArray& form : m_formatsKnown ? textForms() : guessedTextForms()) {
            if (!listed(m_textTried, form) && (!m_formatsKnown || offers(form))) {
                m_textTried.push_back(form);
                return form;
            }
        }
    }
    if (m_content.hasText && !m_hintAsked && offers(PasswordManagerHint)) {
        m_hintAsked = true;
        // Until the hint is read, and if it cannot be, the text counts as secret.
        m_content.secret = true;
        return PasswordManagerHint;
    }
    if (!m_imageAsked) {
        m_imageAsked = true;
        for (const QByteArray& form : imageForms()) {
            if (offers(form)) {
                m_content.hasImage = true;
                return form;
            }
        }
    }
    return {};
}

void ClipboardRead::answer(const QByteArray& format, Answer answer, QByteArray data, const QByteArray& type)
{
    const bool isImage = isImageForm(format);
    if (answer == Answer::Foreign) {
        // What a later owner holds is no image of this change, and no text of it either.
        if (!isImage) {
            m_lost = true;
        }
        return;
    }
    m_anyAnswer = true;
    if (sameForm(format, PasswordManagerHint)) {
        m_content.secret = answer != Answer::Data || data.trimmed() == "secret";
    } else if (isImage) {
        if (answer == Answer::Data) {
            m_content.image = QImage::fromData(data);
        }
    } else if (answer == Answer::Data) {
        m_content.hasText = decode(type, std::move(data));
    } else if (answer == Answer::Broken || answer == Answer::TooLarge) {
        m_textBroken = true;
        m_textTooLarge = m_textTooLarge || answer == Answer::TooLarge;
    }
}

void ClipboardRead::giveUp(bool partialText)
{
    m_gaveUp = true;
    m_textBroken = m_textBroken || partialText;
}

bool ClipboardRead::decode(const QByteArray& type, QByteArray bytes)
{
    // The text ends at its first zero, as a C string on the clipboard does.
    const qsizetype end = bytes.indexOf('\0');
    if (end >= 0) {
        bytes.truncate(end);
    }
    if (listed(utf8Forms(), type)) {
        m_content.text = QString::fromUtf8(bytes);
    } else if (sameForm(type, "STRING") || (sameForm(type, "COMPOUND_TEXT") && !bytes.contains('\x1b'))) {
        // Compound text without escape sequences is Latin-1.
        m_content.text = QString::fromLatin1(bytes);
    } else {
        return false;
    }
    return true;
}

ClipboardContent ClipboardRead::result(bool stillLatest) const
{
    if (m_lost || m_textBroken) {
        ClipboardContent nothing;
        nothing.timestamp = m_timestamp;
        nothing.tooLarge = m_textTooLarge && !m_lost;
        return nothing;
    }
    ClipboardContent content = m_content;
    if (content.secret) {
        content.text.clear();
    }
    if (content.hasText || m_emptyClipboard) {
        return content;
    }
    // Text was offered (or the owner never answered at all) and none of it arrived.
    bool offered = !m_anyAnswer;
    for (const QByteArray& form : textForms()) {
        offered = offered || offers(form);
    }
    if (offered) {
        // A fresh subscription may read it after all, unless a later change brings its own notice.
        content.failed = stillLatest;
        content.hasImage = false;
        content.image = QImage();
    }
    return content;
}
