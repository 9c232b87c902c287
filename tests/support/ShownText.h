#pragma once

#include <QImage>
#include <QPainter>
#include <QString>
#include <QStringList>
#include <QTextDocument>
#include <QUrl>

// What a tooltip or any other automatic-format text shows on screen, and which resources showing it loads.
// Qt renders such a text as markup when Qt::mightBeRichText says so, and as plain text otherwise; the markup
// is laid out and painted here as a tooltip would be, with every resource it asks for recorded instead of
// loaded.
struct TShownText
{
    QString Text;
    QStringList LoadedResources;
};

namespace ShownTextDetail {
class TRecordingDocument : public QTextDocument
{
public:
    QStringList Loaded;

protected:
    QVariant loadResource(int, const QUrl& name) override
    {
        Loaded.append(name.toString());
        return QVariant();
    }
};
} // namespace ShownTextDetail

inline TShownText ShownAutoText(const QString& text)
{
    if (!Qt::mightBeRichText(text))
        return { text, {} };
    ShownTextDetail::TRecordingDocument document;
    document.setHtml(text);
    QImage canvas(400, 200, QImage::Format_RGB32);
    QPainter painter(&canvas);
    document.drawContents(&painter);
    QString shown = document.toPlainText();
    shown.replace(QChar::LineSeparator, u'\n').replace(QChar::ParagraphSeparator, u'\n');
    return { shown, document.Loaded };
}
