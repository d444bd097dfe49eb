#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

// One plain Windows-style INI file in memory, read and written with SimpleIni. Every value is
// held in its stored form, so that sections and keys nobody asked for are written back byte for
// byte. Texts are written as they stand (backslashes, "]", ";", "=", "#" and non-ASCII included),
// so the file stays readable by plain Windows INI readers. Three cases need protection, and get
// the forms SimpleIni and Windows readers already understand:
// - a text with a line break, or one starting with "<<<", is written as a SimpleIni multi-line
//   value ("key=<<<END_OF_TEXT", the lines, "END_OF_TEXT", with an end tag that no line of the
//   text matches); CR LF and a lone CR inside a text read back as LF;
// - a text with a leading or trailing blank, or one enclosed in a pair of matching quotes, is
//   written inside double quotes (a reader strips one enclosing pair, as Windows does);
// - a NUL character cannot be stored and is dropped.
// Reading: a key written twice counts once (the last one); bytes that are not UTF-8 (a file
// written by an ANSI program) read as Windows-1252; a section line without its closing "]" ends
// at the end of its line.
class IniDocument final
{
public:
    IniDocument();
    ~IniDocument();
    Q_DISABLE_COPY_MOVE(IniDocument)

    // Parses a file's text as IniFile hands it over (UTF-8); false when SimpleIni refuses it.
    bool parse(const QByteArray &text);
    // The file's bytes; false when they cannot be formatted.
    bool serialize(QByteArray *bytes);

    // Raw section names, and a section's raw key names, in file order.
    QList<QByteArray> sections() const;
    QList<QByteArray> keys(const QByteArray &section) const;
    // Names and values as texts.
    static QString decodeText(const QByteArray &bytes);

    std::optional<QString> text(const QByteArray &section, const QByteArray &key) const;
    QString text(const QByteArray &section, const QByteArray &key, const QString &fallback) const
    {
        return text(section, key).value_or(fallback);
    }
    int integer(const QByteArray &section, const QByteArray &key, int fallback) const;
    // A Windows reader takes any non-zero number as true; the usual words are accepted too.
    bool boolean(const QByteArray &section, const QByteArray &key, bool fallback) const;
    // The values of prefix + k keys (k = 1, 2, …) in the order of k; gaps are skipped, and so
    // are empty values, which no list holds.
    QStringList list(const QByteArray &section, const QByteArray &prefix) const;

    void setText(const QByteArray &section, const QByteArray &key, const QString &value);
    // The section is erased first, keeping its place and comment, then refilled.
    void setList(const QByteArray &section, const QByteArray &prefix, const QStringList &values);
    // Removes a whole section.
    void removeSection(const QByteArray &section);

private:
    void repairSections();

    struct Parser;
    std::unique_ptr<Parser> m_parser;
};
