#pragma once

#include <QWidget>

namespace himekuri {

// The embedded browser pane.
class WebBrowser final : public QWidget
{
    Q_OBJECT

public:
    explicit WebBrowser(QWidget *parent = nullptr);
    ~WebBrowser() override;

    // Shows a web page (http or https URL) or a local picture (a file path).
    // Returns at once; the content arrives later.
    void Navigate(const QString &target);

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace himekuri
