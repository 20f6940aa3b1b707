#include "controls.h"

#include "textbreak.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QValidator>

namespace himekuri {

QColor toQColor(OleColor colour)
{
    if (colour & SystemColorFlag) {
        const QPalette palette = QApplication::palette();
        switch (colour & 0xFF) {
        case 5:
            return palette.color(QPalette::Base);
        case 15:
            return palette.color(QPalette::Button);
        case 18:
            return palette.color(QPalette::ButtonText);
        default:
            return palette.color(QPalette::WindowText);
        }
    }
    return QColor(int(colour & 0xFF), int((colour >> 8) & 0xFF), int((colour >> 16) & 0xFF));
}

Label::Label(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
}

void Label::setCaption(const QString &caption)
{
    if (caption == m_caption)
        return;
    m_caption = caption;
    update();
}

void Label::setForeColor(OleColor colour)
{
    m_foreColor = colour;
    update();
}

void Label::setTransparent(bool transparent)
{
    m_transparent = transparent;
    update();
}

void Label::setBackColor(OleColor colour)
{
    m_backColor = colour;
    update();
}

QStringList Label::lines() const
{
    const QFontMetricsF metrics(font());
    return breakLabelLines(m_caption, width(), [&metrics](const QString &text) {
        return metrics.horizontalAdvance(text);
    });
}

void Label::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (!m_transparent)
        painter.fillRect(rect(), toQColor(m_backColor));
    if (m_caption.isEmpty())
        return;
    painter.setFont(font());
    painter.setPen(toQColor(m_foreColor));
    const QFontMetricsF metrics(font());
    qreal top = 0;
    const QStringList shown = lines();
    for (const QString &line : shown) {
        if (top >= height())
            break;
        // Text drawn as glyphs, never interpreted as markup.
        painter.drawText(QPointF(0, top + metrics.ascent()), line);
        top += metrics.height();
    }
}

Picture::Picture(const QString &path, QWidget *parent)
    : QWidget(parent)
    , m_pixmap(path)
{
    setFocusPolicy(Qt::NoFocus);
}

void Picture::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_pixmap);
}

void Picture::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        Q_EMIT clicked();
}

namespace {

class OneLineValidator final : public QValidator
{
public:
    using QValidator::QValidator;

    State validate(QString &input, int &) const override
    {
        input.replace(QLatin1String("\r\n"), QLatin1String(" "));
        for (QChar &c : input) {
            if (c == u'\r' || c == u'\n' || c == QChar::LineSeparator
                || c == QChar::ParagraphSeparator)
                c = u' ';
        }
        return Acceptable;
    }
};

} // namespace

RichTextBox::RichTextBox(QWidget *parent)
    : QLineEdit(parent)
{
    setValidator(new OneLineValidator(this));
}

void RichTextBox::setPlainText(const QString &text)
{
    m_setText = text;
    setText(text);
    m_shownText = QLineEdit::text();
    // A line longer than the box is read from its start.
    setCursorPosition(0);
}

QString RichTextBox::plainText() const
{
    const QString shown = QLineEdit::text();
    return shown == m_shownText ? m_setText : shown;
}

PictureWindow::PictureWindow(const QString &picture)
    : QWidget(nullptr, Qt::Window)
    , m_picture(picture)
{ }

void PictureWindow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_picture);
}

FramedWindow::FramedWindow(const QSize &clientSize)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint)
    , m_client(new QWidget(this))
{
    setFixedSize(clientSize + QSize(2 * FrameWidth, 2 * FrameWidth));
    m_client->setObjectName(QStringLiteral("client"));
    m_client->setGeometry(QRect(QPoint(FrameWidth, FrameWidth), clientSize));
}

void FramedWindow::placeClientAt(const QPoint &screenPos)
{
    move(screenPos - QPoint(FrameWidth, FrameWidth));
}

void FramedWindow::paintEvent(QPaintEvent *)
{
    // A raised dialog edge: light outer top-left, dark outer bottom-right,
    // then one line of face colour next to the client area.
    QPainter painter(this);
    const QPalette &pal = palette();
    const QRect r = rect();
    painter.fillRect(r, pal.color(QPalette::Button));
    auto edge = [&painter](QRect box, const QColor &topLeft, const QColor &bottomRight) {
        painter.setPen(topLeft);
        painter.drawLine(box.topLeft(), box.topRight());
        painter.drawLine(box.topLeft(), box.bottomLeft());
        painter.setPen(bottomRight);
        painter.drawLine(box.bottomLeft(), box.bottomRight());
        painter.drawLine(box.topRight(), box.bottomRight());
    };
    edge(r, pal.color(QPalette::Midlight), pal.color(QPalette::Shadow));
    edge(r.adjusted(1, 1, -1, -1), pal.color(QPalette::Light), pal.color(QPalette::Dark));
}

} // namespace himekuri
