#pragma once

#include "text/NumberText.h"

#include <QLabel>
#include <QLineEdit>
#include <QString>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>

namespace kestrove::dialog {

// The shortest text that reads back as the same value (0.1f -> "0.1", 0.2833333333333333 as typed).
template <typename Number> QString shortestText(Number value)
{
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

// Shows a wrapped message in a dialog's label, or clears it. A dialog's layout does not grow the
// dialog for the height a wrapped label needs at its width, so the label asks for it.
inline void showError(QLabel* label, const QString& text)
{
    label->setText(text);
    label->setMinimumHeight(text.isEmpty() ? 0 : label->heightForWidth(label->width()));
}

// Converts the text boxes of a dialog on OK. Every read returns nothing for a box that cannot be
// converted; finish() then names the first such box beside the buttons and puts the cursor in it,
// so that OK never hands back a value that is not a number of its type.
class BoxReader
{
public:
    explicit BoxReader(QLabel* errorLabel) : m_errorLabel(errorLabel) {}

    std::optional<int16_t> int16(QLineEdit* box, const QLabel* label)
    {
        const auto value = parseInt16(box->text());
        if (!value)
            fail(box, label, QStringLiteral("a whole number from -32768 to 32767"));
        return value;
    }

    std::optional<float> single(QLineEdit* box, const QLabel* label)
    {
        const auto value = parseNumber(box->text());
        if (!value || !std::isfinite(static_cast<float>(*value))) {
            fail(box, label, QStringLiteral("a number"));
            return std::nullopt;
        }
        return static_cast<float>(*value);
    }

    std::optional<double> number(QLineEdit* box, const QLabel* label)
    {
        const auto value = parseNumber(box->text());
        if (!value)
            fail(box, label, QStringLiteral("a number"));
        return value;
    }

    // A text for "config.ini": a comma would split it into two fields there, and the file holds
    // single-byte text only, so either would shift or garble the settings when they are read again.
    std::optional<QString> text(QLineEdit* box, const QLabel* label)
    {
        const QString value = box->text();
        const bool latin1 =
            std::all_of(value.cbegin(), value.cend(), [](QChar c) { return c.unicode() < 256; });
        if (value.contains(QLatin1Char(',')) || !latin1) {
            fail(box, label, QStringLiteral("a text without commas, in Western (Latin-1) characters"));
            return std::nullopt;
        }
        return value;
    }

    // True when every box was read; otherwise shows the first fault and returns false.
    bool finish()
    {
        if (!m_failedBox) {
            showError(m_errorLabel, QString());
            return true;
        }
        showError(m_errorLabel, m_message);
        m_failedBox->setFocus();
        m_failedBox->selectAll();
        return false;
    }

    // Names a box whose text the caller found wrong, unless an earlier box was.
    void fail(QLineEdit* box, const QLabel* label, const QString& expected)
    {
        if (m_failedBox)
            return;
        m_failedBox = box;
        QString caption = label->text();
        if (caption.endsWith(QLatin1Char(':')))
            caption.chop(1);
        m_message = QStringLiteral("\"%1\" needs %2; \"%3\" is not one.").arg(caption, expected, box->text());
    }

private:
    QLabel* m_errorLabel;
    QLineEdit* m_failedBox = nullptr;
    QString m_message;
};

} // namespace kestrove::dialog
