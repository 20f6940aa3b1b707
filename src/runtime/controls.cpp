#include "controls.h"

#include "textbreak.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <QPointer>
#include <QRawFont>
#include <QTextLayout>
#include <QToolTip>
#include <QValidator>
#include <cmath>
#include <limits>
#include <utility>

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

namespace {

// One line of a caption, shaped once.
class ShapedLine
{
public:
    virtual ~ShapedLine() = default;
    // Where the character at the position starts.
    virtual qreal x(int position) const = 0;
    virtual qreal width() const = 0;
    virtual void draw(QPainter &painter, qreal baseline) const = 0;
};

// Text as Qt lays it out: any script, fallback faces, decorations.
class LaidOutLine final : public ShapedLine
{
public:
    LaidOutLine(const QString &text, const QFont &font)
        : m_layout(text, font)
    {
        QTextOption oneLine;
        oneLine.setWrapMode(QTextOption::NoWrap);
        m_layout.setTextOption(oneLine);
        m_layout.setCacheEnabled(true);
        m_layout.beginLayout();
        m_layout.createLine();
        m_layout.endLayout();
    }
    qreal x(int position) const override { return m_layout.lineAt(0).cursorToX(position); }
    qreal width() const override { return m_layout.lineAt(0).naturalTextWidth(); }
    void draw(QPainter &painter, qreal baseline) const override
    {
        m_layout.draw(&painter, QPointF(0, baseline - m_layout.lineAt(0).ascent()));
    }

private:
    QTextLayout m_layout;
};

// Text that the label's own face holds glyph for glyph, undecorated (the
// clock, the date fields): its glyphs side by side, as Qt places them for
// such text, without laying out a line.
class GlyphLine final : public ShapedLine
{
public:
    GlyphLine(const QRawFont &face, const QList<quint32> &glyphs)
    {
        const QList<QPointF> advances = face.advancesForGlyphIndexes(glyphs);
        QList<QPointF> positions;
        positions.reserve(advances.size());
        m_x.reserve(advances.size() + 1);
        m_x.push_back(0);
        for (const QPointF &advance : advances) {
            positions << QPointF(m_x.back(), 0);
            m_x.push_back(m_x.back() + advance.x());
        }
        m_glyphs.setRawFont(face);
        m_glyphs.setGlyphIndexes(glyphs);
        m_glyphs.setPositions(positions);
    }
    qreal x(int position) const override
    {
        return m_x[std::clamp<size_t>(position, 0, m_x.size() - 1)];
    }
    qreal width() const override { return m_x.back(); }
    void draw(QPainter &painter, qreal baseline) const override
    {
        painter.drawGlyphRun(QPointF(0, baseline), m_glyphs);
    }

private:
    QGlyphRun m_glyphs;
    std::vector<qreal> m_x;
};

// Glyphs looked up without the OpenType machinery: the page's faces need none
// of it for Japanese and digits, and the pixels are the same.
QFont unshaped(QFont font)
{
    font.setStyleStrategy(QFont::PreferNoShaping);
    return font;
}

std::unique_ptr<ShapedLine> shapeLine(const QString &text, const QFont &font, const QRawFont &face)
{
    if (face.isValid() && !font.underline() && !font.strikeOut() && !font.overline()) {
        const QList<quint32> glyphs = face.glyphIndexesForString(text);
        if (glyphs.size() == text.size() && !glyphs.contains(0u))
            return std::make_unique<GlyphLine>(face, glyphs);
    }
    return std::make_unique<LaidOutLine>(text, font);
}

} // namespace

struct Label::Layout
{
    QString caption;
    QFont font;
    int width = -1;
    QStringList lines;
    std::vector<std::unique_ptr<ShapedLine>> shaped;
};

Label::Label(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
}

Label::~Label() = default;

namespace {

// Labels whose caption changed in the event or handler being run: looked at
// once it is over, all in one call.
std::vector<QPointer<Label>> &changedLabels()
{
    static std::vector<QPointer<Label>> labels;
    return labels;
}

} // namespace

void Label::setCaption(const QString &caption)
{
    if (caption == m_caption)
        return;
    m_caption = caption;
    if (std::exchange(m_checkPending, true))
        return;
    if (changedLabels().empty() && s_batches == 0)
        QMetaObject::invokeMethod(qApp, &Label::repaintChangedLabels, Qt::QueuedConnection);
    changedLabels().emplace_back(this);
}

// Each batch looks at all the changes: one made before a nested event loop
// (a message box) is seen as the next handler run inside that loop ends.
Label::CaptionBatch::~CaptionBatch()
{
    --s_batches;
    repaintChangedLabels();
}

void Label::repaintChangedLabels()
{
    for (const QPointer<Label> &label : std::exchange(changedLabels(), {})) {
        if (label)
            label->repaintChanges();
    }
}

void Label::repaintChanges()
{
    m_checkPending = false;
    if (m_caption == m_shownCaption)
        return;
    // The layout of what is shown, if still at hand, for where its glyphs stand.
    std::unique_ptr<Layout> before = hasLayoutOf(m_shownCaption) ? std::move(m_layout) : nullptr;
    m_shownCaption = m_caption;
    update(before ? changedArea(*before, layout()) : rect());
}

// Where the glyphs of two one-line captions may differ: from the first
// character that differs to the last, padded for glyphs that reach past
// their advance, and only as high as the glyphs.
QRect Label::changedArea(const Layout &before, const Layout &after) const
{
    if (before.lines.size() != 1 || after.lines.size() != 1)
        return rect();
    const QString &a = before.lines.front();
    const QString &b = after.lines.front();
    const qsizetype limit = std::min(a.size(), b.size());
    qsizetype prefix = 0;
    while (prefix < limit && a[prefix] == b[prefix])
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < limit - prefix && a[a.size() - 1 - suffix] == b[b.size() - 1 - suffix])
        ++suffix;
    const ShapedLine &lineA = *before.shaped.front();
    const ShapedLine &lineB = *after.shaped.front();
    const qreal from = std::min(lineA.x(int(prefix)), lineB.x(int(prefix)));
    const qreal endA = lineA.x(int(a.size() - suffix));
    const qreal endB = lineB.x(int(b.size() - suffix));
    // The rest of the line moves unless the changed parts are equally wide.
    const qreal to = endA == endB ? endA : std::max(lineA.width(), lineB.width());
    // Slanted glyphs lean past their advance; an upright one's edge may blend
    // into the next pixel.
    const int pad = font().italic() ? font().pixelSize() / 3 : 1;
    const int bottom = int(std::ceil(QFontMetricsF(font()).height())) + 2;
    return QRect(QPoint(int(from) - pad, 0), QPoint(int(std::ceil(to)) + pad, bottom))
        .intersected(rect());
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

// A new font or size makes a new layout: each is part of what it was made for.
bool Label::hasLayoutOf(const QString &caption) const
{
    return m_layout && m_layout->caption == caption && m_layout->width == width()
        && m_layout->font == font();
}

const Label::Layout &Label::layout() const
{
    if (hasLayoutOf(m_caption))
        return *m_layout;
    m_layout = std::make_unique<Layout>();
    m_layout->caption = m_caption;
    m_layout->font = font();
    m_layout->width = width();
    QString text = m_caption;
    if (text.contains(u'\r')) {
        text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    }
    const QFont font = unshaped(this->font());
    if (!m_face || m_face->first != font)
        m_face = std::make_unique<std::pair<QFont, QRawFont>>(font, QRawFont::fromFont(font));
    const QRawFont &face = m_face->second;
    const QFontMetricsF metrics(font);
    for (const QString &paragraph : text.split(QLatin1Char('\n'))) {
        // Most captions fit their box: shaped once, and the shape is kept.
        auto whole = shapeLine(paragraph, font, face);
        if (whole->width() <= width()) {
            m_layout->lines << paragraph;
            m_layout->shaped.push_back(std::move(whole));
            continue;
        }
        const QStringList broken =
            breakLabelLines(paragraph, width(),
                            [&metrics](const QString &t) { return metrics.horizontalAdvance(t); });
        for (const QString &line : broken) {
            m_layout->lines << line;
            m_layout->shaped.push_back(shapeLine(line, font, face));
        }
    }
    return *m_layout;
}

QStringList Label::lines() const
{
    return layout().lines;
}

void Label::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    if (!m_transparent)
        painter.fillRect(rect(), toQColor(m_backColor));
    if (m_caption.isEmpty())
        return;
    painter.setPen(toQColor(m_foreColor));
    const QFontMetricsF metrics(font());
    const qreal lineHeight = metrics.height();
    const QRect dirty = event->rect();
    qreal top = 0;
    // Glyphs, never markup: each line was laid out as plain text.
    for (const auto &shaped : layout().shaped) {
        if (top >= height())
            break;
        if (top < dirty.bottom() + 1 && top + lineHeight + metrics.descent() > dirty.top())
            shaped->draw(painter, top + metrics.ascent());
        top += lineHeight;
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

class OneLineValidator final : public QValidator
{
public:
    explicit OneLineValidator(RichTextBox *box)
        : QValidator(box)
        , m_box(box)
    { }

    State validate(QString &input, int &) const override
    {
        input.replace(QLatin1String("\r\n"), QLatin1String(" "));
        for (QChar &c : input) {
            if (c == u'\r' || c == u'\n' || c == QChar::LineSeparator
                || c == QChar::ParagraphSeparator)
                c = u' ';
        }
        // Invalid makes the line edit undo the edit as a whole, where its own
        // maximum length would cut a paste short without a word.
        return m_box->refuses(input) ? Invalid : Acceptable;
    }

private:
    RichTextBox *m_box;
};

RichTextBox::RichTextBox(QWidget *parent)
    : QLineEdit(parent)
{
    setValidator(new OneLineValidator(this));
    // The text before an edit: the validator sees the line edit's text already changed.
    connect(this, &QLineEdit::textChanged, this, [this](const QString &text) { m_before = text; });
}

void RichTextBox::setPlainText(const QString &text)
{
    m_setText = text;
    m_setting = true;
    setText(text);
    m_setting = false;
    m_shownText = QLineEdit::text();
    // A line longer than the box is read from its start.
    setCursorPosition(0);
}

void RichTextBox::setLengthLimit(qsizetype limit, Measure measure, const QString &words)
{
    m_limit = limit;
    m_measure = measure;
    m_refusal = words;
    // Never the line edit's own silent cut: one character more than any text
    // the limit lets through reaches the validator.
    setMaxLength(int(std::min<qsizetype>(limit + 1, std::numeric_limits<int>::max())));
}

// Only an edit that makes the text longer is refused; what the program sets
// itself, and the text as it stands, always pass.
bool RichTextBox::refuses(QStringView text) const
{
    if (m_setting || !m_measure || text.size() <= m_before.size() || m_measure(text) <= m_limit)
        return false;
    if (!m_refusalDue) {
        const_cast<RichTextBox *>(this)->m_refusalDue = true;
        QMetaObject::invokeMethod(const_cast<RichTextBox *>(this), &RichTextBox::sayRefused,
                                  Qt::QueuedConnection);
    }
    return true;
}

void RichTextBox::sayRefused()
{
    m_refusalDue = false;
    QApplication::beep();
    QToolTip::showText(mapToGlobal(QPoint(0, height())), m_refusal, this, {}, 4000);
    Q_EMIT inputRefused();
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
