// The pictures of the main window, drawn at run time: the banner at the
// foot of the window and the notice button's envelope.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>

namespace cau {

QPixmap DrawBanner(QSize size);
QIcon DrawNoticeIcon();

}  // namespace cau
