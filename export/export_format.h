#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

// One export format: what the dialog's list shows, the encoder handed to the
// re-encode worker ("raw" selects the raw copy), the file extension (with its
// dot) and the tag that ends the export file's base name.
struct export_format
{
    QString label;
    QString codec;
    QString extension;
    QString tag;
};

// The six formats, in the dialog's order.
const QList<export_format>& export_formats();
// The tags of the formats, in the same order ("H264", ..., "RAW").
const QStringList& export_format_tags();
// The first format whose label occurs in the text (case-insensitive); H.264 when none does.
export_format find_export_format(const QString& text);

// Turns an export error code into the French sentence the operator sees, and shows it.
class export_error : public QObject
{
    Q_OBJECT
public:
    explicit export_error(QWidget* boxParent);
    ~export_error() override = default;

    // The sentence of an error code from -34 to -1; "Erreur inconnue." for anything else.
    static QString error_text(int code);

public slots:
    // A modal box "Erreur de paramétrage" with the code's sentence.
    void error_parse(int code);

private:
    QPointer<QWidget> m_boxParent;
};
