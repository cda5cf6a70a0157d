#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <optional>
#include <utility>

// The settings file's text: the INI form the tool has always written ("[General]", then key=value lines,
// texts quoted and escaped as Qt's settings files have them).
//
// Only the values of the General section are taken, each as a text, a comma-separated list of texts, or,
// for the @ forms that hold other kinds (@ByteArray, @Variant...), nothing. Nothing in the file is decoded
// further, so no content makes reading deep or slow: one pass over the text.

using StoredValues = QList<std::pair<QString, QVariant>>;

// The General values, or nothing when the text is not such a file: a NUL byte, text that is not UTF-8,
// a section header without its "]", or a line that is neither blank, a comment, a header nor key=value.
std::optional<QVariantMap> readIniValues(const QByteArray &text);

// The text with these General values set: each replaces the key's line where it stands (a repeated line of
// the key goes), the others join the General section; every other byte stays as it was.
// The text must be one that readIniValues accepts.
QByteArray withIniValues(const QByteArray &text, const StoredValues &values);
