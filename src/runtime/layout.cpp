#include "layout.h"

#include "webbrowser.h"

#include <QFontDatabase>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <vector>

namespace himekuri {

QRect twipsToPixels(const QRect &twips)
{
    return QRect(twipsToPixels(twips.x()), twipsToPixels(twips.y()), twipsToPixels(twips.width()),
                 twipsToPixels(twips.height()));
}

QSize twipsToPixels(const QSize &twips)
{
    return QSize(twipsToPixels(twips.width()), twipsToPixels(twips.height()));
}

QPoint twipsToPixels(const QPoint &twips)
{
    return QPoint(twipsToPixels(twips.x()), twipsToPixels(twips.y()));
}

int pointsToPixels(double points)
{
    return qRound(points * 96.0 / 72.0);
}

namespace {

constexpr FontSpec DefaultDialogFont = {u"ＭＳ Ｐゴシック", 9, false, false, false};

bool isChildWindow(ControlKind kind)
{
    return kind == ControlKind::CommandButton || kind == ControlKind::RichTextBox
        || kind == ControlKind::WebBrowser;
}

QWidget *createControl(const ControlRow &row, QWidget *client)
{
    switch (row.kind) {
    case ControlKind::Label: {
        auto *label = new Label(client);
        label->setCaption(row.text ? QString::fromUtf16(row.text) : QString());
        label->setTransparent(row.transparent);
        label->setForeColor(row.foreColor);
        label->setBackColor(row.backColor);
        return label;
    }
    case ControlKind::Picture:
        return new Picture(QString::fromLatin1(row.picture), client);
    case ControlKind::CommandButton: {
        auto *button = new QPushButton(client);
        // Plain text: an ampersand would otherwise become an access key.
        button->setText(QString::fromUtf16(row.text).replace(u'&', QLatin1String("&&")));
        // Enter presses a button only while it holds the focus.
        button->setAutoDefault(true);
        return button;
    }
    case ControlKind::RichTextBox: {
        auto *box = new RichTextBox(client);
        QPalette palette = box->palette();
        palette.setColor(QPalette::Base, toQColor(row.backColor));
        box->setPalette(palette);
        return box;
    }
    case ControlKind::WebBrowser:
        return new WebBrowser(client);
    case ControlKind::Timer:
        return nullptr;
    }
    return nullptr;
}

} // namespace

QFont makeFont(const FontSpec &spec)
{
    const FontSpec &used = spec.face ? spec : DefaultDialogFont;
    QFont font(QString::fromUtf16(used.face));
    font.setPixelSize(pointsToPixels(used.points));
    font.setBold(used.bold);
    font.setItalic(used.italic);
    font.setUnderline(used.underline);
    font.setStrikeOut(false);
    return font;
}

bool installFontSubstitutes()
{
    // Best first; Qt takes the first that is installed. After the faces of
    // the same kind come the others: any Japanese face is better than boxes.
    static constexpr const char *FixedGothic[] = {"IPAGothic", "Noto Sans Mono CJK JP", "VL Gothic",
                                                  "TakaoGothic"};
    static constexpr const char *Gothic[] = {"IPAPGothic", "Noto Sans CJK JP", "VL PGothic",
                                             "TakaoPGothic"};
    // The day number is drawn in it: IPAPMincho's digits are 0.62 em wide and
    // two of them overflow the day's box, IPAMincho's are half-width like the
    // design face's and fit as designed.
    static constexpr const char *Mincho[] = {"IPAMincho", "Noto Serif CJK JP", "TakaoMincho",
                                             "TakaoPMincho"};
    const auto faces = [](std::initializer_list<std::span<const char *const>> kinds) {
        QStringList names;
        for (const auto &kind : kinds) {
            for (const char *name : kind)
                names << QString::fromLatin1(name);
        }
        return names;
    };
    const struct
    {
        const char16_t *design;
        const char *ascii;
        QStringList faces;
    } substitutes[] = {
        {u"ＭＳ ゴシック", "MS Gothic", faces({FixedGothic, Gothic, Mincho})},
        {u"ＭＳ Ｐゴシック", "MS PGothic", faces({Gothic, FixedGothic, Mincho})},
        {u"ＭＳ Ｐ明朝", "MS PMincho", faces({Mincho, Gothic, FixedGothic})},
    };
    for (const auto &s : substitutes) {
        QFont::insertSubstitutions(QString::fromUtf16(s.design), s.faces);
        QFont::insertSubstitutions(QString::fromLatin1(s.ascii), s.faces);
    }
    return !QFontDatabase::families(QFontDatabase::Japanese).isEmpty();
}

std::vector<QTimer *> buildControls(QWidget *client, std::span<const ControlRow> rows)
{
    std::vector<QTimer *> timers;
    std::vector<std::pair<const ControlRow *, QWidget *>> made;
    for (const ControlRow &row : rows) {
        const QString name = QString::fromLatin1(row.name);
        if (row.kind == ControlKind::Timer) {
            auto *timer = new QTimer(client);
            timer->setObjectName(name);
            timer->setInterval(row.interval);
            // Coarse timers may fire up to 5% early; these count seconds a user sees.
            timer->setTimerType(Qt::PreciseTimer);
            timers.push_back(timer);
            continue;
        }
        QWidget *control = createControl(row, client);
        control->setObjectName(name);
        control->setGeometry(twipsToPixels(row.twips));
        control->setFont(makeFont(row.font));
        made.emplace_back(&row, control);
    }

    // Bottom row first, so that each row ends up above the rows after it.
    for (auto it = made.rbegin(); it != made.rend(); ++it)
        it->second->raise();
    for (auto it = made.rbegin(); it != made.rend(); ++it) {
        if (isChildWindow(it->first->kind))
            it->second->raise();
    }

    std::vector<std::pair<int, QWidget *>> focusable;
    for (const auto &[row, control] : made) {
        if (control->focusPolicy() & Qt::TabFocus)
            focusable.emplace_back(row->tabIndex, control);
    }
    std::sort(focusable.begin(), focusable.end(),
              [](const auto &a, const auto &b) { return a.first < b.first; });
    for (std::size_t i = 1; i < focusable.size(); ++i)
        QWidget::setTabOrder(focusable[i - 1].second, focusable[i].second);
    return timers;
}

} // namespace himekuri
