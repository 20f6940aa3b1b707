#include "webbrowser.h"

#include <QPainter>

namespace himekuri {

WebBrowser::WebBrowser(QWidget *parent)
    : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
}

WebBrowser::~WebBrowser() = default;

void WebBrowser::Navigate(const QString &)
{
}

void WebBrowser::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Base));
}

} // namespace himekuri
