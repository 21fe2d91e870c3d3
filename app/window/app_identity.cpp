// The application's title and its drawn icon.
#include "app/window/app_identity.h"

#include <QPainter>
#include <QPixmap>

namespace kavrimo {

QString TitleFromExecutable(const QString& executable_path) {
  QString name = executable_path.mid(executable_path.lastIndexOf(QLatin1Char('/')) + 1);
  if (const qsizetype dot = name.indexOf(QLatin1Char('.')); dot >= 0) name.truncate(dot);
  if (name.isEmpty()) return name;
  return name.left(1).toUpper() + name.mid(1).toLower();
}

QIcon ApplicationIcon() {
  // Colours of the classic sixteen-colour palette.
  const QColor navy(0, 0, 128), teal(0, 128, 128), green(0, 128, 0), olive(128, 128, 0), maroon(128, 0, 0),
      yellow(255, 255, 0), silver(192, 192, 192), grey(128, 128, 128), white(255, 255, 255), black(0, 0, 0);
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setPen(Qt::NoPen);
  // Upper left: the float grid, a 3 x 3 patch of elevation colours.
  const QColor grid[3][3] = {{navy, teal, green}, {teal, green, olive}, {green, olive, maroon}};
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 3; ++column) {
      painter.fillRect(2 + column * 6, 2 + row * 6, 6, 6, grid[row][column]);
    }
  }
  // Lower right: the 8-bit image, the same patch in greys.
  const QColor image[3][3] = {{black, grey, grey}, {grey, grey, silver}, {grey, silver, white}};
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 3; ++column) {
      painter.fillRect(12 + column * 6, 12 + row * 6, 6, 6, image[row][column]);
    }
  }
  painter.setPen(black);
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(1, 1, 19, 19);
  painter.drawRect(11, 11, 19, 19);
  // The arrow from grid to image.
  painter.setPen(QPen(yellow, 2));
  painter.drawLine(22, 4, 28, 4);
  painter.drawLine(28, 4, 28, 9);
  painter.setPen(Qt::NoPen);
  painter.setBrush(yellow);
  const QPoint head[3] = {QPoint(25, 8), QPoint(31, 8), QPoint(28, 11)};
  painter.drawPolygon(head, 3);
  painter.end();
  return QIcon(pixmap);
}

}  // namespace kavrimo
