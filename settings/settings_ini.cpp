#include "settings_ini.h"

#include <QByteArrayView>
#include <QStringDecoder>
#include <QStringList>

#include <vector>

namespace {

struct Line {
    qsizetype start = 0; // first byte
    qsizetype end = 0;   // past the last byte before the line break
    qsizetype next = 0;  // past the line break
};

enum class LineKind { Blank, Comment, Section, Value, Broken };

struct ParsedLine {
    LineKind kind = LineKind::Broken;
    QByteArray section; // a Section line's name
    QByteArray key;     // a Value line's key
    QByteArrayView value;
};

bool isSpace(char c)
{
    return c == ' ' || c == '\t';
}

QByteArrayView trimmed(QByteArrayView text)
{
    qsizetype from = 0;
    qsizetype to = text.size();
    while (from < to && isSpace(text[from]))
        ++from;
    while (to > from && isSpace(text[to - 1]))
        --to;
    return text.sliced(from, to - from);
}

// "\n", "\r\n" and a lone "\r" each end a line, as in the files Qt's settings read.
// A UTF-8 byte order mark before the first line is no part of it.
qsizetype bomSize(const QByteArray &text)
{
    return text.startsWith("\xEF\xBB\xBF") ? 3 : 0;
}

std::vector<Line> splitLines(const QByteArray &text)
{
    std::vector<Line> lines;
    qsizetype at = bomSize(text);
    while (at < text.size()) {
        Line line;
        line.start = at;
        while (at < text.size() && text[at] != '\n' && text[at] != '\r')
            ++at;
        line.end = at;
        if (at < text.size() && text[at] == '\r')
            ++at;
        if (at < text.size() && text[at] == '\n' && (at == line.end || text[at - 1] == '\r'))
            ++at;
        line.next = at;
        lines.push_back(line);
    }
    return lines;
}

ParsedLine parseLine(QByteArrayView raw)
{
    ParsedLine parsed;
    const QByteArrayView line = trimmed(raw);
    if (line.isEmpty()) {
        parsed.kind = LineKind::Blank;
    } else if (line[0] == ';' || line[0] == '#') {
        parsed.kind = LineKind::Comment;
    } else if (line[0] == '[') {
        const qsizetype close = line.indexOf(']');
        if (close > 0) {
            parsed.kind = LineKind::Section;
            parsed.section = trimmed(line.sliced(1, close - 1)).toByteArray();
        }
    } else {
        const qsizetype equals = line.indexOf('=');
        const QByteArrayView key = equals > 0 ? trimmed(line.first(equals)) : QByteArrayView();
        if (!key.isEmpty()) {
            parsed.kind = LineKind::Value;
            parsed.key = key.toByteArray();
            parsed.value = line.sliced(equals + 1);
        }
    }
    return parsed;
}

// Keys before the first header and under [General] are the top-level values.
bool isGeneral(const QByteArray &section)
{
    return section.compare("general", Qt::CaseInsensitive) == 0;
}

struct Unescaped {
    QString text;
    QStringList list;
    bool isList = false;
};

void chopTrailingSpaces(QString &text, qsizetype limit)
{
    qsizetype size = text.size();
    while (size > limit && (text.at(size - 1) == u' ' || text.at(size - 1) == u'\t'))
        --size;
    text.truncate(size);
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A value as Qt's settings files write it: quoted parts, backslash escapes (named, \x hexadecimal and octal,
// each running to the first character that is not a digit of its base), unquoted commas between the items
// of a list, spaces around unquoted items dropped.
Unescaped unescapeValue(QByteArrayView raw)
{
    static constexpr char kNamed[][2] = {{'a', '\a'}, {'b', '\b'}, {'f', '\f'}, {'n', '\n'}, {'r', '\r'}, {'t', '\t'},
                                         {'v', '\v'}, {'"', '"'},  {'?', '?'},  {'\'', '\''}, {'\\', '\\'}};
    Unescaped out;
    bool inQuotes = false;
    bool quoted = false;
    qsizetype chopLimit = 0; // spaces that an escape or a quote produced are kept
    qsizetype i = 0;
    const qsizetype size = raw.size();
    auto skipSpaces = [&] {
        while (i < size && isSpace(raw[i]))
            ++i;
        chopLimit = out.text.size();
    };
    skipSpaces();
    while (i < size) {
        const char c = raw[i];
        if (c == '\\') {
            if (++i >= size)
                return out.isList ? (out.list.append(out.text), out) : out;
            const char e = raw[i++];
            bool named = false;
            for (const auto &code : kNamed) {
                if (e == code[0]) {
                    out.text += QLatin1Char(code[1]);
                    named = true;
                    break;
                }
            }
            if (!named && e == 'x' && i < size && hexDigit(raw[i]) >= 0) {
                char16_t code = 0;
                for (; i < size && hexDigit(raw[i]) >= 0; ++i)
                    code = char16_t((code << 4) + hexDigit(raw[i]));
                out.text += QChar(code);
            } else if (!named && e >= '0' && e <= '7') {
                char16_t code = char16_t(e - '0');
                for (; i < size && raw[i] >= '0' && raw[i] <= '7'; ++i)
                    code = char16_t((code << 3) + (raw[i] - '0'));
                out.text += QChar(code);
            }
            // Any other escaped character is dropped.
            chopLimit = out.text.size();
        } else if (c == '"') {
            ++i;
            quoted = true;
            inQuotes = !inQuotes;
            if (!inQuotes)
                skipSpaces();
        } else if (c == ',' && !inQuotes) {
            if (!quoted)
                chopTrailingSpaces(out.text, chopLimit);
            out.isList = true;
            out.list.append(out.text);
            out.text.clear();
            quoted = false;
            ++i;
            skipSpaces();
        } else {
            qsizetype j = i + 1;
            while (j < size && raw[j] != '\\' && raw[j] != '"' && raw[j] != ',')
                ++j;
            out.text += QString::fromUtf8(raw.sliced(i, j - i));
            i = j;
        }
    }
    if (!quoted)
        chopTrailingSpaces(out.text, chopLimit);
    if (out.isList)
        out.list.append(out.text);
    return out;
}

// The @ forms hold values of other kinds; they are never decoded, only recognised.
std::optional<QString> plainText(const QString &text)
{
    if (!text.startsWith(u'@'))
        return text;
    if (text.endsWith(u')')) {
        if (text.startsWith(QLatin1String("@String(")))
            return text.mid(8, text.size() - 9);
        for (const char *other : {"@ByteArray(", "@Variant(", "@DateTime(", "@Rect(", "@Size(", "@Point("}) {
            if (text.startsWith(QLatin1String(other)))
                return std::nullopt;
        }
        if (text == QLatin1String("@Invalid()"))
            return std::nullopt;
    }
    if (text.startsWith(QLatin1String("@@")))
        return text.mid(1);
    return text;
}

// A text, a list of texts, or nothing for a value of another kind. In a list, an item that starts with a
// single @ makes the whole value a list of other kinds.
QVariant valueOf(QByteArrayView raw)
{
    const Unescaped value = unescapeValue(raw);
    if (!value.isList) {
        const auto text = plainText(value.text);
        return text ? QVariant(*text) : QVariant();
    }
    QStringList list;
    for (const QString &item : value.list) {
        if (item.startsWith(QLatin1String("@@")))
            list.append(item.mid(1));
        else if (item.startsWith(u'@'))
            return {};
        else
            list.append(item);
    }
    return list;
}

bool isUtf8(const QByteArray &text)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = decoder(text);
    return !decoder.hasError();
}

// What Qt's settings files hold for a text: quoted when it has , ; = or spaces at either end, backslash
// escapes for quotes, backslashes and control characters, and a digit after a numeric escape escaped too,
// so that it does not run on into the escape.
QByteArray escapedText(const QString &text)
{
    QByteArray out;
    bool needsQuotes = false;
    bool escapeNextIfDigit = false;
    if (text.startsWith(u'@'))
        out += '@';
    const QByteArray utf8 = text.toUtf8();
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == ';' || c == ',' || c == '=')
            needsQuotes = true;
        if (escapeNextIfDigit && hexDigit(c) >= 0) {
            out += "\\x" + QByteArray::number(byte, 16);
            continue;
        }
        escapeNextIfDigit = false;
        switch (c) {
        case '\a': out += "\\a"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\v': out += "\\v"; break;
        case '"':
        case '\\':
            out += '\\';
            out += c;
            break;
        default:
            if (byte <= 0x1F || byte == 0x7F) {
                out += "\\x" + QByteArray::number(byte, 16);
                escapeNextIfDigit = true;
            } else {
                out += c;
            }
        }
    }
    if (needsQuotes || out.startsWith(' ') || out.endsWith(' '))
        out = '"' + out + '"';
    return out;
}

QByteArray valueLine(const QString &key, const QVariant &value)
{
    QByteArray text;
    switch (value.userType()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
        text = QByteArray::number(value.toLongLong());
        break;
    default:
        text = escapedText(value.toString());
    }
    return key.toUtf8() + '=' + text;
}

} // namespace

std::optional<QVariantMap> readIniValues(const QByteArray &text)
{
    if (text.contains('\0') || !isUtf8(text))
        return std::nullopt;
    QVariantMap values;
    bool general = true;
    for (const Line &line : splitLines(text)) {
        const ParsedLine parsed = parseLine(QByteArrayView(text).sliced(line.start, line.end - line.start));
        switch (parsed.kind) {
        case LineKind::Blank:
        case LineKind::Comment:
            break;
        case LineKind::Section:
            general = isGeneral(parsed.section);
            break;
        case LineKind::Value:
            if (general) {
                // The last line of a key counts, as when Qt reads the file; a value of another kind counts as none.
                const QString key = QString::fromUtf8(parsed.key);
                const QVariant value = valueOf(parsed.value);
                if (value.isValid())
                    values.insert(key, value);
                else
                    values.remove(key);
            }
            break;
        case LineKind::Broken:
            return std::nullopt;
        }
    }
    return values;
}

QByteArray withIniValues(const QByteArray &text, const StoredValues &values)
{
    const QByteArray lineBreak = text.contains("\r\n") ? QByteArray("\r\n") : QByteArray("\n");
    QByteArray out = text.first(bomSize(text));
    std::vector<bool> written(values.size(), false);
    bool general = true;        // top-level lines, then [General] sections
    bool firstAreaDone = false; // new keys join the first General area that has a header or a value
    qsizetype insertAt = -1;    // in out
    bool insertNeedsBreak = false;

    for (const Line &line : splitLines(text)) {
        const QByteArrayView whole = QByteArrayView(text).sliced(line.start, line.next - line.start);
        const ParsedLine parsed = parseLine(whole.first(line.end - line.start));
        const bool hasBreak = line.next > line.end;
        if (parsed.kind == LineKind::Section) {
            if (insertAt >= 0)
                firstAreaDone = true;
            general = isGeneral(parsed.section);
            out += whole;
            if (general && !firstAreaDone) {
                insertAt = out.size();
                insertNeedsBreak = !hasBreak;
            }
            continue;
        }
        if (parsed.kind != LineKind::Value || !general) {
            out += whole;
            continue;
        }
        // Keys compared as the reader decodes them: a byte order mark before a key is no part of it there.
        const QString key = QString::fromUtf8(parsed.key);
        qsizetype which = -1;
        for (qsizetype v = 0; v < values.size(); ++v) {
            if (values[v].first == key)
                which = v;
        }
        if (which >= 0 && written[which])
            continue; // a repeated line of a key whose value is written already
        if (which >= 0) {
            out += valueLine(values[which].first, values[which].second);
            out += hasBreak ? whole.sliced(line.end - line.start) : QByteArrayView(lineBreak);
            written[which] = true;
        } else {
            out += whole;
        }
        if (!firstAreaDone) {
            insertAt = out.size();
            insertNeedsBreak = !hasBreak && which < 0;
        }
    }

    QByteArray added;
    for (qsizetype v = 0; v < values.size(); ++v) {
        if (!written[v])
            added += valueLine(values[v].first, values[v].second) + lineBreak;
    }
    if (added.isEmpty())
        return out;
    if (insertAt >= 0) {
        out.insert(insertAt, insertNeedsBreak ? lineBreak + added : added);
        return out;
    }
    // Neither a General section nor a top-level value: a section of its own before the rest.
    const QByteArray section = "[General]" + lineBreak + added;
    const qsizetype bom = bomSize(text);
    return out.size() == bom ? out + section : out.insert(bom, section + lineBreak);
}
