#include "TLDesktopEntry.h"

#include <QStringDecoder>

namespace {

// Characters that make quoting an Exec argument necessary.
const QString kReserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
// Characters escaped with a backslash inside a quoted argument.
const QString kEscapedInQuotes = QStringLiteral("\"`$\\");

bool hasControlCharacter(const QString& text) {
    for (QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f) {
            return true;
        }
    }
    return false;
}

// Spaces and tabs around keys, values and group headers are not part of them; any other white
// space is (a program path may end in a no-break space).
QString trimmedBlanks(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    const auto blank = [&](qsizetype i) {
        return text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t');
    };
    while (begin < end && blank(begin)) {
        ++begin;
    }
    while (end > begin && blank(end - 1)) {
        --end;
    }
    return text.mid(begin, end - begin);
}

} // namespace

std::optional<QMap<QString, QString>> TLDesktopEntry::readGroup(const QByteArray& content,
                                                                const QString& group) {
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(content);
    if (decoder.hasError()) {
        return std::nullopt;
    }
    const QString header = QLatin1Char('[') + group + QLatin1Char(']');
    QMap<QString, QString> keys;
    bool inGroup = false;
    bool found = false;
    for (const QString& rawLine : text.split(QLatin1Char('\n'))) {
        const QString line = rawLine.endsWith(QLatin1Char('\r')) ? rawLine.chopped(1) : rawLine;
        const QString trimmed = trimmedBlanks(line);
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('#'))) {
            continue;
        }
        if (trimmed.startsWith(QLatin1Char('['))) {
            inGroup = trimmed == header;
            found = found || inGroup;
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (!inGroup || equals <= 0) {
            continue;
        }
        const QString key = trimmedBlanks(line.left(equals));
        if (!keys.contains(key)) {
            keys.insert(key, trimmedBlanks(line.mid(equals + 1)));
        }
    }
    if (!found) {
        return std::nullopt;
    }
    return keys;
}

QString TLDesktopEntry::escapeValue(const QString& value) {
    QString out;
    out.reserve(value.size());
    for (QChar c : value) {
        switch (c.unicode()) {
        case '\\':
            out += QStringLiteral("\\\\");
            break;
        case '\n':
            out += QStringLiteral("\\n");
            break;
        case '\t':
            out += QStringLiteral("\\t");
            break;
        case '\r':
            out += QStringLiteral("\\r");
            break;
        default:
            out += c;
        }
    }
    // Leading spaces would be trimmed away when the value is read.
    if (out.startsWith(QLatin1Char(' '))) {
        out.replace(0, 1, QStringLiteral("\\s"));
    }
    return out;
}

QString TLDesktopEntry::unescapeValue(const QString& value) {
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            out += c;
            continue;
        }
        const QChar next = value[++i];
        switch (next.unicode()) {
        case 's':
            out += QLatin1Char(' ');
            break;
        case 'n':
            out += QLatin1Char('\n');
            break;
        case 't':
            out += QLatin1Char('\t');
            break;
        case 'r':
            out += QLatin1Char('\r');
            break;
        case '\\':
            out += QLatin1Char('\\');
            break;
        default:
            // Not a string escape: kept for the Exec quoting (or whoever reads the value).
            out += c;
            out += next;
        }
    }
    return out;
}

std::optional<bool> TLDesktopEntry::booleanValue(const QString& value) {
    if (value == QStringLiteral("true")) {
        return true;
    }
    if (value == QStringLiteral("false")) {
        return false;
    }
    return std::nullopt;
}

std::optional<QString> TLDesktopEntry::quoteExecArgument(const QString& argument) {
    if (hasControlCharacter(argument)) {
        return std::nullopt;
    }
    QString doubled = argument;
    doubled.replace(QLatin1Char('%'), QStringLiteral("%%"));
    bool needsQuotes = doubled.isEmpty();
    for (QChar c : doubled) {
        needsQuotes = needsQuotes || kReserved.contains(c);
    }
    if (!needsQuotes) {
        return doubled;
    }
    QString quoted = QStringLiteral("\"");
    for (QChar c : doubled) {
        if (kEscapedInQuotes.contains(c)) {
            quoted += QLatin1Char('\\');
        }
        quoted += c;
    }
    quoted += QLatin1Char('"');
    return quoted;
}

std::optional<QStringList> TLDesktopEntry::splitExec(const QString& exec) {
    QStringList arguments;
    QString current;
    bool inArgument = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
            if (inArgument) {
                arguments.append(current);
                current.clear();
                inArgument = false;
            }
            continue;
        }
        inArgument = true;
        if (c == QLatin1Char('%')) {
            // "%%" is a literal percent sign; field codes such as %u are left to the launcher.
            if (i + 1 < exec.size() && exec[i + 1] == QLatin1Char('%')) {
                ++i;
            }
            current += c;
            continue;
        }
        if (c != QLatin1Char('"')) {
            current += c;
            continue;
        }
        bool closed = false;
        for (++i; i < exec.size(); ++i) {
            const QChar q = exec[i];
            if (q == QLatin1Char('"')) {
                closed = true;
                break;
            }
            // A backslash before a character that needs it, or a doubled '%': the second one stays.
            const bool escaped =
                i + 1 < exec.size() && ((q == QLatin1Char('\\') && kEscapedInQuotes.contains(exec[i + 1])) ||
                                        (q == QLatin1Char('%') && exec[i + 1] == QLatin1Char('%')));
            if (escaped) {
                current += exec[++i];
            } else {
                current += q;
            }
        }
        if (!closed) {
            return std::nullopt;
        }
    }
    if (inArgument) {
        arguments.append(current);
    }
    return arguments;
}
