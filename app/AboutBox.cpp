#include "app/AboutBox.h"

#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace {
const QColor Silver(192, 192, 192);

QLabel* MakeLabel(QWidget* parent, const QString& name, const QString& text, bool bold, int left, int top)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    if (bold) {
        QFont font = label->font();
        font.setBold(true);
        label->setFont(font);
    }
    label->adjustSize();
    label->move(left, top);
    return label;
}
} // namespace

QPixmap TAboutBox::ProgramPicture()
{
    // A face in a frame, drawn rather than shipped.
    QPixmap pixmap(73, 89);
    pixmap.fill(QColor(166, 202, 240));
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(40, 60, 110), 2));
    painter.drawRect(QRectF(1, 1, 71, 87));
    painter.setBrush(QColor(240, 205, 170));
    painter.drawEllipse(QRectF(14, 16, 45, 58));
    painter.setBrush(QColor(40, 60, 110));
    painter.drawEllipse(QRectF(26, 36, 6, 6));
    painter.drawEllipse(QRectF(41, 36, 6, 6));
    painter.setBrush(Qt::NoBrush);
    QPainterPath smile;
    smile.moveTo(27, 57);
    smile.quadTo(36.5, 65, 46, 57);
    painter.drawPath(smile);
    return pixmap;
}

TAboutBox::TAboutBox(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("About"));
    setFixedSize(336, 208);
    setWindowFlags(
        Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(8, 8, 320, 192);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken); // lowered outer bevel
    Panel1->setLineWidth(2);
    Panel1->setAutoFillBackground(true);
    QPalette palette = Panel1->palette();
    palette.setColor(QPalette::Window, Silver);
    Panel1->setPalette(palette);

    auto* inner = new QFrame(Panel1); // raised inner bevel
    inner->setFrameStyle(QFrame::Panel | QFrame::Raised);
    inner->setGeometry(2, 2, 316, 188);
    inner->setAttribute(Qt::WA_TransparentForMouseEvents);

    ProgramIcon = new QLabel(Panel1);
    ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
    ProgramIcon->setGeometry(16, 16, 73, 89);
    ProgramIcon->setPixmap(ProgramPicture());

    ProductName
        = MakeLabel(Panel1, QStringLiteral("ProductName"), QStringLiteral("Product Name:"), false, 104, 24);
    ProductNameValue
        = MakeLabel(Panel1, QStringLiteral("ProductNameValue"), QStringLiteral("Mirava"), true, 200, 24);
    Version = MakeLabel(Panel1, QStringLiteral("Version"), QStringLiteral("Version:"), false, 104, 52);
    VersionValue = MakeLabel(Panel1, QStringLiteral("VersionValue"), QStringLiteral("Demo"), true, 200, 52);

    Panel1->installEventFilter(this);
    ProgramIcon->installEventFilter(this);
    for (QLabel* label : { ProductName, ProductNameValue, Version, VersionValue })
        label->installEventFilter(this);
}

void TAboutBox::FormClick()
{
    done(QDialog::Accepted);
}

void TAboutBox::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        FormClick();
}

bool TAboutBox::eventFilter(QObject* watched, QEvent* event)
{
    const bool isMouse = event->type() == QEvent::MouseButtonPress
        || event->type() == QEvent::MouseButtonRelease || event->type() == QEvent::MouseButtonDblClick;
    if (!isMouse)
        return QDialog::eventFilter(watched, event);
    if (watched == Panel1 || watched == ProgramIcon) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        auto* widget = static_cast<QWidget*>(watched);
        if (event->type() == QEvent::MouseButtonRelease && mouse->button() == Qt::LeftButton
            && widget->rect().contains(mouse->position().toPoint()))
            FormClick();
        return true;
    }
    // A label swallows its clicks, so they do not reach the panel under it.
    return true;
}
