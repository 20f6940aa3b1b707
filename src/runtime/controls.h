#pragma once

// The controls the windows are made of, with the behaviour the program relies
// on rather than Qt's defaults: labels that only ever show plain text and lay
// it out like the original page, pictures at natural size, a one-line message
// box and the browser pane.

#include <QLineEdit>
#include <QPixmap>
#include <QRawFont>
#include <QWidget>
#include <memory>

namespace himekuri {

// 24-bit colour with red in the low byte; with the top bit set, the low byte
// names a system colour instead (5 window background, 15 button face, 18
// button text).
using OleColor = quint32;
constexpr OleColor SystemColorFlag = 0x80000000u;
constexpr OleColor systemColor(int index)
{
    return SystemColorFlag | OleColor(index);
}
constexpr OleColor PureRed = 255;
QColor toQColor(OleColor colour);

// Each caption is broken into lines and shaped once, and a new caption
// repaints only the part of the box where it differs from what is shown: the
// seconds of a clock, not the whole clock. A caption changed and changed back
// within one event (the clock's "a" read back as 午前) repaints nothing.
class Label final : public QWidget
{
    Q_OBJECT

public:
    explicit Label(QWidget *parent = nullptr);
    ~Label() override;

    QString caption() const { return m_caption; }
    void setCaption(const QString &caption);

    // While one lives, changed captions wait for its end to be looked at,
    // instead of an event posted for them.
    class CaptionBatch
    {
    public:
        CaptionBatch() { ++s_batches; }
        ~CaptionBatch();
        CaptionBatch(const CaptionBatch &) = delete;
        CaptionBatch &operator=(const CaptionBatch &) = delete;
    };

    OleColor foreColor() const { return m_foreColor; }
    void setForeColor(OleColor colour);

    // Transparent labels paint only their text.
    bool isTransparent() const { return m_transparent; }
    void setTransparent(bool transparent);
    void setBackColor(OleColor colour);

    // The lines as the label shows them, before cutting at the bottom.
    QStringList lines() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    struct Layout;
    bool hasLayoutOf(const QString &caption) const;
    const Layout &layout() const;
    static void repaintChangedLabels();
    static inline int s_batches = 0;
    void repaintChanges();
    QRect changedArea(const Layout &before, const Layout &after) const;

    QString m_caption;
    // What the screen shows, or will once the pending paint is done.
    QString m_shownCaption;
    bool m_checkPending = false;
    OleColor m_foreColor = systemColor(18);
    OleColor m_backColor = systemColor(15);
    bool m_transparent = true;
    mutable std::unique_ptr<Layout> m_layout;
    // The label's face, for text that needs no layout of Qt's.
    mutable std::unique_ptr<std::pair<QFont, QRawFont>> m_face;
};

class Picture final : public QWidget
{
    Q_OBJECT

public:
    explicit Picture(const QString &path, QWidget *parent = nullptr);
    const QPixmap &pixmap() const { return m_pixmap; }
    QSize sizeHint() const override { return m_pixmap.size(); }

Q_SIGNALS:
    void clicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QPixmap m_pixmap;
};

// The message-board box: one line of plain text. A line break that arrives by
// paste, drop or input method becomes a space, so that nothing typed is lost
// when only the first line of the saved file is read back.
class RichTextBox final : public QLineEdit
{
    Q_OBJECT

public:
    explicit RichTextBox(QWidget *parent = nullptr);

    // A text set here is handed back unchanged until the user edits it, even
    // if showing it on one line meant replacing line feeds.
    void setPlainText(const QString &text);
    QString plainText() const;

    // Typing or pasting that would make the text longer than the limit, by
    // the given measure, is refused whole: the box beeps and says the words.
    using Measure = qsizetype (*)(QStringView text);
    void setLengthLimit(qsizetype limit, Measure measure, const QString &words);

Q_SIGNALS:
    void inputRefused();

private:
    friend class OneLineValidator;
    bool refuses(QStringView text) const;
    void sayRefused();

    QString m_setText;
    QString m_shownText;
    QString m_before;
    qsizetype m_limit = -1;
    Measure m_measure = nullptr;
    QString m_refusal;
    bool m_setting = false;
    bool m_refusalDue = false;
};

// A top-level window whose background is a picture at natural size from the
// client area's top-left corner.
class PictureWindow final : public QWidget
{
    Q_OBJECT

public:
    explicit PictureWindow(const QString &picture);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPixmap m_picture;
};

// A top-level window without title bar that draws its own fixed 3-pixel
// dialog frame, so that the client area sits exactly where it is placed
// whatever the window manager's decorations look like.
class FramedWindow final : public QWidget
{
    Q_OBJECT

public:
    static constexpr int FrameWidth = 3;

    explicit FramedWindow(const QSize &clientSize);
    QWidget *client() const { return m_client; }
    // Places the client area's top-left corner on the screen.
    void placeClientAt(const QPoint &screenPos);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QWidget *m_client;
};

} // namespace himekuri
